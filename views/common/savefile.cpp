// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/common/savefile.h"

#include "capture/fdio.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool saveUserFile(const QString& fileName, const QByteArray& data, QString* error)
{
    const QByteArray path = QFile::encodeName(fileName);
    const auto fail = [&](int err) {
        if (error)
            *error = fileName + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
        return false;
    };
    const auto notRegular = [&] {
        if (error)
            *error = fileName + QStringLiteral(": not a regular file; nothing saved");
        return false;
    };
    // O_NONBLOCK: opening a FIFO with no reader must not hang; it is refused below.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == ENXIO ? notRegular() : fail(errno);  // ENXIO: a FIFO nobody reads
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0 ||
        !writeFully(fd, data.constData(), std::size_t(data.size()))) {
        const int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (::close(fd) != 0)
        return fail(errno);
    return true;
}
