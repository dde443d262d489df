// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The IPv6 address text that is widest in a font: eight groups of four of its widest
// hex digit. Columns and labels that must hold any address measure this.

#include <QByteArrayView>
#include <QFontMetrics>
#include <QStringList>
#include <QString>

inline QString widestIPv6Address(const QFontMetrics& metrics)
{
    QChar widest = QLatin1Char('0');
    for (const char c : QByteArrayView("0123456789abcdef"))
        if (metrics.horizontalAdvance(QLatin1Char(c)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(c);
    const QString group(4, widest);
    return QStringList(8, group).join(QLatin1Char(':'));
}
