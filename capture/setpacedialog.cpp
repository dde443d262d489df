// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/setpacedialog.h"

#include "capture/scheduler.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

SetPaceDialog::SetPaceDialog(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SetPaceDialog"));
    setWindowTitle(QStringLiteral("Set Display Pace Dialog"));
    resize(409, 202);
    // The fixed geometry below is laid out for 12-pixel text; a 12-point font on a
    // 96 dpi screen would be cut off in the 32-pixel rows.
    QFont small = font();
    small.setPixelSize(12);
    setFont(small);

    m_pRatioGroup = new QGroupBox(QStringLiteral("Pace Ratio"), this);
    m_pRatioGroup->setGeometry(20, 10, 370, 61);
    auto* ratioRow = new QWidget(m_pRatioGroup);
    ratioRow->setGeometry(30, 20, 330, 32);
    auto* ratioLayout = new QHBoxLayout(ratioRow);
    ratioLayout->setSpacing(6);
    ratioLayout->setContentsMargins(0, 0, 0, 0);
    ratioLayout->addWidget(new QLabel(QStringLiteral("1 millisecond interval \nin network running"), ratioRow));
    auto* equals = new QLabel(QStringLiteral("="), ratioRow);
    equals->setAlignment(Qt::AlignCenter);
    ratioLayout->addWidget(equals);
    m_pPaceEdit = new QLineEdit(QStringLiteral("1"), ratioRow);
    m_pPaceEdit->setObjectName(QStringLiteral("paceEdit"));
    m_pPaceEdit->setAlignment(Qt::AlignCenter);
    // Typed values are held to the slider's range; Return is OK.
    m_pPaceEdit->setValidator(new QIntValidator(0, 2000, m_pPaceEdit));
    ratioLayout->addWidget(m_pPaceEdit);
    ratioLayout->addWidget(new QLabel(QStringLiteral("millisecond\nin displaying"), ratioRow));
    // Two lines of some fonts need more than the row's 32 pixels: the row, its group
    // and everything below grow by what they need.
    const int rowExtra = std::max(0, ratioLayout->sizeHint().height() - 32);
    ratioRow->resize(330, 32 + rowExtra);
    m_pRatioGroup->resize(370, 61 + rowExtra);

    auto* sliderRow = new QWidget(this);
    sliderRow->setGeometry(20, 80 + rowExtra, 370, 18);
    auto* sliderLayout = new QHBoxLayout(sliderRow);
    sliderLayout->setSpacing(6);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    sliderLayout->addWidget(new QLabel(QStringLiteral("0"), sliderRow));
    m_pSlider = new QSlider(Qt::Horizontal, sliderRow);
    m_pSlider->setObjectName(QStringLiteral("paceSlider"));
    m_pSlider->setRange(0, 2000);
    m_pSlider->setValue(1);
    m_pSlider->setSingleStep(1);
    m_pSlider->setPageStep(1);
    sliderLayout->addWidget(m_pSlider);
    sliderLayout->addWidget(new QLabel(QStringLiteral("2000"), sliderRow));

    m_pUsage = new QLabel(this);
    m_pUsage->setTextFormat(Qt::RichText);
    m_pUsage->setWordWrap(true);
    m_pUsage->setText(QStringLiteral(
        "Usage: This dialog is used to control packet divery speed \nin the step mode. If the pace is "
        "set large enough, you can see \nthe animation of packets flow in the machine distribution view."));
    // The text takes four lines where 40 pixels hold three: the label, the buttons
    // below it and the dialog grow by what the text needs.
    const int extra = std::max(0, m_pUsage->heightForWidth(350) - 40) + rowExtra;
    m_pUsage->setGeometry(20, 107 + rowExtra, 350, 40 + extra - rowExtra);
    resize(409, 202 + extra);

    m_pOkButton = new QPushButton(QStringLiteral("OK"), this);
    m_pOkButton->setGeometry(240, 160 + extra, 70, 28);
    m_pCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancelButton->setGeometry(320, 160 + extra, 70, 28);

    connect(m_pSlider, &QSlider::valueChanged, this, &SetPaceDialog::Changed);
    connect(m_pPaceEdit, &QLineEdit::textEdited, this, &SetPaceDialog::Typed);
    connect(m_pPaceEdit, &QLineEdit::returnPressed, this, &SetPaceDialog::OK);
    connect(m_pOkButton, &QPushButton::clicked, this, &SetPaceDialog::OK);
    connect(m_pCancelButton, &QPushButton::clicked, this, &SetPaceDialog::Cancel);
}

void SetPaceDialog::Changed(int value)
{
    m_nPace = value;
    m_pPaceEdit->setText(QString::number(value));
}

// The slider follows a typed value without writing the field back under the cursor.
void SetPaceDialog::Typed(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return;
    const QSignalBlocker quiet(m_pSlider);
    m_pSlider->setValue(value);
}

void SetPaceDialog::OK()
{
    m_nPace = std::clamp(m_pPaceEdit->text().toInt(), 0, 2000);  // not a number: 0
    g_Scheduler.SetPace(float(m_nPace));
    hide();
}

void SetPaceDialog::Cancel() { hide(); }
