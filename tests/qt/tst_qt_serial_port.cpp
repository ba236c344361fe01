// The real serial port on pseudo-terminals: the test holds the master side and plays the
// emulator, the port under test opens the slave side by its path.

#include "LineErrorCounters.h"
#include "PtyDevice.h"
#include "QtSerialPort.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <memory>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace tilu;
using namespace tilu::testing;
using namespace std::chrono_literals;

namespace {

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

// The start-up OSG write frame and the emulator's confirmation of it.
const QByteArray kWriteFrame = Hex("CA D3 B9 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");
const QByteArray kWriteReply = Hex("CA D3 B9 81");

QByteArray Pattern(int count) {
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    }
    return bytes;
}

std::chrono::nanoseconds ProcessCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Waits for the port to count the bytes without letting the event loop run, as a handler that
// blocks the user-interface thread would.
qint64 CountWithoutEvents(ISerialPort& port, qint64 expected) {
    QElapsedTimer clock;
    clock.start();
    qint64 count = port.waitingByteCount();
    while (count < expected && clock.elapsed() < 2000) {
        QThread::msleep(10);
        count = port.waitingByteCount();
    }
    return count;
}

// Line-error counters that the test turns by hand.
class FakeLineErrorCounters final : public ILineErrorCounters {
public:
    explicit FakeLineErrorCounters(const std::optional<TLineErrorCounts>& counts)
        : counts_(counts) {}
    std::optional<TLineErrorCounts> read(TPortHandle) override { return counts_; }

private:
    const std::optional<TLineErrorCounts>& counts_;
};

} // namespace

Q_DECLARE_METATYPE(tilu::TLineErrorCounts)

class TestQtSerialPort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensWithTheLineSettings();
    void transfersBytesBothWays();
    void refusesASecondOpenOfTheSamePort();
    void failsOnAMissingDevice_data();
    void failsOnAMissingDevice();
    void reopensUnderAnotherName();
    void countsWaitingBytesWhileTheEventLoopIsBlocked();
    void readsWaitingBytesInParts_data();
    void readsWaitingBytesInParts();
    void purgeDiscardsWaitingBytesAndKeepsListening();
    void purgeBeforeQtReadsIsNoDeviceLoss();
    void announcesCharactersWithoutTakingThem();
    void deliversNoEventWhileAHandlerRuns();
    void writeIsBoundedByItsTimeout();

    void grownLineErrors_data();
    void grownLineErrors();
    void lineErrorComesBeforeTheCharacters();
    void lineErrorWhileAReplyIsAwaited();
    void lineErrorsAreNotWatchedWhileIdle();
    void pseudoTerminalHasNoLineErrorCounters();

    void deviceLossClosesThePortOnce();
    void deviceLossWhenTheSocatPeerIsKilled();

private:
    void record(QtSerialPort& port);
    bool openPort();

    std::unique_ptr<PtyDevice> peer_;
    std::optional<TLineErrorCounts> counts_;
    std::unique_ptr<QtSerialPort> port_;
    QStringList events_;
    QString lostReason_;
};

void TestQtSerialPort::init() {
    peer_ = std::make_unique<PtyDevice>();
    QVERIFY2(peer_->ok(), "no pseudo-terminal");
    counts_ = TLineErrorCounts{};
    port_ = std::make_unique<QtSerialPort>(std::make_unique<FakeLineErrorCounters>(counts_));
    events_.clear();
    lostReason_.clear();
    record(*port_);
}

void TestQtSerialPort::cleanup() {
    port_.reset();
    peer_.reset();
}

void TestQtSerialPort::record(QtSerialPort& port) {
    connect(&port, &ISerialPort::rxChar, this,
            [this](qint64 count) { events_ << QStringLiteral("rxChar %1").arg(count); });
    connect(&port, &ISerialPort::lineError, this,
            [this](TComErrors errors) { events_ << QStringLiteral("lineError %1").arg(errors); });
    connect(&port, &ISerialPort::deviceLost, this, [this](const QString& reason) {
        events_ << QStringLiteral("deviceLost");
        lostReason_ = reason;
    });
}

bool TestQtSerialPort::openPort() {
    const bool opened = port_->open(peer_->path());
    if (!opened) {
        qWarning() << "open failed:" << port_->errorText();
    }
    return opened;
}

void TestQtSerialPort::opensWithTheLineSettings() {
    QVERIFY(openPort());
    QVERIFY(port_->isOpen());
    QCOMPARE(port_->portName(), peer_->path());

    const std::optional<termios> line = peer_->lineSettings();
    QVERIFY(line);
    QCOMPARE(cfgetispeed(&*line), speed_t(B9600));
    QCOMPARE(cfgetospeed(&*line), speed_t(B9600));
    // A pseudo-terminal pins 8 data bits without parity whatever it is asked; these two
    // checks bite on a real port only.
    QCOMPARE(line->c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line->c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(line->c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(line->c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(line->c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(line->c_lflag & (ICANON | ECHO), tcflag_t(0));
    QVERIFY(line->c_cflag & CREAD);
}

void TestQtSerialPort::transfersBytesBothWays() {
    QVERIFY(openPort());

    QVERIFY(port_->writeBytes(kWriteFrame));
    QCOMPARE(peer_->receive(17), Hex("CA D3 B9 88 88 06 32 1E 09 01 37 14 05 00 00 00 00"));

    QVERIFY(peer_->send(kWriteReply));
    QTRY_COMPARE(port_->waitingByteCount(), qint64(4));
    QCOMPARE(port_->readBytes(4), Hex("CA D3 B9 81"));
    QCOMPARE(port_->waitingByteCount(), qint64(0));
}

void TestQtSerialPort::refusesASecondOpenOfTheSamePort() {
    QVERIFY(openPort());

    QtSerialPort second;
    QVERIFY(!second.open(peer_->path()));
    QVERIFY(!second.isOpen());
    QVERIFY(!second.errorText().isEmpty());

    QVERIFY(port_->isOpen());
    QVERIFY(port_->writeBytes(kWriteReply));
    QCOMPARE(peer_->receive(4), kWriteReply);
}

void TestQtSerialPort::failsOnAMissingDevice_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("device path") << QStringLiteral("/dev/tilu-no-such-port");
    QTest::newRow("system port name") << QStringLiteral("ttyTILU_NO_SUCH_PORT");
}

void TestQtSerialPort::failsOnAMissingDevice() {
    QFETCH(QString, name);
    QVERIFY(!port_->open(name));
    QVERIFY(!port_->isOpen());
    QVERIFY(!port_->errorText().isEmpty());

    QVERIFY(!port_->writeBytes(kWriteFrame));
    QVERIFY(!port_->purgeQueues());
    QVERIFY(!port_->errorText().isEmpty());
    QCOMPARE(port_->waitingByteCount(), qint64(0));
    QVERIFY(port_->readBytes(10).isEmpty());
}

void TestQtSerialPort::reopensUnderAnotherName() {
    PtyDevice other;
    QVERIFY(other.ok());
    QVERIFY(openPort());

    QVERIFY(port_->open(other.path()));
    QCOMPARE(port_->portName(), other.path());

    // The first device is free again.
    QtSerialPort second;
    QVERIFY2(second.open(peer_->path()), qPrintable(second.errorText()));

    QVERIFY(port_->writeBytes(kWriteReply));
    QCOMPARE(other.receive(4), kWriteReply);
    QVERIFY(peer_->receive(1, 100).isEmpty());
}

void TestQtSerialPort::countsWaitingBytesWhileTheEventLoopIsBlocked() {
    QVERIFY(openPort());

    // As in the receive handler: the first bytes, then a blocking wait, then count and read.
    QVERIFY(peer_->send(Hex("CAD3BA81")));
    QThread::msleep(50);
    QVERIFY(peer_->send(Hex("0102")));
    QThread::msleep(50);

    QCOMPARE(CountWithoutEvents(*port_, 6), qint64(6));
    QCOMPARE(port_->readBytes(6), Hex("CAD3BA810102"));
    QCOMPARE(port_->waitingByteCount(), qint64(0));
}

void TestQtSerialPort::readsWaitingBytesInParts_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("eventLoopRuns");
    QTest::newRow("300 bytes, loop blocked") << 300 << false;
    QTest::newRow("600 bytes, loop running") << 600 << true;
    QTest::newRow("3000 bytes, more than Qt buffers") << 3000 << true;
}

void TestQtSerialPort::readsWaitingBytesInParts() {
    QFETCH(int, count);
    QFETCH(bool, eventLoopRuns);
    QVERIFY(openPort());

    const QByteArray sent = Pattern(count);
    QVERIFY(peer_->send(sent));
    if (eventLoopRuns) {
        QTRY_COMPARE(port_->waitingByteCount(), qint64(count));
    } else {
        QCOMPARE(CountWithoutEvents(*port_, count), qint64(count));
    }
    QCOMPARE(port_->readBytes(256), sent.left(256));
    QCOMPARE(port_->waitingByteCount(), qint64(count - 256));
    QCOMPARE(port_->readBytes(count), sent.mid(256));
    QCOMPARE(port_->waitingByteCount(), qint64(0));
}

void TestQtSerialPort::purgeDiscardsWaitingBytesAndKeepsListening() {
    QVERIFY(openPort());

    // More than Qt holds: part waits in Qt's buffer, the rest in the driver.
    QVERIFY(peer_->send(Pattern(3000)));
    QTRY_COMPARE(port_->waitingByteCount(), qint64(3000));
    QTest::qWait(50);

    QVERIFY(port_->purgeQueues());
    QCOMPARE(port_->waitingByteCount(), qint64(0));

    events_.clear();
    QVERIFY(peer_->send(kWriteReply));
    QTRY_COMPARE(events_, QStringList{QStringLiteral("rxChar 4")});
    QCOMPARE(port_->readBytes(100), kWriteReply);
}

void TestQtSerialPort::purgeBeforeQtReadsIsNoDeviceLoss() {
    QVERIFY(openPort());

    // Bytes are announced to the event loop, and a handler that runs first in the same round
    // purges them: Qt then reads nothing, which looks like a dead device but is not one.
    for (int i = 0; i < 30; ++i) {
        QVERIFY(peer_->send(Hex("CA D3")));
        QThread::msleep(10);
        QTimer::singleShot(0, port_.get(), [this] { port_->purgeQueues(); });
        QTest::qWait(20);
    }
    QVERIFY(port_->isOpen());

    events_.clear();
    QVERIFY(peer_->send(kWriteReply));
    QTRY_COMPARE(events_, QStringList{QStringLiteral("rxChar 4")});
    QCOMPARE(port_->readBytes(4), kWriteReply);
}

void TestQtSerialPort::announcesCharactersWithoutTakingThem() {
    QVERIFY(openPort());

    QVERIFY(peer_->send(Hex("CAD3BA81")));
    QTRY_COMPARE(events_, QStringList{QStringLiteral("rxChar 4")});
    QTest::qWait(150);
    QCOMPARE(events_.size(), 1);
    QCOMPARE(port_->waitingByteCount(), qint64(4));

    QVERIFY(peer_->send(Hex("0102")));
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(events_.last(), QStringLiteral("rxChar 6"));
    QCOMPARE(port_->readBytes(6), Hex("CAD3BA810102"));
}

void TestQtSerialPort::deliversNoEventWhileAHandlerRuns() {
    QVERIFY(openPort());

    // The first handler opens a modal loop, as a message box would, while more bytes arrive.
    int running = 0;
    int nested = 0;
    bool first = true;
    connect(port_.get(), &ISerialPort::rxChar, this, [&](qint64) {
        if (running > 0) {
            ++nested;
        }
        if (!std::exchange(first, false)) {
            return;
        }
        ++running;
        peer_->send(Hex("0102"));
        QEventLoop modal;
        QTimer::singleShot(150, &modal, &QEventLoop::quit);
        modal.exec();
        --running;
    });

    QVERIFY(peer_->send(Hex("CAD3")));
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(nested, 0);
    QCOMPARE(events_, (QStringList{QStringLiteral("rxChar 2"), QStringLiteral("rxChar 4")}));
}

void TestQtSerialPort::writeIsBoundedByItsTimeout() {
    QVERIFY(openPort());

    // Nobody reads the emulator's side: fill the line until the driver takes no more. The
    // driver moves bytes on behind the writer's back, so fill until a round finds no room.
    const QByteArray filler(4096, 'x');
    for (int round = 0; round < 50; ++round) {
        ssize_t taken = 0;
        ssize_t n = 0;
        while ((n = ::write(peer_->deviceSide(), filler.constData(),
                            static_cast<size_t>(filler.size()))) > 0) {
            taken += n;
        }
        QCOMPARE(errno, EAGAIN);
        if (taken == 0) {
            break;
        }
        QThread::msleep(20);
    }

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!port_->writeBytes(Hex("CAD3BA")));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 3 * 60 + 100 - 5 && elapsed < 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(!port_->errorText().isEmpty());
    QVERIFY(port_->isOpen());
}

void TestQtSerialPort::grownLineErrors_data() {
    QTest::addColumn<TLineErrorCounts>("before");
    QTest::addColumn<TLineErrorCounts>("after");
    QTest::addColumn<int>("kinds");

    const TLineErrorCounts start{3, 4, 5, 6, 0, 0, 7, 0};
    const auto with = [&start](auto member, std::uint32_t value) {
        TLineErrorCounts counts = start;
        counts.*member = value;
        return counts;
    };
    QTest::newRow("nothing changed") << start << start << 0;
    QTest::newRow("frame") << start << with(&TLineErrorCounts::Frame, 4) << int(ceFrame);
    QTest::newRow("parity") << start << with(&TLineErrorCounts::Parity, 5) << int(ceRxParity);
    QTest::newRow("overrun") << start << with(&TLineErrorCounts::Overrun, 6) << int(ceOverrun);
    QTest::newRow("break") << start << with(&TLineErrorCounts::Break, 7) << int(ceBreak);
    QTest::newRow("buffer overrun") << start << with(&TLineErrorCounts::RxOver, 8) << int(ceRxOver);
    QTest::newRow("io") << start << with(&TLineErrorCounts::IO, 1) << int(ceIO);
    QTest::newRow("mode") << start << with(&TLineErrorCounts::Mode, 1) << int(ceMode);
    QTest::newRow("tx full") << start << with(&TLineErrorCounts::TxFull, 1) << int(ceTxFull);
    QTest::newRow("frame and overrun")
        << start << TLineErrorCounts{5, 4, 9, 6, 0, 0, 7, 0} << int(ceFrame | ceOverrun);
    QTest::newRow("counter wrapped") << with(&TLineErrorCounts::Break, 0xFFFFFFFFu)
                                     << with(&TLineErrorCounts::Break, 0u) << int(ceBreak);
}

void TestQtSerialPort::grownLineErrors() {
    QFETCH(TLineErrorCounts, before);
    QFETCH(TLineErrorCounts, after);
    QFETCH(int, kinds);
    QCOMPARE(int(GrownLineErrors(before, after)), kinds);
}

void TestQtSerialPort::lineErrorComesBeforeTheCharacters() {
    QVERIFY(openPort());

    counts_->Frame += 1;
    counts_->Overrun += 2;
    QVERIFY(peer_->send(Hex("CAD3")));
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(events_, (QStringList{QStringLiteral("lineError %1").arg(ceFrame | ceOverrun),
                                   QStringLiteral("rxChar 2")}));

    // Reading the counters takes the report: the next bytes come alone.
    QVERIFY(peer_->send(Hex("01")));
    QTRY_COMPARE(events_.size(), 3);
    QCOMPARE(events_.last(), QStringLiteral("rxChar 3"));
}

void TestQtSerialPort::lineErrorWhileAReplyIsAwaited() {
    QVERIFY(openPort());
    QVERIFY(port_->writeBytes(kWriteFrame));
    QTest::qWait(100);
    QVERIFY(events_.isEmpty());

    // A garbled reply: the driver counts an error but hands no byte on.
    counts_->Parity += 1;
    QTRY_COMPARE_WITH_TIMEOUT(events_, QStringList{QStringLiteral("lineError %1").arg(ceRxParity)},
                              1000);
}

void TestQtSerialPort::lineErrorsAreNotWatchedWhileIdle() {
    QVERIFY(openPort());
    QVERIFY(port_->writeBytes(kWriteFrame));
    QTest::qWait(QtSerialPort::kLineErrorPollWindowMs + 200);

    counts_->Break += 1;
    QTest::qWait(200);
    QVERIFY(events_.isEmpty());

    QVERIFY(peer_->send(Hex("00")));
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(events_, (QStringList{QStringLiteral("lineError %1").arg(ceBreak),
                                   QStringLiteral("rxChar 1")}));
}

void TestQtSerialPort::pseudoTerminalHasNoLineErrorCounters() {
    QVERIFY(!MakeSystemLineErrorCounters()->read(peer_->deviceSide()).has_value());

    QtSerialPort port; // with the system's counters
    record(port);
    QVERIFY(port.open(peer_->path()));
    QVERIFY(port.writeBytes(kWriteFrame));
    QVERIFY(peer_->send(kWriteReply));
    QTRY_COMPARE(events_, QStringList{QStringLiteral("rxChar 4")});
    QTest::qWait(100);
    QCOMPARE(events_.size(), 1);
}

void TestQtSerialPort::deviceLossClosesThePortOnce() {
    QVERIFY(openPort());
    QVERIFY(peer_->send(Hex("CAD3")));
    QTRY_COMPARE(events_.size(), 1);

    peer_->hangUp();
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(events_.last(), QStringLiteral("deviceLost"));
    QVERIFY(!port_->isOpen());
    QVERIFY(!lostReason_.isEmpty());
    QVERIFY(!port_->errorText().isEmpty());

    const auto cpuBefore = ProcessCpuTime();
    QTest::qWait(1000);
    const auto cpuUsed = ProcessCpuTime() - cpuBefore;
    QVERIFY2(cpuUsed < 50ms,
             qPrintable(QStringLiteral("%1 ms of CPU")
                            .arg(std::chrono::duration<double, std::milli>(cpuUsed).count())));
    QCOMPARE(events_.size(), 2);

    QVERIFY(!port_->writeBytes(kWriteFrame));
}

void TestQtSerialPort::deviceLossWhenTheSocatPeerIsKilled() {
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        QSKIP("socat is not installed");
    }
    QProcess link;
    link.start(socat, {QStringLiteral("-d"), QStringLiteral("-d"), QStringLiteral("pty,raw,echo=0"),
                       QStringLiteral("pty,raw,echo=0")});
    QVERIFY(link.waitForStarted(3000));

    QStringList paths;
    QString log;
    QElapsedTimer clock;
    clock.start();
    const QRegularExpression ptyLine(QStringLiteral("PTY is (\\S+)"));
    while (clock.elapsed() < 5000 && !log.contains(QStringLiteral("starting data transfer"))) {
        link.waitForReadyRead(100);
        log += QString::fromLocal8Bit(link.readAllStandardError());
    }
    for (auto match = ptyLine.globalMatch(log); match.hasNext();) {
        paths << match.next().captured(1);
    }
    QCOMPARE(paths.size(), 2);

    const int emulator = ::open(paths[1].toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(emulator >= 0);
    QVERIFY(port_->open(paths[0]));

    QVERIFY(port_->writeBytes(kWriteFrame));
    QCOMPARE(ReadSome(emulator, 17, 2000), kWriteFrame);
    QVERIFY(WriteAll(emulator, kWriteReply));
    QTRY_COMPARE(events_, QStringList{QStringLiteral("rxChar 4")});
    QCOMPARE(port_->readBytes(4), kWriteReply);

    link.kill();
    QVERIFY(link.waitForFinished(3000));
    QTRY_COMPARE(events_.size(), 2);
    QCOMPARE(events_.last(), QStringLiteral("deviceLost"));
    QVERIFY(!port_->isOpen());

    const auto cpuBefore = ProcessCpuTime();
    QTest::qWait(1000);
    QVERIFY(ProcessCpuTime() - cpuBefore < 50ms);
    QCOMPARE(events_.size(), 2);
    ::close(emulator);
}

QTEST_GUILESS_MAIN(TestQtSerialPort)
#include "tst_qt_serial_port.moc"
