// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writing a file the user named: created 0666 less the umask like any new file, an
// existing regular file replaced, but never through a symbolic link and never into
// a FIFO or device (which could block the GUI for ever).

#include <QByteArray>
#include <QString>

// False with a one-line reason in `error` ("<name>: <reason>").
bool saveUserFile(const QString& fileName, const QByteArray& data, QString* error);
