// SPDX-License-Identifier: GPL-2.0-or-later
// The main of every test program: runs each registered class with QTest::qExec.
// "prog Class [qtest options]" runs only that class.

#include "common/testmain.h"

#ifdef NUK_TEST_GUI
#include <QApplication>
#endif
#include <QCoreApplication>
#include <QtTest>

int main(int argc, char** argv)
{
#ifdef NUK_TEST_GUI
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
#else
    QCoreApplication app(argc, argv);
#endif
    QStringList args = app.arguments();
    const QString only = args.size() > 1 && !args[1].startsWith(QLatin1Char('-')) ? args.takeAt(1) : QString();
    int failed = 0, ran = 0;
    for (const auto& [name, make] : testmain::classes()) {
        if (!only.isEmpty() && only != QLatin1String(name))
            continue;
        ++ran;
        failed += QTest::qExec(make().get(), args) != 0;
    }
    return ran == 0 || failed != 0 ? 1 : 0;
}
