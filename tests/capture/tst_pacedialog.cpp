// The pace dialog: texts, geometry, and what its slots do to the pace.

#include "capture/scheduler.h"
#include "capture/setpacedialog.h"
#include "capture/settings.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

class TestPaceDialog : public QObject {
    Q_OBJECT
private slots:
    void layoutAndTexts();
    void sliderThenOkSetsPace();
    void typedTextAndCancel();
};

void TestPaceDialog::layoutAndTexts()
{
    SetPaceDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("SetPaceDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Set Display Pace Dialog"));
    QCOMPARE(dialog.size(), QSize(409, 202));
    QVERIFY(dialog.isWindow());

    auto* group = dialog.findChild<QGroupBox*>();
    QVERIFY(group);
    QCOMPARE(group->title(), QStringLiteral("Pace Ratio"));
    QCOMPARE(group->geometry(), QRect(20, 10, 370, 61));

    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    for (const char* text : {"1 millisecond interval \nin network running", "=", "millisecond\nin displaying", "0",
                             "2000"})
        QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
    const QString usage = QStringLiteral(
        "Usage: This dialog is used to control packet divery speed \nin the step mode. If the pace is set large "
        "enough, you can see \nthe animation of packets flow in the machine distribution view.");
    QVERIFY(labels.contains(usage));
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == usage) {
            QCOMPARE(label->geometry(), QRect(20, 107, 350, 40));
            QCOMPARE(label->textFormat(), Qt::RichText);
        }
    }

    QLineEdit* edit = dialog.paceEdit();
    QCOMPARE(edit->text(), QStringLiteral("1"));
    QCOMPARE(edit->alignment(), Qt::AlignCenter);
    QCOMPARE(edit->focusPolicy(), Qt::NoFocus);
    QCOMPARE(edit->parentWidget()->geometry(), QRect(30, 20, 330, 32));
    QCOMPARE(edit->parentWidget()->parentWidget(), group);

    QSlider* slider = dialog.paceSlider();
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 2000);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->pageStep(), 1);
    QCOMPARE(slider->parentWidget()->geometry(), QRect(20, 80, 370, 18));

    QMap<QString, QRect> buttons;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        buttons.insert(b->text(), b->geometry());
    QCOMPARE(buttons.value(QStringLiteral("OK")), QRect(240, 160, 70, 28));
    QCOMPARE(buttons.value(QStringLiteral("Cancel")), QRect(320, 160, 70, 28));
}

void TestPaceDialog::sliderThenOkSetsPace()
{
    g_TimeDelayRatio = 1.0f;
    SetPaceDialog dialog;
    dialog.show();
    dialog.paceSlider()->setValue(500);
    QCOMPARE(dialog.paceEdit()->text(), QStringLiteral("500"));
    QPushButton* ok = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == QLatin1String("OK"))
            ok = b;
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.pace(), 500);
}

void TestPaceDialog::typedTextAndCancel()
{
    SetPaceDialog dialog;
    g_TimeDelayRatio = 3.0f;
    dialog.paceSlider()->setValue(40);
    dialog.Cancel();
    QCOMPARE(g_TimeDelayRatio.load(), 3.0f);  // Cancel changes nothing
    QVERIFY(dialog.isHidden());

    dialog.paceEdit()->setText(QStringLiteral("fast"));
    dialog.OK();
    QCOMPARE(g_TimeDelayRatio.load(), 0.0f);  // not a number: 0
    dialog.paceEdit()->setText(QStringLiteral("250"));
    dialog.OK();
    QCOMPARE(g_TimeDelayRatio.load(), 250.0f);
}

QTEST_MAIN(TestPaceDialog)
#include "tst_pacedialog.moc"
