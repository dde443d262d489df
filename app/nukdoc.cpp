// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/nukdoc.h"

#include "capture/process/process.h"
#include "capture/fdio.h"
#include "capture/settings.h"
#include "capture/tmpfiles.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

bool NUKDoc::saveAs(const QString& name)
{
    if (name.isEmpty())
        return false;
    g_SaveFileName = name;
    if (!g_SaveFileName.endsWith(QStringLiteral(".tr"), Qt::CaseSensitive))
        g_SaveFileName += QStringLiteral(".tr");

    m_refusal.clear();
    const char* traceFile = NUK_Default_Trace_File ? NUK_Default_Trace_File : setNukDefaultTraceFile();
    // The trace lives in /tmp, where anyone may plant a link, a FIFO or a file of
    // their own under its name: only a regular file of ours is copied.
    const int from = traceFile ? tmpfiles::openOwnedForReading(traceFile) : -1;
    if (from < 0) {
        if (traceFile && (errno == EPERM || tmpfiles::isForeign(traceFile)))
            m_refusal = QFile::decodeName(traceFile) + QStringLiteral(" is not a trace file of yours; nothing saved");
        else
            std::perror("error open NUKDefaultTraceFile");
        return false;
    }
    const off_t size = ::lseek(from, 0, SEEK_END);
    ::lseek(from, 0, SEEK_SET);

    const QByteArray target = QFile::encodeName(g_SaveFileName);
    const int to = ::open(target.constData(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) {
        std::perror("\tSaveAsFile Error ");
        ::close(from);
        return false;
    }
    const bool ok = copy(from, to, size);
    ::close(from);
    ::close(to);
    return ok;
}

// Copies exactly `size` bytes (what the file held when the copy began), even while
// the helper goes on appending to it.
bool NUKDoc::copy(int from, int to, off_t size)
{
    char piece[kPieceSize];
    off_t left = size;
    while (left > 0) {
        const std::size_t want = std::min<std::size_t>(kPieceSize, std::size_t(left));
        ssize_t got;
        do {
            got = ::read(from, piece, want);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            break;
        if (!writeFully(to, piece, std::size_t(got))) {
            std::perror("\tSaveAsFile Error ");
            return false;
        }
        left -= got;
        if (m_observer)
            m_observer(std::size_t(got));
    }
    return true;
}
