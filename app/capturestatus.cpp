// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/capturestatus.h"

#include "capture/controlpanel.h"
#include "capture/settings.h"

#include <QColor>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

namespace {
constexpr int kReplaySteps = 1000;
}

CaptureStatus::CaptureStatus(QStatusBar* bar) : QObject(bar)
{
    m_mode = new QLabel(bar);
    m_replay = new QProgressBar(bar);
    m_replay->setRange(0, kReplaySteps);
    m_replay->setMaximumWidth(90);
    m_replay->setToolTip(QStringLiteral("Share of the trace replayed"));
    m_count = new QLabel(bar);
    m_count->setToolTip(QStringLiteral("Packets delivered to the views since Start"));
    m_count->setContentsMargins(8, 0, 0, 0);  // apart from a message cut off at its left
    m_loss = new QLabel(bar);
    m_loss->setTextFormat(Qt::RichText);
    m_loss->setToolTip(QStringLiteral("Packets the capture took from the kernel, and those the kernel dropped "
                                      "because the capture buffer was full (NUK_BUFFER_MB sets its size)"));
    bar->addPermanentWidget(m_count);
    bar->addPermanentWidget(m_loss);
    bar->addPermanentWidget(m_replay);
    bar->addPermanentWidget(m_mode);
    m_count->hide();
    m_loss->hide();
    m_replay->hide();
    m_mode->hide();
    // Helper messages can be longer than the narrow window.
    connect(bar, &QStatusBar::messageChanged, bar, [bar](const QString& text) { bar->setToolTip(text); });
}

void CaptureStatus::show(const CaptureProgress& progress)
{
    m_count->setText(progress.delivered == 1 ? QStringLiteral("1 packet")
                                             : QStringLiteral("%1 packets").arg(progress.delivered));
    m_count->show();
    const bool replaying = progress.running && progress.replay && !progress.finished;
    if (replaying) {
        if (progress.share < 0)
            m_replay->setRange(0, 0);  // a trace without a size: busy, no share
        else {
            m_replay->setRange(0, kReplaySteps);
            m_replay->setValue(int(progress.share * kReplaySteps));
        }
    }
    m_replay->setVisible(replaying);
    showLoss(progress);
    showMode(progress.running);
}

QColor CaptureStatus::warningColor() { return QColor(0xc0, 0x00, 0x00); }

// A live capture's counts stay after Stop: a capture that lost packets must not
// look complete.
void CaptureStatus::showLoss(const CaptureProgress& progress)
{
    m_loss->setVisible(progress.counted);
    if (!progress.counted)
        return;
    const auto count = [](std::uint64_t n, const QString& what) {
        const QString text = QStringLiteral("%1 %2").arg(n).arg(what);
        return n == 0 ? text
                      : QStringLiteral("<span style=\"color:%1\">%2</span>").arg(warningColor().name(), text);
    };
    QString text = QStringLiteral("%1 %2 captured, ")
                       .arg(progress.captured)
                       .arg(progress.captured == 1 ? QStringLiteral("packet") : QStringLiteral("packets")) +
                   count(progress.kernelDrops, QStringLiteral("dropped by the kernel"));
    if (progress.interfaceDrops)
        text += QStringLiteral(", ") + count(progress.interfaceDrops, QStringLiteral("dropped by the interface"));
    m_loss->setText(text);
}

// Only while a capture runs: it is about why its packets come slowly or not at all.
void CaptureStatus::showMode(bool running)
{
    const float pace = g_TimeDelayRatio.load();
    if (running && g_bPureStepMode) {
        m_mode->setText(QStringLiteral("Step mode"));
        m_mode->setToolTip(QStringLiteral("Each packet waits for Step (F11)"));
    } else if (running && pace != 0) {
        const QString ratio = QString::number(double(pace), 'g', 6);
        m_mode->setText(QStringLiteral("Pace 1:%1").arg(ratio));
        m_mode->setToolTip(QStringLiteral("Packets keep their captured spacing, stretched %1 times "
                                          "(Set Display Pace ...; 0 shows them at once)")
                               .arg(ratio));
    }
    m_mode->setVisible(running && (g_bPureStepMode || pace != 0));
}
