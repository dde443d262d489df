// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/mainwindowfactory.h"

#include "app/nuk.h"

QWidget* createMainWindow(const char* traceFile)
{
    return new NUK(traceFile ? QString::fromLocal8Bit(traceFile) : QString());
}
