// Measures, in one run: start to first paint and peak memory of the port window against a bare
// Qt window built in the same tree, the round trip of "Считать настройки" against tilu-sim on a
// pseudo-terminal, and the CPU time the configurator spends idle with the port open.
#include "MainWindow.h"
#include "OperatorDialogs.h"
#include "PortList.h"
#include "PortSelectionWindow.h"
#include "QtSerialPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tilu;

namespace {

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double CpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Answers every box at once, as an operator who only reads the log would.
class SilentDialogs final : public IOperatorDialogs {
public:
    void beep() override {}
    void information(QWidget*, const QString&) override {}
    YesNoAnswer warningYesNo(QWidget*, const QString&) override { return YesNoAnswer::No; }
    void error(QWidget*, const QString&) override {}
    void portFailure(QWidget*, const QString&) override {}
    std::optional<QString> inputText(QWidget*, const QString&, const QString&, const QString& text,
                                     int) override {
        return text;
    }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
};

// Quits the application at the first paint of the watched window.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool painted_ = false;
};

// Child mode: show one window, quit at its first paint, print the peak RSS.
int ShowUntilPainted(int argc, char* argv[], bool portWindow) {
    QApplication application(argc, argv);
    FirstPaint firstPaint;
    TProgramState state;
    SystemPortList ports;
    QtSerialPort port;
    SilentDialogs dialogs;
    std::unique_ptr<QWidget> window;
    if (portWindow) {
        window = std::make_unique<TForm2>(state, ports, port, dialogs);
    } else {
        window = std::make_unique<QWidget>();
        window->resize(334, 262);
    }
    window->installEventFilter(&firstPaint);
    window->show();
    QApplication::exec();
    std::printf("%ld\n", PeakRssKiB());
    return 0;
}

struct StartFigures {
    double milliseconds = 0;
    long peakRssKiB = 0;
};

StartFigures MeasureStart(const QString& self, const char* mode) {
    std::vector<double> times;
    long rss = 0;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        child.start(self, {QString::fromLatin1(mode)});
        child.waitForFinished(20000);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        rss = std::max(rss, child.readAllStandardOutput().trimmed().toLong());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], rss};
}

int MeasureLink(int argc, char* argv[]) {
    const QString self = QString::fromLocal8Bit(argv[0]);
    const StartFigures bare = MeasureStart(self, "--bare");
    const StartFigures configurator = MeasureStart(self, "--port-window");

    QApplication application(argc, argv);
    QProcess simulator;
    simulator.start(QStringLiteral(TILU_SIM_PATH), {QStringLiteral("--pty")});
    simulator.waitForReadyRead(5000);
    const QString path = QString::fromUtf8(simulator.readLine()).trimmed().mid(4);

    TProgramState state;
    SystemPortList ports(QStringList{path});
    QtSerialPort port;
    SilentDialogs dialogs;
    TForm2 form2(state, ports, port, dialogs);
    form2.show();
    form2.ComComboBox1->setCurrentIndex(form2.ComComboBox1->findText(path));
    form2.Button1Click();
    TForm1* form1 = form2.Form1();
    if (!state.PortChosen || form1 == nullptr) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(path));
        return 1;
    }

    std::vector<double> trips;
    for (int i = 0; i < 30; ++i) {
        const int blocks = form1->Memo1->blockCount();
        QElapsedTimer clock;
        clock.start();
        form1->Button2->click();
        while (form1->Memo1->blockCount() < blocks + 3 && clock.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        trips.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(trips.begin(), trips.end());

    // The line-error watch of the last command ends first; then the port only waits.
    QTest::qWait(2000);
    const double cpuBefore = CpuMilliseconds();
    // A plain event loop: the program waits as it does for an operator who does nothing.
    QEventLoop idle;
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    const double idleCpu = CpuMilliseconds() - cpuBefore;

    std::printf("%-44s %14s %14s\n", "", "configurator", "bare Qt window");
    std::printf("%-44s %11.1f ms %11.1f ms\n", "start to first paint (median of 5)",
                configurator.milliseconds, bare.milliseconds);
    std::printf("%-44s %10.1f MiB %10.1f MiB\n", "peak RSS at first paint",
                static_cast<double>(configurator.peakRssKiB) / 1024.0,
                static_cast<double>(bare.peakRssKiB) / 1024.0);
    std::printf("%-44s %11.1f ms\n", "\"Считать настройки\" round trip (median of 30)",
                trips[trips.size() / 2]);
    std::printf("%-44s %11.1f ms\n", "CPU time over 10 s idle with the port open", idleCpu);
    simulator.kill();
    simulator.waitForFinished(3000);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], "--bare") == 0) {
        return ShowUntilPainted(argc, argv, false);
    }
    if (argc > 1 && qstrcmp(argv[1], "--port-window") == 0) {
        return ShowUntilPainted(argc, argv, true);
    }
    return MeasureLink(argc, argv);
}
