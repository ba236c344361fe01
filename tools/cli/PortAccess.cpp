#include "PortAccess.h"

#include "QtSerialPort.h"
#include "link/LinkTiming.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tilu::cli {

namespace {

#ifdef Q_OS_UNIX
// An advisory lock on the device, the one tilu-sim takes, held while the port is open.
class DeviceLock final : public PortHold {
public:
    explicit DeviceLock(int fd) : fd_(fd) {}
    ~DeviceLock() override { ::close(fd_); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    int fd_;
};
#endif

} // namespace

QString DevicePathOf(const QString& portName) {
#ifdef Q_OS_UNIX
    if (portName.startsWith(QLatin1Char('/'))) {
        return portName;
    }
    return QStringLiteral("/dev/") + portName;
#else
    return portName;
#endif
}

PortFailure PortFailureOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
        return PortFailure::NoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return PortFailure::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return PortFailure::Busy;
    default:
        return PortFailure::Other;
    }
}

TPortOpening OpenSystemPort(const QString& portName) {
    TPortOpening opening;
#ifdef Q_OS_UNIX
    const QByteArray path = DevicePathOf(portName).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        opening.Failure = PortFailureOfErrno(error);
        opening.Detail = QString::fromLocal8Bit(std::strerror(error));
        return opening;
    }
    auto lock = std::make_unique<DeviceLock>(fd);
    if (!::isatty(fd)) {
        opening.Failure = PortFailure::NotASerialPort;
        return opening;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        opening.Failure = PortFailureOfErrno(error);
        opening.Detail = QString::fromLocal8Bit(std::strerror(error));
        return opening;
    }
    opening.Hold = std::move(lock);
#endif
    auto port = std::make_unique<QtSerialPort>();
    if (!port->open(portName)) {
        opening.Hold.reset();
        // The device opened and locked for this tool, so the serial layer's refusal is its own
        // exclusive hold: the lock file of another program using the port.
#ifdef Q_OS_UNIX
        opening.Failure = PortFailure::Busy;
#endif
        opening.Detail = port->errorText();
        return opening;
    }
    opening.Port = std::move(port);
    return opening;
}

TExchange ExchangeFrame(ISerialPort& port, TLinkBuffers& link) {
    if (!port.purgeQueues()) {
        return {TExchange::Result::PortFailure, 0, port.errorText()};
    }

    QEventLoop loop;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the emulator is given its full time.
    watchdog.setTimerType(Qt::PreciseTimer);
    watchdog.setInterval(kReplyWatchdogInterval);
    TExchange outcome;
    bool settled = false;
    const auto settle = [&](TExchange result) {
        if (!settled) {
            settled = true;
            outcome = std::move(result);
            watchdog.stop();
            loop.quit();
        }
    };
    QObject::connect(&port, &ISerialPort::rxChar, &loop, [&](qint64) {
        settle({TExchange::Result::Reply, 0, {}});
    });
    QObject::connect(&port, &ISerialPort::lineError, &loop, [&](TComErrors errors) {
        settle({TExchange::Result::LineError, errors, {}});
    });
    QObject::connect(&port, &ISerialPort::deviceLost, &loop, [&](const QString& reason) {
        settle({TExchange::Result::DeviceLost, 0, reason});
    });
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        settle({TExchange::Result::NoAnswer, 0, {}});
    });

    const auto length = static_cast<qsizetype>(
        std::clamp<std::int32_t>(link.TxLength, 0, static_cast<std::int32_t>(LinkBufferSize)));
    const QByteArray frame(reinterpret_cast<const char*>(link.TxBuffer.data()), length);
    if (!port.writeBytes(frame)) {
        return {TExchange::Result::PortFailure, 0, port.errorText()};
    }
    if (!settled) {
        watchdog.start();
        loop.exec();
    }
    if (outcome.What != TExchange::Result::Reply) {
        return outcome;
    }

    // Blocks on purpose, as the configurator does: the rest of the reply arrives meanwhile and
    // is read in one go.
    QThread::msleep(static_cast<unsigned long>(kReplySettleDelay.count()));
    const qint64 waiting = std::max<qint64>(port.waitingByteCount(), 0);
    const qint64 wanted = std::min<qint64>(waiting, static_cast<qint64>(LinkBufferSize));
    const QByteArray received = port.readBytes(wanted);
    if (waiting > wanted) {
        port.purgeQueues();
    }
    StoreReception(link, std::span(reinterpret_cast<const std::uint8_t*>(received.constData()),
                                   static_cast<std::size_t>(received.size())));
    return outcome;
}

} // namespace tilu::cli
