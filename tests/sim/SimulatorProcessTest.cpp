// tilu-sim as a separate process: its command line, and its replies and their timing on a
// pseudo-terminal it creates, as the configurator would see them.

#include "SimTestBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using tilu::sim::testing_support::Hex;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr Millis StartTimeout{5000};
constexpr Millis ReplyTimeout{3000};

const Bytes FactoryReadReply = Hex("CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");

Millis Since(Clock::time_point start) {
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

// Reads what is there of a non-blocking descriptor until it has count bytes or time is up.
Bytes ReadUpTo(int fd, std::size_t count, Millis timeout) {
    Bytes bytes;
    const auto giveUpAt = Clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<Millis>(giveUpAt - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::uint8_t buffer[256];
        const std::size_t wanted = std::min(sizeof buffer, count - bytes.size());
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return bytes;
}

void WriteBytes(int fd, const Bytes& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// The configurator's side of the line: the terminal opened raw, as a serial port is.
int OpenLine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    termios line{};
    tcgetattr(fd, &line);
    cfmakeraw(&line);
    cfsetispeed(&line, B9600);
    cfsetospeed(&line, B9600);
    tcsetattr(fd, TCSANOW, &line);
    return fd;
}

// One run of tilu-sim with its standard output and error read through pipes. Always ended,
// at the latest when the test ends.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& arguments) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> all{TILU_SIM_PATH};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, TILU_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << TILU_SIM_PATH;
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    ~SimProcess() {
        if (pid_ > 0 && !exitCode_) {
            ::kill(pid_, SIGTERM);
            if (!WaitExit(Millis{2000})) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        ::close(out_);
        ::close(err_);
    }

    // Asks the process to end and returns its exit code once it has.
    std::optional<int> Terminate(Millis timeout) {
        ::kill(pid_, SIGTERM);
        return WaitExit(timeout);
    }

    // The next line of standard output, without its line end.
    std::optional<std::string> ReadLine(Millis timeout) {
        const auto giveUpAt = Clock::now() + timeout;
        for (;;) {
            if (const auto end = outText_.find('\n'); end != std::string::npos) {
                std::string line = outText_.substr(0, end);
                outText_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<Millis>(giveUpAt - Clock::now());
            if (left.count() <= 0 || !Drain(out_, outText_, left)) {
                return std::nullopt;
            }
        }
    }

    // Waits for a standard output line that matches; false if none came in time.
    bool WaitForLine(const std::regex& pattern, Millis timeout) {
        const auto giveUpAt = Clock::now() + timeout;
        while (Clock::now() < giveUpAt) {
            const auto line = ReadLine(std::chrono::duration_cast<Millis>(giveUpAt - Clock::now()));
            if (line && std::regex_search(*line, pattern)) {
                return true;
            }
            if (!line) {
                return false;
            }
        }
        return false;
    }

    // The exit code, once the process has ended within the timeout.
    std::optional<int> WaitExit(Millis timeout) {
        const auto giveUpAt = Clock::now() + timeout;
        while (!exitCode_) {
            int status = 0;
            const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
            if (ended == pid_) {
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (Clock::now() >= giveUpAt) {
                break;
            } else {
                std::this_thread::sleep_for(Millis{10});
            }
        }
        return exitCode_;
    }

    std::string AllOutput() {
        while (Drain(out_, outText_, Millis{100})) {
        }
        return outText_;
    }
    std::string AllErrors() {
        while (Drain(err_, errText_, Millis{100})) {
        }
        return errText_;
    }

private:
    // Appends what the pipe holds; false at its end or when nothing came in time.
    static bool Drain(int fd, std::string& text, Millis timeout) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outText_;
    std::string errText_;
    std::optional<int> exitCode_;
};

// A simulator on a pseudo-terminal of its own, with the line opened on the other end.
class SimOnPty : public testing::Test {
protected:
    void Start(const std::vector<std::string>& faults) {
        std::vector<std::string> arguments{"--pty"};
        arguments.insert(arguments.end(), faults.begin(), faults.end());
        sim_.emplace(arguments);
        const auto first = sim_->ReadLine(StartTimeout);
        ASSERT_TRUE(first) << sim_->AllErrors();
        ASSERT_TRUE(first->starts_with("PTY /dev/")) << *first;
        path_ = first->substr(4);
        line_ = OpenLine(path_);
        ASSERT_GE(line_, 0) << path_;
    }

    void TearDown() override {
        if (line_ >= 0) {
            ::close(line_);
        }
    }

    std::optional<SimProcess> sim_;
    std::string path_;
    int line_ = -1;
};

TEST_F(SimOnPty, AnswersTheThreeCommandsAndKeepsWhatIsWritten) {
    ASSERT_NO_FATAL_FAILURE(Start({}));

    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout), FactoryReadReply);

    WriteBytes(line_, Hex("CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00"));
    EXPECT_EQ(ReadUpTo(line_, 4, ReplyTimeout), Hex("CA D3 B9 81"));

    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout),
              Hex("CA D3 BA 81 37 88 06 32 1E 32 14 37 14 05 00 00 00 00"));

    WriteBytes(line_, Hex("CA D3 BB"));
    const Bytes levels = ReadUpTo(line_, 26, ReplyTimeout);
    ASSERT_EQ(levels.size(), 26u);
    EXPECT_EQ(Bytes(levels.begin(), levels.begin() + 4), Hex("CA D3 BB 81"));
    EXPECT_EQ(levels[14], 0x01);
    EXPECT_EQ(levels[25], 0x01);

    // Nothing more than the replies: no echo of the commands, nothing left over.
    EXPECT_TRUE(ReadUpTo(line_, 1, Millis{200}).empty());
}

TEST_F(SimOnPty, AssemblesAFrameSentInPiecesAndSkipsJunk) {
    ASSERT_NO_FATAL_FAILURE(Start({}));
    WriteBytes(line_, Hex("00 FF CA"));
    std::this_thread::sleep_for(Millis{50});
    WriteBytes(line_, Hex("D3"));
    std::this_thread::sleep_for(Millis{50});
    WriteBytes(line_, Hex("BA"));
    EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout), FactoryReadReply);
    EXPECT_TRUE(sim_->WaitForLine(std::regex(R"(<- 00 FF  \(junk, discarded\)$)"), ReplyTimeout));
}

TEST_F(SimOnPty, LogsEachFrameWithATimeStamp) {
    ASSERT_NO_FATAL_FAILURE(Start({}));
    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout).size(), 18u);
    EXPECT_TRUE(
        sim_->WaitForLine(std::regex(R"(^\d\d:\d\d:\d\d\.\d\d\d <- CA D3 BA$)"), ReplyTimeout));
    EXPECT_TRUE(sim_->WaitForLine(
        std::regex(R"(^\d\d:\d\d:\d\d\.\d\d\d -> CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 )"
                   R"(00 00 00$)"),
        ReplyTimeout));
}

TEST_F(SimOnPty, GoesOnAnsweringWhenTheLineIsClosedAndOpenedAgain) {
    ASSERT_NO_FATAL_FAILURE(Start({}));
    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout), FactoryReadReply);
    for (int round = 0; round < 3; ++round) {
        ::close(line_);
        std::this_thread::sleep_for(Millis{100});
        line_ = OpenLine(path_);
        ASSERT_GE(line_, 0) << path_;
        WriteBytes(line_, Hex("CA D3 BA"));
        EXPECT_EQ(ReadUpTo(line_, 18, ReplyTimeout), FactoryReadReply) << "round " << round;
    }
}

TEST_F(SimOnPty, SplitSendsTheSecondHalfLater) {
    ASSERT_NO_FATAL_FAILURE(Start({"--split", "400"}));
    const auto sent = Clock::now();
    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 9, ReplyTimeout), Hex("CA D3 BA 81 88 88 06 32 1E"));
    EXPECT_LT(Since(sent), Millis{400});
    EXPECT_TRUE(ReadUpTo(line_, 1, Millis{150}).empty()) << "second half came too early";
    EXPECT_EQ(ReadUpTo(line_, 9, ReplyTimeout), Hex("09 01 37 14 05 00 00 00 00"));
    EXPECT_GE(Since(sent), Millis{400});
}

TEST_F(SimOnPty, DelayAnswersLate) {
    ASSERT_NO_FATAL_FAILURE(Start({"--delay", "400"}));
    const auto sent = Clock::now();
    WriteBytes(line_, Hex("CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00"));
    const Bytes reply = ReadUpTo(line_, 4, Millis{400} + ReplyTimeout);
    const Millis took = Since(sent);
    EXPECT_EQ(reply, Hex("CA D3 B9 81"));
    EXPECT_GE(took, Millis{400});
}

TEST_F(SimOnPty, SilentNeverAnswersButTakesTheFrames) {
    ASSERT_NO_FATAL_FAILURE(Start({"--silent"}));
    WriteBytes(line_, Hex("CA D3 BA"));
    WriteBytes(line_, Hex("CA D3 BB"));
    EXPECT_TRUE(ReadUpTo(line_, 1, Millis{700}).empty());
    EXPECT_TRUE(sim_->WaitForLine(std::regex(R"(<- CA D3 BA$)"), ReplyTimeout));
    EXPECT_TRUE(sim_->WaitForLine(std::regex(R"(<- CA D3 BB$)"), ReplyTimeout));
}

TEST_F(SimOnPty, ReplyFaultSwitchesReachTheLine) {
    ASSERT_NO_FATAL_FAILURE(Start({"--status", "80", "--length", "20", "--garbage"}));
    WriteBytes(line_, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(line_, 20, ReplyTimeout),
              Hex("AC 3D BA 80 88 88 06 32 1E 09 01 37 14 05 00 00 00 00 00 00"));
    EXPECT_TRUE(ReadUpTo(line_, 1, Millis{200}).empty());
}

TEST_F(SimOnPty, EndsCleanlyOnTerminationAndTakesItsPseudoTerminalAlong) {
    ASSERT_NO_FATAL_FAILURE(Start({}));
    struct stat before {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    ::close(line_);
    line_ = -1;
    EXPECT_EQ(sim_->Terminate(StartTimeout), 0);
    // Tests running alongside may be handed the same number at once: that is a new terminal,
    // made after this one, not this one outliving the simulator.
    struct stat after {};
    if (::stat(path_.c_str(), &after) == 0) {
        const bool sameNode = after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                              after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
        EXPECT_FALSE(sameNode) << path_ << " outlived the simulator";
    }
}

// --- Serving a terminal given by its path ------------------------------------------------

struct PtyPair {
    int Master = -1;
    std::string SlavePath;
    ~PtyPair() {
        if (Master >= 0) {
            ::close(Master);
        }
    }
};

void MakePtyPair(PtyPair& pair) {
    pair.Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(pair.Master, 0);
    ASSERT_EQ(grantpt(pair.Master), 0);
    ASSERT_EQ(unlockpt(pair.Master), 0);
    pair.SlavePath = ptsname(pair.Master);
    fcntl(pair.Master, F_SETFL, O_NONBLOCK);
}

TEST(SimOnDevice, ServesATerminalGivenByItsPath) {
    PtyPair pair;
    ASSERT_NO_FATAL_FAILURE(MakePtyPair(pair));
    SimProcess sim({pair.SlavePath});
    const auto first = sim.ReadLine(StartTimeout);
    ASSERT_TRUE(first) << sim.AllErrors();
    EXPECT_EQ(*first, "Serving " + pair.SlavePath + " at 9600 8N1");
    WriteBytes(pair.Master, Hex("CA D3 BA"));
    EXPECT_EQ(ReadUpTo(pair.Master, 18, ReplyTimeout), FactoryReadReply);
}

TEST(SimOnDevice, RefusesABusyPort) {
    PtyPair pair;
    ASSERT_NO_FATAL_FAILURE(MakePtyPair(pair));
    SimProcess holder({pair.SlavePath});
    ASSERT_TRUE(holder.ReadLine(StartTimeout)) << holder.AllErrors();

    SimProcess second({pair.SlavePath});
    EXPECT_EQ(second.WaitExit(StartTimeout), 1);
    EXPECT_EQ(second.AllErrors(),
              "tilu-sim: " + pair.SlavePath + ": the port is busy (another program holds it)\n");
}

// --- The command line --------------------------------------------------------------------

struct RunCase {
    const char* Name;
    std::vector<std::string> Arguments;
    int ExitCode;
    const char* Output;
    const char* Errors;
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.Name;
}

class SimCommandLine : public testing::TestWithParam<RunCase> {};

TEST_P(SimCommandLine, EndsWithItsExitCodeAndMessage) {
    SimProcess sim(GetParam().Arguments);
    EXPECT_EQ(sim.WaitExit(StartTimeout), GetParam().ExitCode);
    EXPECT_TRUE(sim.AllOutput().starts_with(GetParam().Output)) << sim.AllOutput();
    EXPECT_EQ(sim.AllErrors(), GetParam().Errors);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SimCommandLine,
    testing::Values(RunCase{"Help", {"--help"}, 0, "Usage: tilu-sim [OPTION]... DEVICE\n", ""},
                    RunCase{"MissingDevice",
                            {"/dev/tilu-no-such-port"},
                            1,
                            "",
                            "tilu-sim: /dev/tilu-no-such-port: no such device\n"},
                    RunCase{"NotATerminal",
                            {"/dev/null"},
                            1,
                            "",
                            "tilu-sim: /dev/null: not a serial port or terminal\n"},
                    RunCase{"UnknownOption",
                            {"--pty", "--line-error"},
                            2,
                            "",
                            "tilu-sim: --line-error: unknown option\n"
                            "Try 'tilu-sim --help' for more information.\n"},
                    RunCase{
                        "BadValue",
                        {"--pty", "--delay", "soon"},
                        2,
                        "",
                        "tilu-sim: --delay: bad value 'soon', expected milliseconds 0 to 60000\n"
                        "Try 'tilu-sim --help' for more information.\n"}),
    [](const testing::TestParamInfo<RunCase>& row) { return row.param.Name; });

} // namespace
