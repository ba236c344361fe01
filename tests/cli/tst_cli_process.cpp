// tilu-cli as a program: its command line, environment and exit codes, against tilu-sim on a
// pseudo-terminal, against a scripted emulator of the test's own, and on ports it may not take.

#include "QtSerialPort.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kRunTimeoutMs = 15000;

struct TRun {
    int Code = -1;
    QStringList Out;
    QStringList Err;
    qint64 TookMs = 0;
};

QString DataFile(const QString& name) {
    return qEnvironmentVariable("TILU_TEST_DATA") + QLatin1Char('/') + name;
}

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

QStringList Lines(const QByteArray& text) {
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QString Row(const QString& caption, const QString& held, const QString& text) {
    return caption.leftJustified(36) + held.rightJustified(11) + QStringLiteral("  ") + text;
}

// The LAF settings of laf_delay_off.tilu as read back, shown with '.'.
const QStringList kLafTable{
    Row("Режим", "55", "LAF"),
    Row("Задержка сигнала", "55", "нет задержки"),
    Row("Скорость нарастания сигнала", "12", "0,1 V / 1.2 Sec"),
    Row("Смещение выходных напряжений", "75", "0.25 V"),
    Row("Время возникновение отклика", "45", "4.5 Sec"),
    Row("Верхняя граница", "85", "-0.15 V"),
    Row("Нижняя граница", "35", "0.35 V"),
    Row("Множественный отклик сигнала", "136", "включён"),
    Row("Длительность положительного отклика", "25", "2.5 Sec"),
    Row("Длительность отрицательного отклика", "7", "0.7 Sec"),
};

// Runs tilu-cli to its end, in the C locale unless the test says otherwise.
TRun RunCli(const QStringList& arguments, const QStringList& environment = {},
            const std::function<void()>& childModifier = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    env.remove(QStringLiteral("TILU_EXTRA_PORTS"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const QString& entry : environment) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    process.setProcessEnvironment(env);
    if (childModifier) {
        process.setChildProcessModifier(childModifier);
    }
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(TILU_CLI_PATH), arguments);
    TRun run;
    if (!process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.TookMs = clock.elapsed();
    run.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = Lines(process.readAllStandardOutput());
    run.Err = Lines(process.readAllStandardError());
    return run;
}

// tilu-sim on a pseudo-terminal of its own, ended with the test.
class Simulator {
public:
    explicit Simulator(const QStringList& faults) {
        process_.start(QStringLiteral(TILU_SIM_PATH), QStringList{"--pty"} + faults);
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < kStartTimeoutMs) {
            process_.waitForReadyRead(100);
        }
        const QString first = QString::fromUtf8(process_.readLine()).trimmed();
        if (first.startsWith(QStringLiteral("PTY /dev/"))) {
            path_ = first.mid(4);
        }
    }
    ~Simulator() {
        process_.terminate();
        if (!process_.waitForFinished(2000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    QString path() const { return path_; }
    // The simulator's log of what came and went on the line.
    QString log() {
        process_.waitForReadyRead(100);
        log_ += QString::fromUtf8(process_.readAllStandardOutput());
        return log_;
    }

private:
    QProcess process_;
    QString path_;
    QString log_;
};

// A pseudo-terminal pair whose device side tilu-cli opens; the test holds the other end.
class PtyPair {
public:
    PtyPair() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            return;
        }
        char name[128] = {};
        ::ttyname_r(slave_, name, sizeof name);
        path_ = QString::fromLocal8Bit(name);
        termios raw{};
        ::tcgetattr(slave_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() {
        ::close(master_);
        ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !path_.isEmpty(); }
    QString path() const { return path_; }
    int master() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

// An emulator of the test's own on the far end of a pair: confirms every write and answers a
// read with the reply it is given, until stopped.
class ScriptedEmulator {
public:
    ScriptedEmulator(const PtyPair& pair, QByteArray readReply)
        : fd_(pair.master()), readReply_(std::move(readReply)), thread_([this] { serve(); }) {}
    ~ScriptedEmulator() {
        stop_ = true;
        thread_.join();
    }
    ScriptedEmulator(const ScriptedEmulator&) = delete;
    ScriptedEmulator& operator=(const ScriptedEmulator&) = delete;

private:
    void serve() {
        QByteArray pending;
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0) {
                continue;
            }
            char chunk[256];
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0) {
                pending.append(chunk, got);
            }
            while (pending.size() >= 3 && pending.startsWith(Hex("CA D3"))) {
                if (pending.at(2) == '\xB9' && pending.size() >= 17) {
                    pending.remove(0, 17);
                    answer(Hex("CA D3 B9 81"));
                } else if (pending.at(2) == '\xBA') {
                    pending.remove(0, 3);
                    answer(readReply_);
                } else {
                    break;
                }
            }
        }
    }
    void answer(const QByteArray& reply) const {
        qsizetype done = 0;
        while (done < reply.size()) {
            const ssize_t n =
                ::write(fd_, reply.constData() + done, static_cast<size_t>(reply.size() - done));
            if (n > 0) {
                done += n;
            } else if (errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }

    int fd_;
    QByteArray readReply_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

class TestCliProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void helpAndWrongCommandLine();
    void portsListsTheExtraPorts();
    void filesWithoutAPort();
    void regionalSettingsReachTextsButNotJson();

    void writeThenReadBack();
    void writeVerify();
    void levels();
    void readSaveThenShow();
    void readSaveToAMissingFolder();
    void simulatorFaults_data();
    void simulatorFaults();
    void verifyNamesTheSettingThatDiffers();

    void missingPort();
    void busyPort_data();
    void busyPort();
    void permissionDenied();
};

void TestCliProcess::helpAndWrongCommandLine() {
    const TRun english = RunCli({"--help"});
    QCOMPARE(english.Code, 0);
    QCOMPARE(english.Out.value(0), "Usage: tilu-cli COMMAND [ARGUMENT]...");
    QVERIFY(english.Out.contains("  10  the port failed during the exchange (line error, device "
                                 "lost, write failed)"));

    const TRun russian = RunCli({"--help"}, {"LC_ALL=", "LANG=ru_RU.UTF-8"});
    QCOMPARE(russian.Code, 0);
    QCOMPARE(russian.Out.value(0), "Использование: tilu-cli КОМАНДА [АРГУМЕНТ]...");

    const TRun wrong = RunCli({"erase"});
    QCOMPARE(wrong.Code, 2);
    QCOMPARE(wrong.Out, QStringList());
    QCOMPARE(wrong.Err, QStringList({"tilu-cli: 'erase': unknown command",
                                     "Try 'tilu-cli --help' for more information."}));
}

void TestCliProcess::portsListsTheExtraPorts() {
    PtyPair pair;
    QVERIFY(pair.ok());
    const TRun run = RunCli({"ports"}, {"TILU_EXTRA_PORTS=" + pair.path()});
    QCOMPARE(run.Code, 0);
    QCOMPARE(run.Err, QStringList());
    QVERIFY2(run.Out.contains(pair.path()), qPrintable(run.Out.join(' ')));
}

void TestCliProcess::filesWithoutAPort() {
    const TRun differ =
        RunCli({"diff", DataFile("osg_delay_on.tilu"), DataFile("outside_domains.tilu")});
    QCOMPARE(differ.Code, 1);
    QCOMPARE(differ.Out.size(), 10);
    QCOMPARE(differ.Out.value(0), "Режим (Mode): 136 (OSG) -> 55 (LAF)");

    const TRun same =
        RunCli({"diff", DataFile("osg_delay_on.tilu"), DataFile("osg_delay_on.tilu")});
    QCOMPARE(same.Code, 0);
    QCOMPARE(same.Out, QStringList());

    const TRun missing = RunCli({"show", "/nonexistent/settings.tilu"});
    QCOMPARE(missing.Code, 3);
    QCOMPARE(missing.Err, QStringList({"Ошибка при открытие файла!",
                                       "tilu-cli: /nonexistent/settings.tilu: no such file"}));
}

void TestCliProcess::regionalSettingsReachTextsButNotJson() {
    const QStringList russian{"LC_ALL=ru_RU.UTF-8"};
    const TRun text = RunCli({"show", DataFile("reserved_and_fill.tilu")}, russian);
    QCOMPARE(text.Code, 0);
    QCOMPARE(text.Out.value(0), "Файл: " + DataFile("reserved_and_fill.tilu"));
    QCOMPARE(text.Out.value(1), "Сохранено: 31.12.2023 23:59:59");
    QCOMPARE(text.Out.value(5), Row("Скорость нарастания сигнала", "20", "0,1 V / 2 Sec"));
    QCOMPARE(text.Out.value(6), Row("Смещение выходных напряжений", "25", "-0,25 V"));

    const TRun json = RunCli({"show", "--json", DataFile("osg_delay_on.tilu")}, russian);
    QCOMPARE(json.Code, 0);
    QCOMPARE(json.Err, QStringList());
    const QString expected = QStringLiteral(R"({
  "mode": {"held": 136, "text": "OSG"},
  "settings": {
    "SignalDelay": {"held": 136, "on": true, "text": "есть задержка"},
    "RiseRate": {"held": 6, "position": 6, "text": "0,1 V / 0.6 Sec"},
    "OutputOffset": {"held": 50, "position": 0, "text": "0 V"},
    "ResponseOnset": {"held": 30, "position": 30, "text": "3 Sec"},
    "UpperBound": {"held": 9, "position": 9, "text": "0.9 V"},
    "LowerBound": {"held": 1, "position": 1, "text": "0.1 V"},
    "MultipleResponse": {"held": 55, "on": false, "text": "выключен"},
    "PositiveDuration": {"held": 20, "position": 20, "text": "2 Sec"},
    "NegativeDuration": {"held": 5, "position": 5, "text": "0.5 Sec"}
  },
  "savedAt": "2000-01-01T12:00:00.000",
  "description": "Заводская OSG"
})");
    QCOMPARE(json.Out.join(QLatin1Char('\n')), expected);
}

void TestCliProcess::writeThenReadBack() {
    Simulator sim({});
    QVERIFY(!sim.path().isEmpty());
    const TRun write = RunCli({"write", "--port", sim.path(), DataFile("laf_delay_off.tilu")});
    QCOMPARE(write.Err, QStringList());
    QCOMPARE(write.Code, 0);
    QCOMPARE(write.Out, QStringList{"Запись в эмулятор прошла успешно!"});
    QVERIFY2(sim.log().contains(
                 QRegularExpression("<- CA D3 B9 37 37 0C 4B 2D 55 23 88 19 07 00 00 00 00\n")),
             qPrintable(sim.log()));

    const TRun read = RunCli({"read", "--port", sim.path()});
    QCOMPARE(read.Err, QStringList());
    QCOMPARE(read.Code, 0);
    QCOMPARE(read.Out, QStringList{"Данные с эмулятора загружены!"} + kLafTable);
}

void TestCliProcess::writeVerify() {
    Simulator sim({});
    QVERIFY(!sim.path().isEmpty());
    const TRun run =
        RunCli({"write", "--port", sim.path(), "--verify", DataFile("outside_domains.tilu")});
    QCOMPARE(run.Err, QStringList());
    QCOMPARE(run.Code, 0);
    QCOMPARE(run.Out,
             QStringList({"Запись в эмулятор прошла успешно!", "Данные с эмулятора загружены!",
                          "Verified: the emulator holds the settings written."}));
}

void TestCliProcess::levels() {
    Simulator sim({});
    QVERIFY(!sim.path().isEmpty());
    const TRun run = RunCli({"levels", "--port", sim.path()});
    QCOMPARE(run.Err, QStringList());
    QCOMPARE(run.Code, 0);
    QCOMPARE(run.Out.size(), 12);
    const QString a = QStringLiteral("А"); // Cyrillic
    const QString v = QStringLiteral("В");
    const QStringList patterns{
        "^Канал " + a + "$",
        "^-> Уровень входного сигнала - \\d{1,5} мВ$",
        "^-> Уровень опорного входа - \\d{1,5} мВ$",
        "^-> Уровень выходного сигнала - \\d{1,5} мВ$",
        "^-> Уровень опорного выхода - \\d{1,5} мВ$",
        "^-> Статус канала " + a + " - [0-9A-F]{2}$",
        "^Канал " + v + "$",
        "^-> Уровень входного сигнала - \\d{1,5} мВ$",
        "^-> Уровень опорного входа - \\d{1,5} мВ$",
        "^-> Уровень выходного сигнала - \\d{1,5} мВ$",
        "^-> Уровень опорного выхода - \\d{1,5} мВ$",
        "^-> Статус канала " + v + " - [0-9A-F]{2}$",
    };
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        QVERIFY2(QRegularExpression(patterns[i]).match(run.Out[i]).hasMatch(),
                 qPrintable(run.Out[i]));
    }
}

void TestCliProcess::readSaveThenShow() {
    Simulator sim({});
    QVERIFY(!sim.path().isEmpty());
    QVERIFY(RunCli({"write", "--port", sim.path(), DataFile("laf_delay_off.tilu")}).Code == 0);

    QTemporaryDir folder;
    const QString path = folder.filePath("bench.tilu");
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    const TRun read =
        RunCli({"read", "--port", sim.path(), "--save", path, "--description", "Стенд №2, ёлка"});
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
    QCOMPARE(read.Err, QStringList());
    QCOMPARE(read.Code, 0);
    QCOMPARE(read.Out.mid(0, 11), QStringList{"Данные с эмулятора загружены!"} + kLafTable);
    QVERIFY(read.Out.value(11).startsWith("Записан файл -> bench.tilu-> "));
    QCOMPARE(read.Out.mid(12), QStringList({" -> Стенд №2, ёлка", " ->  режим LAF",
                                            "Файл настроек  bench.tilu  записан успешно!"}));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray record = file.readAll();
    QCOMPARE(record.size(), 328);
    QCOMPARE(record.left(40), Hex("37000000 37000000 0C000000 4B000000 2D000000 55000000 "
                                  "23000000 88000000 19000000 07000000"));
    QCOMPARE(record.mid(40, 24), QByteArray(24, '\0'));
    // The local time of saving as an OLE date.
    const auto ole = [](const QDateTime& when) {
        return static_cast<double>(QDate(1899, 12, 30).daysTo(when.date())) +
               when.time().msecsSinceStartOfDay() / 86400000.0;
    };
    const double savedAt = qFromLittleEndian<double>(record.constData() + 64);
    QVERIFY2(savedAt >= ole(before) && savedAt <= ole(after), qPrintable(QString::number(savedAt)));
    QCOMPARE(record.mid(72, 15), Hex("0E D1 F2 E5 ED E4 20 B9 32 2C 20 B8 EB EA E0"));
    QCOMPARE(record.mid(87), QByteArray(328 - 87, '\0'));

    // What was saved is what the emulator holds.
    const TRun diff = RunCli({"diff", DataFile("laf_delay_off.tilu"), path});
    QCOMPARE(diff.Out, QStringList());
    QCOMPARE(diff.Code, 0);
}

void TestCliProcess::readSaveToAMissingFolder() {
    Simulator sim({});
    QVERIFY(!sim.path().isEmpty());
    const TRun run =
        RunCli({"read", "--port", sim.path(), "--save", "/nonexistent/folder/bench.tilu"});
    QCOMPARE(run.Code, 8);
    QCOMPARE(run.Err.value(0), "Ошибка при записи файла!");
    QVERIFY2(run.Err.value(1).startsWith("tilu-cli: /nonexistent/folder/bench.tilu: cannot write"),
             qPrintable(run.Err.value(1)));
}

void TestCliProcess::simulatorFaults_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("command"); // the port follows
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("err");

    const QStringList read{"read"};
    const QStringList levels{"levels"};
    const QStringList write{"write", DataFile("osg_delay_on.tilu")};
    QTest::newRow("read, status 80") << QStringList{"--status", "80"} << read << 6
                                     << QStringList{"***  Неправильный ответ от эмулятора!",
                                                    "tilu-cli: the reply's status is 80, not 81"};
    QTest::newRow("write, status 80")
        << QStringList{"--status", "80"} << write << 6
        << QStringList{"***  С эмулятора не пришло подтверждения успешной записи  ***",
                       "tilu-cli: the emulator did not confirm the write (status 80, not 81)"};
    QTest::newRow("read, 17 bytes")
        << QStringList{"--length", "17"} << read << 7
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 17",
                       "tilu-cli: the reply has 17 bytes, not 18"};
    QTest::newRow("levels, 30 bytes")
        << QStringList{"--length", "30"} << levels << 7
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 30",
                       "tilu-cli: the reply has 30 bytes, not 26"};
    QTest::newRow("read, halves 400 ms apart")
        << QStringList{"--split", "400"} << read << 7
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 9",
                       "tilu-cli: the reply has 9 bytes, not 18"};
    QTest::newRow("write, garbage")
        << QStringList{"--garbage"} << write << 9
        << QStringList{"***  Неверный идентификатор из эмулятора  ***",
                       "Прием : (4) ->_AC_3D_B9_81",
                       "tilu-cli: the reply has no frame signature CA D3"};
    QTest::newRow("read, 400 ms late: within the watchdog")
        << QStringList{"--delay", "400"} << read << 0 << QStringList{};
    QTest::newRow("levels, silent")
        << QStringList{"--silent"} << levels << 5
        << QStringList{"*** Эмулятор не отвечает !!", "*** Проверьте связь с эмулятором !!",
                       "tilu-cli: no answer from the emulator within 1500 ms"};
}

void TestCliProcess::simulatorFaults() {
    QFETCH(QStringList, faults);
    QFETCH(QStringList, command);
    QFETCH(int, code);
    QFETCH(QStringList, err);
    Simulator sim(faults);
    QVERIFY(!sim.path().isEmpty());
    QStringList arguments{command.first(), "--port", sim.path()};
    arguments += command.mid(1);
    const TRun run = RunCli(arguments);
    QCOMPARE(run.Err, err);
    QCOMPARE(run.Code, code);
    if (code == 5) {
        QVERIFY2(run.TookMs >= 1500, qPrintable(QString::number(run.TookMs)));
    }
}

void TestCliProcess::verifyNamesTheSettingThatDiffers() {
    PtyPair pair;
    QVERIFY(pair.ok());
    // Confirms the write but keeps another lower bound: 40 where 35 was written.
    ScriptedEmulator emulator(pair, Hex("CA D3 BA 81 37 37 0C 4B 2D 55 28 88 19 07 00 00 00 00"));
    const TRun run =
        RunCli({"write", "--verify", "--port", pair.path(), DataFile("laf_delay_off.tilu")});
    QCOMPARE(run.Code, 1);
    QCOMPARE(run.Out,
             QStringList({"Запись в эмулятор прошла успешно!", "Данные с эмулятора загружены!"}));
    QCOMPARE(run.Err, QStringList({"tilu-cli: the emulator holds other settings than were "
                                   "written (written -> read back):",
                                   "Нижняя граница (LowerBound): 35 (0.35 V) -> 40 (0.4 V)"}));
}

void TestCliProcess::missingPort() {
    const TRun run = RunCli({"levels", "--port", "/dev/tilu-no-such-port"}, {"LANG=ru_RU.UTF-8"});
    QCOMPARE(run.Code, 4);
    QCOMPARE(run.Out, QStringList());
    // LC_ALL decides the language before LANG.
    QCOMPARE(run.Err, QStringList({"COM-порт не выбран!",
                                   "tilu-cli: /dev/tilu-no-such-port: no such port"}));
    const TRun russian =
        RunCli({"read", "--port", "ttyTILU_NO_SUCH_PORT"}, {"LC_ALL=", "LANG=ru_RU.UTF-8"});
    QCOMPARE(russian.Code, 4);
    QCOMPARE(russian.Err, QStringList({"COM-порт не выбран!",
                                       "tilu-cli: ttyTILU_NO_SUCH_PORT: нет такого порта"}));
}

void TestCliProcess::busyPort_data() {
    QTest::addColumn<bool>("heldByTheConfiguratorsPort");
    QTest::newRow("locked like tilu-sim locks it") << false;
    QTest::newRow("open in the configurator's serial layer") << true;
}

void TestCliProcess::busyPort() {
    QFETCH(bool, heldByTheConfiguratorsPort);
    PtyPair pair;
    QVERIFY(pair.ok());
    ScriptedEmulator emulator(pair, Hex("CA D3 BA 81 37 37 0C 4B 2D 55 23 88 19 07 00 00 00 00"));
    tilu::QtSerialPort port;
    int lock = -1;
    if (heldByTheConfiguratorsPort) {
        QVERIFY2(port.open(pair.path()), qPrintable(port.errorText()));
    } else {
        lock = ::open(pair.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(lock >= 0);
        QCOMPARE(::flock(lock, LOCK_EX | LOCK_NB), 0);
    }
    const TRun busy = RunCli({"read", "--port", pair.path()});
    QCOMPARE(busy.Code, 4);
    QCOMPARE(busy.Out, QStringList());
    QCOMPARE(busy.Err, QStringList({"COM-порт не выбран!",
                                    "tilu-cli: " + pair.path() +
                                        ": the port is busy (another program holds it)"}));

    // Let go, the same port works.
    port.close();
    if (lock >= 0) {
        ::close(lock);
    }
    const TRun free = RunCli({"read", "--port", pair.path()});
    QCOMPARE(free.Err, QStringList());
    QCOMPARE(free.Code, 0);
}

void TestCliProcess::permissionDenied() {
    PtyPair pair;
    QVERIFY(pair.ok());
    std::function<void()> modifier;
    if (::geteuid() == 0) {
        // The superuser may open any device: run as nobody, who is not in the terminal's group.
        modifier = [] {
            const gid_t nogroup = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0) {
                ::_exit(99);
            }
        };
    } else {
        QVERIFY(QFile::setPermissions(pair.path(), QFileDevice::Permissions()));
    }
    const TRun run = RunCli({"levels", "--port", pair.path()}, {}, modifier);
    QCOMPARE(run.Code, 4);
    QCOMPARE(run.Err, QStringList({"COM-порт не выбран!",
                                   "tilu-cli: " + pair.path() +
                                       ": permission denied; the user must be in the group that "
                                       "owns the port, usually dialout (sudo usermod -aG dialout "
                                       "$USER, then log in again)"}));
}

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cli_process.moc"
