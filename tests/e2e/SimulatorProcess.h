#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

namespace tilu::testing {

// tilu-sim --pty as a separate process; its pseudo-terminal is the configurator's port.
class SimulatorProcess {
public:
    explicit SimulatorProcess(const QStringList& switches = {}) {
        process_.setProgram(QStringLiteral(TILU_SIM_PATH));
        // A test that aborts runs no destructor; the simulator then ends with it.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.setArguments(QStringList{QStringLiteral("--pty")} + switches);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(5000)) {
            return;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && !process_.canReadLine()) {
            process_.waitForReadyRead(100);
        }
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("PTY "))) {
            path_ = line.mid(4);
        }
    }
    ~SimulatorProcess() { kill(); }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The path to open, empty if the simulator did not start.
    QString path() const { return path_; }
    // What the simulator printed so far: one line per frame received or sent.
    QString output() {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_;
    }
    // What the simulator printed and was not taken yet; nothing is kept, so a long run stays small.
    QString takeOutput() {
        QString text = output_ + QString::fromUtf8(process_.readAllStandardOutput());
        output_.clear();
        return text;
    }
    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

private:
    QProcess process_;
    QString path_;
    QString output_;
};

} // namespace tilu::testing
