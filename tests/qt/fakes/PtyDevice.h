#pragma once

// POSIX only: a pseudo-terminal pair whose master side the test holds as the emulator, while the
// configurator's port opens the slave side by its path.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace tilu::testing {

// Writes all bytes to a non-blocking descriptor, waiting for room at most two seconds.
inline bool WriteAll(int fd, const QByteArray& bytes) {
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < bytes.size() && clock.elapsed() < 2000) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n == -1 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, 10);
        }
    }
    return done == bytes.size();
}

// Reads from a non-blocking descriptor until count bytes came or the time is up.
inline QByteArray ReadSome(int fd, qsizetype count, int timeoutMs) {
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < timeoutMs) {
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, n);
        } else {
            pollfd waiting{fd, POLLIN, 0};
            ::poll(&waiting, 1, 10);
        }
    }
    return bytes;
}

// The emulator's end of a pseudo-terminal pair.
class PtyDevice {
public:
    PtyDevice() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            return;
        }
        char name[128] = {};
        ::ttyname_r(slave_, name, sizeof name);
        path_ = QString::fromLocal8Bit(name);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(slave_, F_SETFL, ::fcntl(slave_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyDevice() {
        hangUp();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    bool ok() const { return master_ >= 0 && !path_.isEmpty(); }
    QString path() const { return path_; }
    int master() const { return master_; }
    // A second descriptor of the device side, taken before the port locks the device; held so
    // that the device side outlives the configurator's port.
    int deviceSide() const { return slave_; }

    bool send(const QByteArray& bytes) const { return WriteAll(master_, bytes); }
    // What the configurator wrote, until count bytes came or the time is up.
    QByteArray receive(qsizetype count, int timeoutMs = 1000) const {
        return ReadSome(master_, count, timeoutMs);
    }
    // Everything the configurator wrote, until the line is quiet for 50 ms.
    QByteArray drain() const {
        QByteArray all;
        for (QByteArray chunk = receive(1 << 16, 50); !chunk.isEmpty();
             chunk = receive(1 << 16, 50)) {
            all += chunk;
        }
        return all;
    }
    // The line settings of the device side, as the port put them in force.
    std::optional<termios> lineSettings() const {
        termios settings{};
        if (::tcgetattr(slave_, &settings) != 0) {
            return std::nullopt;
        }
        return settings;
    }
    // The device goes away: the configurator's side is hung up.
    void hangUp() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

} // namespace tilu::testing
