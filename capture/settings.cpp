// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/settings.h"

QString expression;
QString g_FileName;
QString g_SaveFileName;
int deviceFlag = 0;
int nukOpMode = 0;
std::atomic<bool> ValidWizard{false};
std::atomic<bool> g_bPureStepMode{false};
std::atomic<bool> g_bStepIt{false};
std::atomic<float> g_TimeDelayRatio{1.0f};
QString nukAppFile;
