// The configurator's real windows and serial port against a hostile device: the test holds the
// master side of a pseudo-terminal and plays the emulator, floods the line, bursts, hangs up
// mid-reply and answers while a modal box is open.
#include "FakeOperatorDialogs.h"
#include "MainWindow.h"
#include "PortList.h"
#include "PortSelectionWindow.h"
#include "ProcessFigures.h"
#include "PtyDevice.h"
#include "QtSerialPort.h"

#include <QRegularExpression>
#include <QTabBar>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace tilu;
using namespace tilu::testing;

namespace {

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

const QString kWriteLogLine = QStringLiteral("Запись настроек в эмулятор ");
const QString kReadLogLine = QStringLiteral("Чтение настроек из эмулятора ");
const QString kWriteConfirmed = QStringLiteral("Запись в эмулятор прошла успешно!");
const QString kSettingsLoaded = QStringLiteral("Данные с эмулятора загружены!");
const QString kBadIdentifier = QStringLiteral("***  Неверный идентификатор из эмулятора  ***");
const QString kSilent1 = QStringLiteral("*** Эмулятор не отвечает !!");
const QString kSilent2 = QStringLiteral("*** Проверьте связь с эмулятором !!");

const QByteArray kOsgDefaultsWriteFrame = Hex("CA D3 B9 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");
const QByteArray kLafDefaultsWriteFrame = Hex("CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00");
const QByteArray kReadSettingsFrame = Hex("CA D3 BA");
const QByteArray kWriteReply = Hex("CA D3 B9 81");
// OSG, delay off, rise rate 7, offset 55, onset 35, upper 8, lower 2, multiple off, 20, 5.
const QByteArray kSettingsReply = Hex("CA D3 BA 81 88 37 07 37 23 08 02 37 14 05 00 00 00 00");
const QByteArray kSettingsReplyWriteFrame =
    Hex("CA D3 B9 88 37 07 37 23 08 02 37 14 05 00 00 00 00");

// Resident growth a case may cause; Qt's first use of a path costs some, a leak per byte of a
// flood would cost far more.
constexpr qint64 kMemoryAllowance = 4 * 1024 * 1024;

// Random bytes at full speed from a thread of its own, as fast as the pseudo-terminal takes
// them. No byte is 0xCA, so no reception can carry the frame signature.
class GarbageFlood {
public:
    explicit GarbageFlood(int fd) : thread_([this, fd] { run(fd); }) {}
    ~GarbageFlood() { stop(); }
    GarbageFlood(const GarbageFlood&) = delete;
    GarbageFlood& operator=(const GarbageFlood&) = delete;

    void stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    qint64 bytesWritten() const { return written_; }

private:
    void run(int fd) {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> byte(0, 255);
        char block[4096];
        while (!stop_) {
            for (char& c : block) {
                const int value = byte(random);
                c = static_cast<char>(value == 0xCA ? 0x35 : value);
            }
            std::size_t done = 0;
            while (!stop_ && done < sizeof block) {
                const ssize_t n = ::write(fd, block + done, sizeof block - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    written_ += n;
                } else {
                    pollfd room{fd, POLLOUT, 0};
                    ::poll(&room, 1, 5);
                }
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<qint64> written_{0};
    std::thread thread_;
};

// The whole program as main() puts it together, its port list holding the test's device and a
// spare one to come back to after a loss; the operator's boxes answered by the test.
struct Program {
    Program() : ports(QStringList{device.path(), spare.path()}) {
        form2 = std::make_unique<TForm2>(state, ports, port, dialogs);
        form2->show();
    }
    ~Program() { form2.reset(); }

    bool connect(const QString& path) {
        const int index = form2->ComComboBox1->findText(path);
        if (path.isEmpty() || index < 0) {
            return false;
        }
        form2->ComComboBox1->setCurrentIndex(index);
        QTest::mouseClick(form2->Button1, Qt::LeftButton);
        form1 = form2->Form1();
        return state.PortChosen && form1 != nullptr;
    }
    QStringList log() const { return form1->Memo1->toPlainText().split(QLatin1Char('\n')); }
    qsizetype logSize() const { return form1->Memo1->document()->blockCount(); }
    QStringList logSince(qsizetype lines) const { return log().mid(lines); }
    void clickPage(int index) {
        QTabBar* tabs = form1->PageControl1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
    }
    QByteArray storedReception() const {
        const auto count = static_cast<qsizetype>(state.Link.RxCount);
        return QByteArray(reinterpret_cast<const char*>(state.Link.RxBuffer.data()), count);
    }

    PtyDevice device;
    PtyDevice spare;
    TProgramState state;
    SystemPortList ports;
    QtSerialPort port;
    FakeOperatorDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    TForm1* form1 = nullptr;
};

bool SameModeSettings(const TModeSettings& a, const TModeSettings& b) {
    return a.SignalDelay == b.SignalDelay && a.RiseRate == b.RiseRate &&
           a.OutputOffset == b.OutputOffset && a.ResponseOnset == b.ResponseOnset &&
           a.UpperBound == b.UpperBound && a.LowerBound == b.LowerBound &&
           a.MultipleResponse == b.MultipleResponse && a.PositiveDuration == b.PositiveDuration &&
           a.NegativeDuration == b.NegativeDuration;
}

} // namespace

class HostileLineTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void garbageFloodWhileCommandsAreIssued();
    void burstReplyKeepsOnly256Bytes();
    void peerVanishesInTheMiddleOfAReply_data();
    void peerVanishesInTheMiddleOfAReply();
    void replyWhileThePageSwitchBoxIsOpenIsLeftUnread();
    void replyWhileTheWatchdogBoxIsOpenIsLeftUnread();
    void awaitedReplyDuringThePageSwitchBoxIsTakenOnce();
    void secondReplyWhileTheDecodersBoxIsOpenIsNotTaken();

private:
    // A normal write command on the given device: its frame, the confirmation, one line, one box.
    void confirmWrite(PtyDevice& device, const QByteArray& expectedFrame);

    std::unique_ptr<Program> program_;
    qint64 residentAtStart_ = 0;
};

void HostileLineTest::init() {
    program_ = std::make_unique<Program>();
    QVERIFY2(program_->device.ok() && program_->spare.ok(), "no pseudo-terminal");
    QVERIFY(program_->connect(program_->device.path()));
    // Warms up every path the cases take before the memory figure is taken.
    confirmWrite(program_->device, kOsgDefaultsWriteFrame);
    residentAtStart_ = ResidentBytes();
}

void HostileLineTest::cleanup() {
    if (program_ && residentAtStart_ > 0 && !QTest::currentTestFailed()) {
        const qint64 growth = ResidentBytes() - residentAtStart_;
        qInfo("resident growth: %.2f MB%s", Megabytes(growth),
              kResidentGrowthIsMeaningful ? "" : " (not judged under AddressSanitizer)");
        if (kResidentGrowthIsMeaningful) {
            QVERIFY2(growth < kMemoryAllowance, qPrintable(QString::number(growth)));
        }
    }
    program_.reset();
    residentAtStart_ = 0;
}

void HostileLineTest::confirmWrite(PtyDevice& device, const QByteArray& expectedFrame) {
    Program& program = *program_;
    device.drain();
    program.dialogs.calls.clear();
    const qsizetype mark = program.logSize();
    QTest::mouseClick(program.form1->Button1, Qt::LeftButton);
    QCOMPARE(device.receive(17).toHex(' '), expectedFrame.toHex(' '));
    QVERIFY(device.send(kWriteReply));
    QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                              (QStringList{QString(), kWriteLogLine, kWriteConfirmed}), 3000);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"beep", QStringLiteral("information: ") + kWriteConfirmed}));
    QCOMPARE(program.state.Link.RxCount, 4);
    QVERIFY(!program.state.AwaitingReply);
    program.dialogs.calls.clear();
}

void HostileLineTest::garbageFloodWhileCommandsAreIssued() {
    Program& program = *program_;
    const qsizetype mark = program.logSize();
    int commands = 0;
    qint64 flooded = 0;
    {
        GarbageFlood flood(program.device.master());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
            ++commands;
            QTest::qWait(300);
        }
        flood.stop();
        flooded = flood.bytesWritten();
    }
    QVERIFY(WaitFor([&] { return !program.state.AwaitingReply; }, 2000));
    QTest::qWait(200);
    qInfo("flood: %lld bytes in 10 s, %d commands", static_cast<long long>(flooded), commands);
    QVERIFY(flooded > 100000);

    // Every command went out whole through the flood.
    QCOMPARE(program.device.drain(), kReadSettingsFrame.repeated(commands));

    // Each command: its two lines, then exactly one reception report of at most 256 bytes.
    const QStringList lines = program.logSince(mark);
    const QRegularExpression dump(QStringLiteral("^Прием : \\((\\d+)\\) ->((?:_[0-9A-F]{1,2})*)$"));
    QCOMPARE(lines.size(), commands * 4);
    for (int i = 0; i < commands; ++i) {
        const QStringList block = lines.mid(i * 4, 4);
        QCOMPARE(block.mid(0, 3), (QStringList{QString(), kReadLogLine, kBadIdentifier}));
        const QRegularExpressionMatch match = dump.match(block.at(3));
        QVERIFY2(match.hasMatch(), qPrintable(block.at(3)));
        const int count = match.captured(1).toInt();
        QVERIFY2(count >= 1 && count <= 256, qPrintable(block.at(3).left(40)));
        QCOMPARE(match.captured(2).count(QLatin1Char('_')), count);
    }
    QVERIFY(program.state.Link.RxCount <= 256);
    // Garbage is reported in the log alone.
    QCOMPARE(program.dialogs.calls, QStringList{});

    confirmWrite(program.device, kOsgDefaultsWriteFrame);
}

void HostileLineTest::burstReplyKeepsOnly256Bytes() {
    Program& program = *program_;
    const TEmulatorSettings before = program.state.Settings;
    QByteArray burst = Hex("CA D3 BA 81");
    for (int i = 0; burst.size() < 5000; ++i) {
        burst.append(static_cast<char>((i * 37 + 11) % 256));
    }

    qsizetype mark = program.logSize();
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.device.receive(3), kReadSettingsFrame);
    QVERIFY(program.device.send(burst));
    QTRY_COMPARE_WITH_TIMEOUT(
        program.logSince(mark),
        (QStringList{QString(), kReadLogLine, "***  Не правильное кол-во байт от эмулятора - 256"}),
        3000);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"beep", "information: Не правильное кол-во байт от эмулятора - 256"}));
    QCOMPARE(program.state.Link.RxCount, 256);
    QCOMPARE(program.storedReception(), burst.left(256));
    QVERIFY(SameModeSettings(program.state.Settings.OsgSettings, before.OsgSettings));
    QCOMPARE(program.state.Settings.Mode, TEmulatorMode::OSG);

    // The rest was discarded, not left to be taken as a later reply.
    QTest::qWait(300);
    QCOMPARE(program.port.waitingByteCount(), qint64(0));
    QCOMPARE(program.logSince(mark).size(), 3);
    QCOMPARE(program.dialogs.calls.size(), 2);

    program.dialogs.calls.clear();
    mark = program.logSize();
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.device.receive(3), kReadSettingsFrame);
    QVERIFY(program.device.send(kSettingsReply));
    QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                              (QStringList{QString(), kReadLogLine, kSettingsLoaded}), 3000);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"beep", QStringLiteral("information: ") + kSettingsLoaded}));
    QCOMPARE(program.state.Link.RxCount, 18);
    QCOMPARE(program.storedReception(), kSettingsReply);
    confirmWrite(program.device, kSettingsReplyWriteFrame);
}

void HostileLineTest::peerVanishesInTheMiddleOfAReply_data() {
    QTest::addColumn<int>("hangUpAfterMs");
    QTest::newRow("hung up with the first half") << 0;
    QTest::newRow("hung up while the reply settles") << 25;
}

void HostileLineTest::peerVanishesInTheMiddleOfAReply() {
    QFETCH(int, hangUpAfterMs);
    Program& program = *program_;
    const qsizetype mark = program.logSize();
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.device.receive(3), kReadSettingsFrame);

    std::thread peer([&program, hangUpAfterMs] {
        program.device.send(kSettingsReply.left(9));
        std::this_thread::sleep_for(std::chrono::milliseconds(hangUpAfterMs));
        program.device.hangUp();
    });
    const bool lost = WaitFor([&] { return !program.state.PortChosen; }, 3000);
    peer.join();
    QVERIFY(lost);
    QVERIFY(!program.port.isOpen());

    // Past the watchdog's time: the loss stopped it, and nothing else is reported.
    const double cpuBefore = ProcessCpuMilliseconds();
    QTest::qWait(1000);
    const double cpuSpent = ProcessCpuMilliseconds() - cpuBefore;
    qInfo("CPU over 1 s after the loss: %.1f ms", cpuSpent);
    QVERIFY2(cpuSpent < 50.0, "busy after the device was lost");
    QTest::qWait(700);

    // The half reply may or may not have been read before the loss; either way it is reported
    // at most once, and the loss exactly once.
    const QStringList calls = program.dialogs.calls;
    const QStringList lossBoxes =
        calls.filter(QRegularExpression(QStringLiteral("^error: Связь с COM-портом потеряна")));
    QCOMPARE(lossBoxes.size(), 1);
    QVERIFY2(lossBoxes.first().endsWith(
                 QStringLiteral("\n\rНадо снова выбрать COM-порт для работы с эмулятором")),
             qPrintable(lossBoxes.first()));
    const QStringList countReport{"beep",
                                  "information: Не правильное кол-во байт от эмулятора - 9"};
    const bool halfReported = calls.size() == 3;
    qInfo("half reply %s before the loss", halfReported ? "read and reported" : "not read");
    QCOMPARE(calls.mid(0, calls.size() - 1), halfReported ? countReport : QStringList{});

    QStringList lines = program.logSince(mark);
    QCOMPARE(lines.mid(0, 2), (QStringList{QString(), kReadLogLine}));
    lines = lines.mid(2);
    if (halfReported) {
        QCOMPARE(lines.first(), QStringLiteral("***  Не правильное кол-во байт от эмулятора - 9"));
        lines.removeFirst();
    }
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QString());
    QVERIFY(lines.at(1).startsWith(QStringLiteral("***  Связь с COM-портом потеряна")));
    QVERIFY(!program.state.AwaitingReply);

    // The way back to the port selection window, and on with another device.
    program.dialogs.calls.clear();
    program.dialogs.yesNoAnswers.push_back(YesNoAnswer::Yes);
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"beep", "warning: COM-порт не выбран!\n\rНадо выбрать COM-порт для "
                                  "работы с эмулятором"}));
    QVERIFY(program.form2->isVisible());
    QVERIFY(program.form1->isHidden());
    QVERIFY(program.connect(program.spare.path()));
    QVERIFY(program.form1->isVisible());
    program.dialogs.calls.clear();
    confirmWrite(program.spare, kOsgDefaultsWriteFrame);
}

void HostileLineTest::replyWhileThePageSwitchBoxIsOpenIsLeftUnread() {
    Program& program = *program_;
    const qsizetype mark = program.logSize();
    program.dialogs.whileModal = [&program] {
        program.device.send(kSettingsReply);
        QTest::qWait(200);
    };
    program.clickPage(1);
    QCOMPARE(program.dialogs.calls, QStringList{"information: Переключение в режим LAF"});
    QCOMPARE(program.logSince(mark), (QStringList{QString(), "Переключение в режим LAF"}));

    // No reply was awaited: the bytes wait in the port until the next command purges them.
    QTest::qWait(100);
    QCOMPARE(program.port.waitingByteCount(), qint64(kSettingsReply.size()));
    QCOMPARE(program.state.Link.RxCount, 4);
    QCOMPARE(program.state.Settings.Mode, TEmulatorMode::LAF);
    QCOMPARE(program.dialogs.calls.size(), 1);
    confirmWrite(program.device, kLafDefaultsWriteFrame);
}

void HostileLineTest::replyWhileTheWatchdogBoxIsOpenIsLeftUnread() {
    Program& program = *program_;
    const TEmulatorSettings before = program.state.Settings;
    const qsizetype mark = program.logSize();
    program.dialogs.whileModal = [&program] {
        program.device.send(kSettingsReply);
        QTest::qWait(200);
    };
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.device.receive(3), kReadSettingsFrame);
    QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                              (QStringList{QString(), kReadLogLine, kSilent1, kSilent2}), 3000);
    QCOMPARE(program.dialogs.calls, QStringList{"error: " + kSilent1});

    // The watchdog gave the reply up before it came: it is not read.
    QTest::qWait(100);
    QCOMPARE(program.port.waitingByteCount(), qint64(kSettingsReply.size()));
    QCOMPARE(program.state.Link.RxCount, 4);
    QVERIFY(SameModeSettings(program.state.Settings.OsgSettings, before.OsgSettings));
    QCOMPARE(program.logSince(mark).size(), 4);
    QCOMPARE(program.dialogs.calls.size(), 1);
    confirmWrite(program.device, kOsgDefaultsWriteFrame);
}

void HostileLineTest::awaitedReplyDuringThePageSwitchBoxIsTakenOnce() {
    Program& program = *program_;
    const qsizetype mark = program.logSize();
    QTest::mouseClick(program.form1->Button2, Qt::LeftButton);
    QCOMPARE(program.device.receive(3), kReadSettingsFrame);
    QVERIFY(program.state.AwaitingReply);

    // The operator switches to LAF; the awaited OSG reply arrives while that box is open.
    program.dialogs.whileModal = [&program] {
        program.device.send(kSettingsReply);
        QTest::qWait(200);
    };
    program.clickPage(1);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"information: Переключение в режим LAF", "beep",
                          QStringLiteral("information: ") + kSettingsLoaded}));
    QCOMPARE(program.logSince(mark), (QStringList{QString(), kReadLogLine, QString(),
                                                  "Переключение в режим LAF", kSettingsLoaded}));
    QCOMPARE(program.state.Link.RxCount, 18);

    // The reply came last: its mode stands, with its page.
    QCOMPARE(program.state.Settings.Mode, TEmulatorMode::OSG);
    QCOMPARE(program.form1->PageControl1->currentIndex(), 0);
    QCOMPARE(program.state.Settings.OsgSettings.RiseRate, 7);

    QTest::qWait(300);
    QCOMPARE(program.logSince(mark).size(), 5);
    QCOMPARE(program.dialogs.calls.size(), 3);
    confirmWrite(program.device, kSettingsReplyWriteFrame);
}

void HostileLineTest::secondReplyWhileTheDecodersBoxIsOpenIsNotTaken() {
    Program& program = *program_;
    const qsizetype mark = program.logSize();
    QTest::mouseClick(program.form1->Button1, Qt::LeftButton);
    QCOMPARE(program.device.receive(17), kOsgDefaultsWriteFrame);
    // A device that repeats itself: the copy arrives while the confirmation box is open.
    program.dialogs.whileModal = [&program] {
        program.device.send(kWriteReply);
        QTest::qWait(200);
    };
    QVERIFY(program.device.send(kWriteReply));
    QTRY_COMPARE_WITH_TIMEOUT(program.logSince(mark),
                              (QStringList{QString(), kWriteLogLine, kWriteConfirmed}), 3000);
    QTest::qWait(300);
    QCOMPARE(program.logSince(mark).size(), 3);
    QCOMPARE(program.dialogs.calls,
             (QStringList{"beep", QStringLiteral("information: ") + kWriteConfirmed}));
    QCOMPARE(program.port.waitingByteCount(), qint64(kWriteReply.size()));
    confirmWrite(program.device, kOsgDefaultsWriteFrame);
}

QTEST_MAIN(HostileLineTest)
#include "tst_hostile_line.moc"
