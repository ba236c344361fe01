#include "QtSerialPort.h"

#include <QThread>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace tilu {

namespace {

constexpr int kTransientErrorsPerSecond = 200;

} // namespace

// Marks the time spent inside one of the port's own operations. Qt may announce bytes while an
// operation waits on the device; those announcements are handed on once the operation is over.
class QtSerialPort::Operation {
public:
    explicit Operation(QtSerialPort& port) : port_(port) { ++port_.busy_; }
    ~Operation() {
        if (--port_.busy_ == 0 && port_.anythingPending()) {
            port_.scheduleDelivery();
        }
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    QtSerialPort& port_;
};

QtSerialPort::QtSerialPort(QObject* parent) : QtSerialPort(MakeSystemLineErrorCounters(), parent) {}

QtSerialPort::QtSerialPort(std::unique_ptr<ILineErrorCounters> lineErrorCounters, QObject* parent)
    : ISerialPort(parent), lineErrorCounters_(std::move(lineErrorCounters)) {
    if (!lineErrorCounters_) {
        lineErrorCounters_ = std::make_unique<NoLineErrorCounters>();
    }
    lineErrorPoll_.setInterval(kLineErrorPollIntervalMs);
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onErrorOccurred);
    connect(&lineErrorPoll_, &QTimer::timeout, this, &QtSerialPort::onLineErrorPoll);
}

QtSerialPort::~QtSerialPort() {
    close();
}

bool QtSerialPort::open(const QString& portName) {
    if (port_.isOpen()) {
        if (portName == name_) {
            return true;
        }
        close();
    }
    name_ = portName;
    errorText_.clear();
    lossPending_ = false;
    transientErrors_ = 0;

    Operation operation(*this);
    ++quiet_;
    const auto done = [this](bool opened) {
        --quiet_;
        port_.clearError();
        return opened;
    };

    port_.setPortName(portName);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(kReadBufferSize);
    if (!port_.open(QIODevice::ReadWrite)) {
        errorText_ = port_.errorString();
        return done(false);
    }

    // A device without modem lines (a pseudo-terminal) cannot raise them; that does not keep
    // the port from working, any other refusal does.
    const auto raise = [this](bool raised) {
        return raised || port_.error() == QSerialPort::UnsupportedOperationError;
    };
    const bool dtrRaised = raise(port_.setDataTerminalReady(true));
    const bool rtsRaised = raise(port_.setRequestToSend(true));
    if (!dtrRaised || !rtsRaised) {
        errorText_ = port_.errorString();
        port_.close();
        return done(false);
    }

    lastLineErrorCounts_ = lineErrorCounters_->read(port_.handle());
    return done(true);
}

void QtSerialPort::close() {
    lineErrorPoll_.stop();
    closeQuietly();
}

void QtSerialPort::closeQuietly() {
    if (port_.isOpen()) {
        ++quiet_;
        port_.close();
        port_.clearError();
        --quiet_;
    }
    lastLineErrorCounts_.reset();
    charsPending_ = false;
    checkPending_ = false;
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}
QString QtSerialPort::portName() const {
    return name_;
}
QString QtSerialPort::errorText() const {
    return errorText_;
}

bool QtSerialPort::failNotOpen() {
    errorText_ = QStringLiteral("The serial port is not open");
    return false;
}

bool QtSerialPort::purgeQueues() {
    if (!port_.isOpen()) {
        return failNotOpen();
    }
    Operation operation(*this);
    if (!port_.clear(QSerialPort::AllDirections)) {
        errorText_ = port_.errorString();
        return false;
    }
    rearmReading();
    return true;
}

bool QtSerialPort::writeBytes(const QByteArray& bytes) {
    if (!port_.isOpen()) {
        return failNotOpen();
    }
    if (bytes.isEmpty()) {
        return true;
    }
    Operation operation(*this);
    const QDeadlineTimer deadline(kWriteTimeoutPerByteMs * bytes.size() + kWriteTimeoutConstantMs);
    const auto timedOut = [this, &bytes] {
        errorText_ = QStringLiteral("Write timed out with %1 of %2 bytes not sent")
                         .arg(port_.bytesToWrite() + driverOutputCount())
                         .arg(bytes.size());
        return false;
    };

    port_.clearError();
    if (port_.write(bytes) != bytes.size()) {
        errorText_ = port_.errorString();
        return false;
    }
    while (port_.isOpen() && port_.bytesToWrite() > 0) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0) {
            return timedOut();
        }
        if (port_.waitForBytesWritten(static_cast<int>(left))) {
            continue;
        }
        if (!port_.isOpen()) {
            break;
        }
        if (port_.error() == QSerialPort::TimeoutError) {
            return timedOut();
        }
        if (port_.error() != QSerialPort::NoError) {
            errorText_ = port_.errorString();
            return false;
        }
        // Qt gave up because its receive buffer is full while bytes keep arriving; the write
        // itself goes on.
        QThread::msleep(1);
    }
    if (!port_.isOpen()) {
        return false; // the device went away meanwhile; errorText_ tells so
    }
    if (!waitForDriverOutput(deadline)) {
        return timedOut();
    }

    if (lastLineErrorCounts_) {
        lineErrorPollSince_.start();
        lineErrorPoll_.start();
        checkPending_ = true;
    }
    return true;
}

qint64 QtSerialPort::waitingByteCount() {
    if (!port_.isOpen()) {
        return 0;
    }
#ifdef Q_OS_UNIX
    // Counted without the event loop: what Qt already took plus what the driver still holds.
    return port_.bytesAvailable() + driverInputCount();
#else
    Operation operation(*this);
    while (port_.bytesAvailable() < kReadBufferSize && port_.waitForReadyRead(0)) {
    }
    return port_.bytesAvailable();
#endif
}

QByteArray QtSerialPort::readBytes(qint64 maxCount) {
    if (!port_.isOpen() || maxCount <= 0) {
        return {};
    }
    Operation operation(*this);
    QByteArray bytes;
    while (port_.isOpen()) {
        bytes += port_.read(maxCount - bytes.size());
        if (bytes.size() >= maxCount) {
            break;
        }
#ifdef Q_OS_UNIX
        if (driverInputCount() <= 0) {
            break;
        }
#endif
        if (!port_.waitForReadyRead(0)) {
            break;
        }
    }
    rearmReading();
    return bytes;
}

qint64 QtSerialPort::driverInputCount() const {
#ifdef Q_OS_UNIX
    int count = 0;
    if (port_.isOpen() && ::ioctl(port_.handle(), FIONREAD, &count) == 0) {
        return count;
    }
#endif
    return 0;
}

qint64 QtSerialPort::driverOutputCount() const {
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int count = 0;
    if (port_.isOpen() && ::ioctl(port_.handle(), TIOCOUTQ, &count) == 0) {
        return count;
    }
#endif
    return 0;
}

bool QtSerialPort::waitForDriverOutput(const QDeadlineTimer& deadline) {
    // tcdrain() would wait without a bound; the driver's queue is watched against the deadline.
    while (driverOutputCount() > 0) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(1);
    }
    return true;
}

void QtSerialPort::rearmReading() {
    // Qt stops watching the device when its receive buffer is full and resumes only on a read
    // that finds the buffer empty; without this a flood followed by a purge would leave the
    // port deaf.
    if (port_.isOpen() && port_.bytesAvailable() == 0) {
        char unused = 0;
        port_.read(&unused, 1);
    }
}

void QtSerialPort::onReadyRead() {
    charsPending_ = true;
    scheduleDelivery();
}

void QtSerialPort::onLineErrorPoll() {
    if (!port_.isOpen() || lineErrorPollSince_.elapsed() >= kLineErrorPollWindowMs) {
        lineErrorPoll_.stop();
    }
    checkPending_ = true;
    scheduleDelivery();
}

bool QtSerialPort::anythingPending() const {
    return charsPending_ || checkPending_ || lossPending_;
}

void QtSerialPort::scheduleDelivery() {
    if (deliveryQueued_ || busy_ > 0) {
        return;
    }
    deliveryQueued_ = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::deliver, Qt::QueuedConnection);
}

void QtSerialPort::deliver() {
    deliveryQueued_ = false;
    if (delivering_ || busy_ > 0) {
        return; // the handler or operation in progress delivers when it ends
    }
    delivering_ = true;
    if (lossPending_) {
        lossPending_ = false;
        Q_EMIT deviceLost(lossReason_);
    } else if (port_.isOpen()) {
        const bool charsArrived = std::exchange(charsPending_, false);
        checkPending_ = false;
        const TComErrors errors = takeNewLineErrors();
        if (errors != 0) {
            Q_EMIT lineError(errors);
        }
        if (charsArrived && port_.isOpen()) {
            const qint64 waiting = waitingByteCount();
            if (waiting > 0) {
                Q_EMIT rxChar(waiting);
            }
        }
    }
    if (!port_.isOpen()) {
        charsPending_ = false;
        checkPending_ = false;
    }
    delivering_ = false;
    if (anythingPending()) {
        scheduleDelivery();
    }
}

TComErrors QtSerialPort::takeNewLineErrors() {
    if (!lastLineErrorCounts_ || !port_.isOpen()) {
        return 0;
    }
    const std::optional<TLineErrorCounts> now = lineErrorCounters_->read(port_.handle());
    if (!now) {
        return 0;
    }
    const TComErrors grown = GrownLineErrors(*lastLineErrorCounts_, *now);
    lastLineErrorCounts_ = now;
    return grown;
}

void QtSerialPort::onErrorOccurred(QSerialPort::SerialPortError error) {
    if (quiet_ > 0 || !port_.isOpen()) {
        return;
    }
    // A zero wait on an empty queue reports a timeout, and a device without modem lines
    // refuses them; neither is a fault of the line.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
        return;
    }
    if (!deviceGone()) {
        // Qt was woken for bytes that a purge or a read had already taken and found none.
        // Watch the device again, unless this happens at a rate no purge can explain: a
        // device that fails every read is as good as gone.
        if (!transientErrorsSince_.isValid() || transientErrorsSince_.elapsed() > 1000) {
            transientErrorsSince_.start();
            transientErrors_ = 0;
        }
        if (++transientErrors_ <= kTransientErrorsPerSecond) {
            QMetaObject::invokeMethod(this, &QtSerialPort::rearmReading, Qt::QueuedConnection);
            return;
        }
    }
    loseDevice();
}

bool QtSerialPort::deviceGone() const {
#ifdef Q_OS_UNIX
    const int handle = port_.handle();
    pollfd watched{handle, POLLIN, 0};
    if (::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return true;
    }
    termios settings{};
    if (::tcgetattr(handle, &settings) == -1) {
        return errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF;
    }
    return false;
#else
    return true;
#endif
}

void QtSerialPort::loseDevice() {
    // Qt keeps reporting a vanished device as fast as it can until the port is closed, so it is
    // closed at the first report. Qt allows this from inside its own notification.
    lossReason_ = QStringLiteral("The serial device %1 is no longer available: %2")
                      .arg(name_, port_.errorString());
    errorText_ = lossReason_;
    lineErrorPoll_.stop();
    closeQuietly();
    lossPending_ = true;
    scheduleDelivery();
}

} // namespace tilu
