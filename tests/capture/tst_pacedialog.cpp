// The pace dialog: texts, and what its slots do to the pace.

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
    void texts()
    {
        SetPaceDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Set Display Pace Dialog"));
        QCOMPARE(dialog.width(), 409);
        QVERIFY(dialog.height() >= 202);  // taller where the usage text needs it
        QCOMPARE(dialog.findChild<QGroupBox*>()->title(), QStringLiteral("Pace Ratio"));
        QStringList labels;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            labels << label->text();
        for (const char* text : {"1 millisecond interval \nin network running", "=", "millisecond\nin displaying", "0",
                                 "2000",
                                 "Usage: This dialog is used to control packet divery speed \nin the step mode. If the "
                                 "pace is set large enough, you can see \nthe animation of packets flow in the machine "
                                 "distribution view."})
            QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
        QStringList buttons;
        for (QPushButton* b : dialog.findChildren<QPushButton*>())
            buttons << b->text();
        QCOMPARE(buttons, QStringList({"OK", "Cancel"}));
        QCOMPARE(dialog.paceEdit()->text(), QStringLiteral("1"));
        QCOMPARE(dialog.paceSlider()->value(), 1);
        QCOMPARE(dialog.paceSlider()->maximum(), 2000);
    }

    void slotsSetThePace()
    {
        g_TimeDelayRatio = 1.0f;
        SetPaceDialog dialog;
        dialog.show();
        dialog.paceSlider()->setValue(500);
        QCOMPARE(dialog.paceEdit()->text(), QStringLiteral("500"));
        QTest::mouseClick(dialog.findChildren<QPushButton*>().value(0), Qt::LeftButton);  // OK
        QCOMPARE(g_TimeDelayRatio.load(), 500.0f);
        QVERIFY(dialog.isHidden());
        QCOMPARE(dialog.pace(), 500);

        dialog.paceSlider()->setValue(40);
        dialog.Cancel();
        QCOMPARE(g_TimeDelayRatio.load(), 500.0f);  // Cancel changes nothing
        QVERIFY(dialog.isHidden());
        dialog.paceEdit()->setText(QStringLiteral("fast"));
        dialog.OK();
        QCOMPARE(g_TimeDelayRatio.load(), 0.0f);  // not a number: 0
        dialog.paceEdit()->setText(QStringLiteral("250"));
        dialog.OK();
        QCOMPARE(g_TimeDelayRatio.load(), 250.0f);
    }
};

QTEST_MAIN(TestPaceDialog)
#include "tst_pacedialog.moc"
