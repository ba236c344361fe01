// tilu-sim: the emulator simulator on a serial port or on a pseudo-terminal of its own.

#include "Options.h"
#include "SimulatorCore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tilu::sim;
using SteadyClock = std::chrono::steady_clock;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// How long a reply may wait for room on the line before it is given up.
constexpr int WriteRoomTimeoutMs = 1000;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Log(const char* direction, std::span<const std::uint8_t> bytes, const char* note = nullptr) {
    std::string line = TimeStamp() + " " + direction + " " + HexBytes(bytes);
    if (note != nullptr) {
        line += "  (";
        line += note;
        line += ")";
    }
    PrintLine(line);
}

void LogIncoming(const TIncoming& incoming) {
    switch (incoming.What) {
    case TIncoming::Kind::Frame:
        Log("<-", incoming.Data);
        break;
    case TIncoming::Kind::Junk:
        Log("<-", incoming.Data, "junk, discarded");
        break;
    case TIncoming::Kind::Dropped:
        Log("<-", incoming.Data, "incomplete frame, dropped");
        break;
    }
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "tilu-sim: %s\n", message.c_str());
    std::exit(ExitFailure);
}

std::string SystemError(int error) {
    return std::strerror(error);
}

// The line as the simulator serves it: raw bytes at 9600 bit/s, 8 data bits, no parity,
// 1 stop bit, no flow control, reads that return what is waiting.
bool SetLineSettings(int fd) {
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        return false;
    }
    cfmakeraw(&line);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, B9600);
    cfsetospeed(&line, B9600);
    return tcsetattr(fd, TCSANOW, &line) == 0;
}

// Opens a serial port for the simulator alone. Another holder is detected by the advisory lock
// (another tilu-sim) and by the terminal's exclusive mode (the configurator's serial layer sets
// it; it does not stop the superuser).
int OpenDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV) {
            Fail(path + ": no such device");
        }
        if (error == EBUSY) {
            Fail(path + ": the port is busy (another program holds it)");
        }
        Fail(path + ": cannot open: " + SystemError(error));
    }
    if (!isatty(fd)) {
        Fail(path + ": not a serial port or terminal");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            Fail(path + ": the port is busy (another program holds it)");
        }
        Fail(path + ": cannot lock: " + SystemError(errno));
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        Fail(path + ": cannot hold the port exclusively: " + SystemError(errno));
    }
    if (!SetLineSettings(fd)) {
        Fail(path + ": cannot set 9600 8N1: " + SystemError(errno));
    }
    // DTR and RTS up, as a device on the other end of a null-modem cable expects; a device
    // without modem lines refuses this, which does no harm.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
    tcflush(fd, TCIOFLUSH);
    return fd;
}

struct TPseudoTerminal {
    int Master = -1;
    int Slave = -1; // held open so that the configurator closing and reopening it is no hangup
    std::string SlavePath;
};

TPseudoTerminal OpenPseudoTerminal() {
    TPseudoTerminal pty;
    pty.Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.Master < 0) {
        Fail("cannot create a pseudo-terminal: " + SystemError(errno));
    }
    if (grantpt(pty.Master) != 0 || unlockpt(pty.Master) != 0) {
        Fail("cannot unlock the pseudo-terminal: " + SystemError(errno));
    }
    const char* name = ptsname(pty.Master);
    if (name == nullptr) {
        Fail("cannot name the pseudo-terminal: " + SystemError(errno));
    }
    pty.SlavePath = name;
    pty.Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.Slave < 0) {
        Fail(pty.SlavePath + ": cannot open: " + SystemError(errno));
    }
    // Raw from the start: a line discipline would echo the replies back and hold bytes for a
    // line end until the configurator puts its own settings in force.
    if (!SetLineSettings(pty.Slave)) {
        Fail(pty.SlavePath + ": cannot set 9600 8N1: " + SystemError(errno));
    }
    const int flags = fcntl(pty.Master, F_GETFL);
    if (flags < 0 || fcntl(pty.Master, F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail("cannot set the pseudo-terminal non-blocking: " + SystemError(errno));
    }
    return pty;
}

// Writes all bytes, waiting a bounded time for room on the line. False if they could not go.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    const auto giveUpAt = SteadyClock::now() + std::chrono::milliseconds{WriteRoomTimeoutMs};
    while (written < bytes.size()) {
        const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (result > 0) {
            written += static_cast<std::size_t>(result);
            continue;
        }
        if (result < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - SteadyClock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd room{fd, POLLOUT, 0};
        (void)::poll(&room, 1, static_cast<int>(left.count()));
    }
    return true;
}

// The stop signals stay blocked except while the loop waits, so that one arriving between
// the loop's test and its wait cannot be missed. Returns the mask to wait with.
sigset_t InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stopSignals, signal);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigdelset(&waitMask, signal);
    }
    return waitMask;
}

std::string DescribeFaults(const TFaults& faults) {
    std::string text;
    auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
    if (faults.Silent) {
        add("silent");
    }
    if (faults.Status) {
        add("status " + HexBytes(std::span(&*faults.Status, 1)));
    }
    if (faults.Split) {
        add("split " + std::to_string(faults.Split->count()) + " ms");
    }
    if (faults.Length) {
        add("length " + std::to_string(*faults.Length));
    }
    if (faults.Garbage) {
        add("garbage");
    }
    if (faults.Delay.count() != 0) {
        add("delay " + std::to_string(faults.Delay.count()) + " ms");
    }
    return text;
}

// Serves the line until a stop is requested or the line is lost.
int Serve(int fd, bool isPseudoTerminal, const std::string& name, const TFaults& faults,
          const sigset_t& waitMask) {
    SimulatorCore core(faults);
    const auto start = SteadyClock::now();
    // Rounded up when bytes are taken and down when a reply is due, so that no reply leaves
    // earlier than its faults say.
    auto takenAt = [start] { return std::chrono::ceil<Millis>(SteadyClock::now() - start); };
    auto dueBy = [start] { return std::chrono::floor<Millis>(SteadyClock::now() - start); };
    // Pieces waiting to go, in the order they are due; equal times keep their order.
    std::multimap<Millis, SimulatorCore::TScheduledPiece> outgoing;

    while (stopRequested == 0) {
        std::optional<Millis> wakeAt = core.ExpiryDeadline();
        if (!outgoing.empty()) {
            wakeAt = wakeAt ? std::min(*wakeAt, outgoing.begin()->first) : outgoing.begin()->first;
        }
        timespec timeout{};
        if (wakeAt) {
            const auto left =
                std::max(SteadyClock::duration::zero(), start + *wakeAt - SteadyClock::now());
            const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
            timeout.tv_sec = static_cast<time_t>(nanoseconds.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(nanoseconds.count() % 1'000'000'000);
        }

        pollfd line{fd, POLLIN, 0};
        const int ready = ::ppoll(&line, 1, wakeAt ? &timeout : nullptr, &waitMask);
        if (ready < 0 && errno != EINTR) {
            Fail(name + ": " + SystemError(errno));
        }

        if (ready > 0 && (line.revents & POLLIN) != 0) {
            std::uint8_t buffer[256];
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                auto received =
                    core.Receive(std::span(buffer, static_cast<std::size_t>(count)), takenAt());
                for (const TIncoming& incoming : received.Incoming) {
                    LogIncoming(incoming);
                }
                for (auto& piece : received.Replies) {
                    const Millis due = piece.DueAt;
                    outgoing.emplace(due, std::move(piece));
                }
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (!isPseudoTerminal) {
                    Fail(name + ": the port is lost" +
                         (count < 0 ? ": " + SystemError(errno) : std::string{}));
                }
                ::usleep(50'000);
            }
        } else if (ready > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            if (!isPseudoTerminal) {
                Fail(name + ": the port is lost");
            }
            // With the slave side held open this does not happen; do not spin if it does.
            ::usleep(50'000);
        }

        if (auto dropped = core.Expire(dueBy())) {
            LogIncoming(*dropped);
        }
        while (!outgoing.empty() && outgoing.begin()->first <= dueBy()) {
            auto piece = std::move(outgoing.begin()->second);
            outgoing.erase(outgoing.begin());
            const std::string part =
                "piece " + std::to_string(piece.Piece) + " of " + std::to_string(piece.Pieces);
            if (!WriteAll(fd, piece.Data)) {
                Log("->", piece.Data, "not sent: the line takes no more bytes");
                continue;
            }
            Log("->", piece.Data, piece.Pieces > 1 ? part.c_str() : nullptr);
        }
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const TParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.Error.empty()) {
        std::fprintf(stderr, "tilu-sim: %s\nTry 'tilu-sim --help' for more information.\n",
                     parsed.Error.c_str());
        return ExitUsage;
    }
    const TOptions& options = parsed.Options;
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_SUCCESS;
    }

    const sigset_t waitMask = InstallStopHandlers();
    int fd = -1;
    std::string name;
    TPseudoTerminal pty;
    if (options.Pty) {
        pty = OpenPseudoTerminal();
        fd = pty.Master;
        name = pty.SlavePath;
        PrintLine("PTY " + pty.SlavePath);
    } else {
        fd = OpenDevice(options.Device);
        name = options.Device;
        PrintLine("Serving " + name + " at 9600 8N1");
    }
    if (options.Faults.Any()) {
        PrintLine("Faults: " + DescribeFaults(options.Faults));
    }
    return Serve(fd, options.Pty, name, options.Faults, waitMask);
}
