// SPDX-License-Identifier: GPL-2.0-or-later
// The socket pipe reader on its own: whole records in order, nothing read while
// collecting is off, no spinning, drains that drop cut records, the end of the
// stream. Ending while a read is under way is in the socket dialog's test.

#include "config/sockettext.h"
#include "common/testmain.h"
#include "config/sockreader.h"
#include "sockrecord.h"

#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
int bytesInPipe(int fd)
{
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
}

// Processor time used over `ms` of waiting.
double cpuSecondsOver(int ms)
{
    timespec a, b;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    QTest::qSleep(ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) / 1e9;
}

const SockInfo kA = makeSockInfo(6, "1.1.1.1", 1, "2.2.2.2", 2, "A", "a");
const SockInfo kB = makeSockInfo(0, "3.3.3.3", 3, "4.4.4.4", 4, "B", "b");
}  // namespace

class SockReaderTest : public QObject {
    Q_OBJECT
    int m_pipe[2] = {-1, -1};
    std::mutex m_mutex;
    QStringList m_locals;  // local address of each record handed over

    void writeBytes(const void* data, std::size_t size) { QCOMPARE(::write(m_pipe[1], data, size), ssize_t(size)); }
    SockReader::Sink sink()
    {
        return [this](const SockInfo& info) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_locals << socketRow(info).local;
        };
    }
    QStringList received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_locals;
    }

private slots:
    void init()
    {
        QCOMPARE(pipe2(m_pipe, O_CLOEXEC), 0);
        m_locals.clear();
    }
    void cleanup()
    {
        for (int& fd : m_pipe)
            if (fd >= 0)
                ::close(fd), fd = -1;
    }

    void recordsArriveWholeAndInOrderWithoutSpinning()
    {
        SockReader reader(m_pipe[0], sink());
        QVERIFY(reader.started());
        reader.setCollecting(true);
        QVERIFY2(cpuSecondsOver(300) < 0.1, "a waiting reader keeps the processor busy");
        // A record in two pieces, then the next one.
        writeBytes(&kA, 40);
        QTest::qWait(50);
        QVERIFY(received().isEmpty());
        writeBytes(reinterpret_cast<const char*>(&kA) + 40, sizeof kA - 40);
        writeBytes(&kB, sizeof kB);
        QTRY_COMPARE(received(), QStringList({"1.1.1.1:1", "3.3.3.3:3"}));
    }

    void drainDropsACutRecord()
    {
        SockReader reader(m_pipe[0], sink());
        reader.setCollecting(true);
        writeBytes(&kA, 30);
        QTRY_COMPARE(bytesInPipe(m_pipe[0]), 0);  // the reader holds the piece
        writeBytes(reinterpret_cast<const char*>(&kA) + 30, 10);
        bool ranLocked = false;
        reader.drain([&] { ranLocked = true; });
        QVERIFY(ranLocked);
        QCOMPARE(bytesInPipe(m_pipe[0]), 0);
        writeBytes(&kB, sizeof kB);
        QTRY_COMPARE(received(), QStringList({"3.3.3.3:3"}));
    }

    void partialRecordAtEndIsDropped()
    {
        SockReader reader(m_pipe[0], sink());
        reader.setCollecting(true);
        writeBytes(&kA, sizeof kA);
        writeBytes(&kA, 10);
        ::close(m_pipe[1]);
        m_pipe[1] = -1;
        QTRY_VERIFY(reader.atEnd());
        QCOMPARE(received().size(), 1);
        QVERIFY2(cpuSecondsOver(200) < 0.1, "the reader spins after the end of the stream");

        SockReader bad(-1, sink());  // a bad descriptor ends reading too
        bad.setCollecting(true);
        QTest::qWait(50);
        bad.drain();
        QCOMPARE(received().size(), 1);
    }
};

NUK_TEST_CLASS(SockReaderTest)
#include "tst_sockreader.moc"
