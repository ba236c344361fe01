#include "FakeProgram.h"
#include "FileCommandFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <optional>

using namespace tilu;
using namespace tilu::testing;

Q_DECLARE_METATYPE(tilu::TModeSettings)
Q_DECLARE_METATYPE(tilu::TEmulatorMode)

namespace {

const QString kOpenError = QStringLiteral("error: Ошибка при открытие файла!");
const QString kWriteError = QStringLiteral("error: Ошибка при записи файла!");
const QString kInputCall = QStringLiteral(
    "input: Запись настроек|Введите краткое описание этой настройки|Новая настройка|255");

QString DataFile(const QString& name) {
    return qEnvironmentVariable("TILU_TEST_DATA") + QLatin1Char('/') + name;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

double SavedAtOf(const QByteArray& record) {
    return qFromLittleEndian<double>(record.constData() + 64);
}

double OleOf(const QDateTime& when) {
    return static_cast<double>(QDate(1899, 12, 30).daysTo(when.date())) +
           when.time().msecsSinceStartOfDay() / 86400000.0;
}

QDateTime FromOle(double ole) {
    auto days = static_cast<qint64>(std::floor(ole));
    auto ms = static_cast<int>(std::llround((ole - static_cast<double>(days)) * 86400000.0));
    if (ms >= 86400000) {
        ++days;
        ms = 0;
    }
    return QDateTime(QDate(1899, 12, 30).addDays(days), QTime::fromMSecsSinceStartOfDay(ms));
}

// The timestamp is the only text that depends on the regional settings.
QString ExpectedTimestamp(const QDateTime& when) {
    const QLocale locale = QLocale::system();
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        QString format = locale.timeFormat(QLocale::LongFormat);
        format.remove(QRegularExpression(QStringLiteral("\\s*t+")));
        text += QLatin1Char(' ') + locale.toString(time, format.trimmed());
    }
    return text;
}

bool IsRoot() {
    return ::geteuid() == 0;
}

struct PagesSnapshot {
    int page = -1;
    QStringList edits;
    QList<bool> states;
    friend bool operator==(const PagesSnapshot&, const PagesSnapshot&) = default;
};

struct Rig : FakeProgram {
    QTemporaryDir dir;

    Rig() {
        openMainWindowWithoutPort();
        state.Settings.Mode = TEmulatorMode::OSG;
        state.Settings.OsgSettings = {true, 7, 45, 20, 8, 3, false, 30, 4};
        state.Settings.LafSettings = {false, 9, 55, 40, 60, 25, true, 35, 6};
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList lastLogLines(int count) const { return log().mid(log().size() - count); }

    void save(const std::optional<QString>& description, const std::optional<QString>& file) {
        dialogs.inputAnswers.push_back(description);
        dialogs.saveAnswers.push_back(file);
        QTest::mouseClick(form1->Button4, Qt::LeftButton);
    }
    void open(const std::optional<QString>& file) {
        dialogs.openAnswers.push_back(file);
        QTest::mouseClick(form1->Button3, Qt::LeftButton);
    }

    PagesSnapshot pages() const {
        PagesSnapshot s;
        s.page = form1->PageControl1->currentIndex();
        for (QLineEdit* edit : form1->Edit) {
            s.edits << (edit ? edit->text() : QString());
        }
        for (QAbstractButton* button : {static_cast<QAbstractButton*>(form1->CheckBox1),
                                        static_cast<QAbstractButton*>(form1->CheckBox2),
                                        static_cast<QAbstractButton*>(form1->RadioButton1),
                                        static_cast<QAbstractButton*>(form1->RadioButton2),
                                        static_cast<QAbstractButton*>(form1->RadioButton3),
                                        static_cast<QAbstractButton*>(form1->RadioButton4)}) {
            s.states << (button && button->isChecked());
        }
        return s;
    }
};

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

// Lowers the largest file this process may write, so that the next write fails as on a full
// disk. Restores the limit when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
    bool ok_ = false;
};

// A small tmpfs of its own, for failures that permissions cannot cause for root: a full disk
// and a read-only filesystem. Needs root and a kernel that lets the test mount.
class ScratchMount {
public:
    explicit ScratchMount(const QString& folder) : folder_(folder) {
        mounted_ = IsRoot() && QDir().mkpath(folder) &&
                   ::mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=16k") == 0;
    }
    ~ScratchMount() {
        if (mounted_) {
            ::umount2(qPrintable(folder_), MNT_DETACH);
        }
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool mounted() const { return mounted_; }
    bool makeReadOnly() {
        return ::mount("tmpfs", qPrintable(folder_), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=16k") ==
               0;
    }

private:
    QString folder_;
    bool mounted_ = false;
};

// A home folder of the test's own, so that the documents folder is known: Qt finds it through
// HOME and the user-dirs.dirs under it.
class TemporaryHome {
public:
    TemporaryHome()
        : savedHome_(qgetenv("HOME")), savedConfigHome_(qgetenv("XDG_CONFIG_HOME")),
          hadConfigHome_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
        qputenv("HOME", QFile::encodeName(dir_.path()));
        qunsetenv("XDG_CONFIG_HOME");
    }
    ~TemporaryHome() {
        qputenv("HOME", savedHome_);
        if (hadConfigHome_) {
            qputenv("XDG_CONFIG_HOME", savedConfigHome_);
        }
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QByteArray savedHome_;
    QByteArray savedConfigHome_;
    bool hadConfigHome_;
};

// Makes a folder read-only for this test alone: a read-only bind mount of the folder onto
// itself, in a mount namespace of the test's own that no other process sees. Needs root.
class ReadOnlyBind {
public:
    explicit ReadOnlyBind(const QString& folder) : folder_(QFile::encodeName(folder)) {
        bound_ = IsRoot() && ::unshare(CLONE_NEWNS) == 0 &&
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                 ::mount(folder_.constData(), folder_.constData(), nullptr, MS_BIND, nullptr) == 0;
        readOnly_ = bound_ && ::mount(nullptr, folder_.constData(), nullptr,
                                      MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyBind() {
        if (bound_) {
            ::umount2(folder_.constData(), MNT_DETACH);
        }
    }
    ReadOnlyBind(const ReadOnlyBind&) = delete;
    ReadOnlyBind& operator=(const ReadOnlyBind&) = delete;
    bool ok() const { return readOnly_; }

private:
    QByteArray folder_;
    bool bound_ = false;
    bool readOnly_ = false;
};

QString Canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

class FileCommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saveThenOpenRestoresModeAndItsSettingsOnly_data() {
        QTest::addColumn<TEmulatorMode>("mode");
        QTest::addColumn<TModeSettings>("settings");
        QTest::addColumn<QByteArray>("first40");
        QTest::addColumn<QString>("modeText");
        QTest::newRow("OSG delay on")
            << TEmulatorMode::OSG << TModeSettings{true, 6, 50, 30, 9, 1, false, 20, 5}
            << QByteArray::fromHex("88000000 88000000 06000000 32000000 1e000000"
                                   "09000000 01000000 37000000 14000000 05000000")
            << QStringLiteral(" ->  режим OSG");
        QTest::newRow("LAF delay off, outside domains")
            << TEmulatorMode::LAF << TModeSettings{false, 100, 0, 65566, 85, -5, true, 40, 10}
            << QByteArray::fromHex("37000000 37000000 64000000 00000000 1e000100"
                                   "55000000 fbffffff 88000000 28000000 0a000000")
            << QStringLiteral(" ->  режим LAF");
    }
    void saveThenOpenRestoresModeAndItsSettingsOnly() {
        QFETCH(TEmulatorMode, mode);
        QFETCH(TModeSettings, settings);
        QFETCH(QByteArray, first40);
        QFETCH(QString, modeText);
        Rig rig;
        QDir::setCurrent(QDir::rootPath());
        rig.state.Settings.Mode = mode;
        rig.state.Settings.Of(mode) = settings;
        const QDateTime before = QDateTime::currentDateTime();
        rig.save(QStringLiteral("Проверка №1 ё"), rig.path(QStringLiteral("rt.tilu")));
        const QDateTime after = QDateTime::currentDateTime();

        QCOMPARE(rig.dialogs.calls,
                 (QStringList{kInputCall, QStringLiteral("save: ") + ProgramFolder() + "|xxx",
                              QStringLiteral("information: Файл настроек  rt.tilu  записан "
                                             "успешно!")}));
        QCOMPARE(QDir::currentPath(), ProgramFolder());
        const QByteArray file = ReadAll(rig.path(QStringLiteral("rt.tilu")));
        QCOMPARE(file.size(), 328);
        QCOMPARE(file.left(40), first40);
        QCOMPARE(file.mid(40, 24), QByteArray(24, '\0'));
        QCOMPARE(file.mid(72, 14), QByteArray::fromHex("0d cff0eee2e5f0eae0 20 b9 31 20 b8"));
        QCOMPARE(file.mid(86), QByteArray(328 - 86, '\0'));
        const double savedAt = SavedAtOf(file);
        QVERIFY2(savedAt >= OleOf(before) - 1e-9 && savedAt <= OleOf(after) + 1e-9,
                 qPrintable(QString::number(savedAt, 'f', 10)));
        QCOMPARE(rig.lastLogLines(4), (QStringList{QString(),
                                                   QStringLiteral("Записан файл -> rt.tilu-> ") +
                                                       ExpectedTimestamp(FromOle(savedAt)),
                                                   QStringLiteral(" -> Проверка №1 ё"), modeText}));

        // The other mode and a changed current mode: the open restores only the file's mode.
        const TEmulatorMode other =
            mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        const TModeSettings otherBefore{true, 2, 25, 5, 7, 2, true, 5, 1};
        rig.state.Settings.Mode = other;
        rig.state.Settings.Of(other) = otherBefore;
        rig.state.Settings.Of(mode) = TModeSettings{};
        rig.state.RecordImage = TSettingsFileRecord{};
        rig.dialogs.calls.clear();
        rig.open(rig.path(QStringLiteral("rt.tilu")));

        QCOMPARE(rig.dialogs.calls,
                 (QStringList{QStringLiteral("open: ") + ProgramFolder() + "| xxx ",
                              QStringLiteral("information: Файл настроек  rt.tilu  успешно "
                                             "открыт!\n\r\n\rПроверка №1 ё")}));
        QCOMPARE(rig.state.Settings.Mode, mode);
        QCOMPARE(rig.state.Settings.Of(mode), settings);
        QCOMPARE(rig.state.Settings.Of(other), otherBefore);
        QCOMPARE(rig.lastLogLines(4), (QStringList{QString(),
                                                   QStringLiteral("Загружен файл -> rt.tilu-> ") +
                                                       ExpectedTimestamp(FromOle(savedAt)),
                                                   QStringLiteral(" -> Проверка №1 ё"), modeText}));
    }

    void referenceFileOpensFieldByField_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<TEmulatorMode>("mode");
        QTest::addColumn<TModeSettings>("settings");
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QString>("logDescription");
        QTest::addColumn<QString>("boxDescription");
        QTest::addColumn<QString>("modeText");

        const QString digits = QStringLiteral("0123456789").repeated(25);
        QTest::newRow("OSG delay on")
            << "osg_delay_on.tilu" << TEmulatorMode::OSG
            << TModeSettings{true, 6, 50, 30, 9, 1, false, 20, 5}
            << ExpectedTimestamp(QDateTime(QDate(2000, 1, 1), QTime(12, 0)))
            << QStringLiteral("Заводская OSG") << QStringLiteral("Заводская OSG")
            << QStringLiteral(" ->  режим OSG");
        QTest::newRow("LAF delay off, saved at midnight")
            << "laf_delay_off.tilu" << TEmulatorMode::LAF
            << TModeSettings{false, 12, 75, 45, 85, 35, true, 25, 7}
            << QLocale::system().toString(QDate(2024, 3, 15), QLocale::ShortFormat)
            << QStringLiteral("Стенд №2, ёлка") << QStringLiteral("Стенд №2, ёлка")
            << QStringLiteral(" ->  режим LAF");
        QTest::newRow("reserved and fill bytes")
            << "reserved_and_fill.tilu" << TEmulatorMode::OSG
            << TModeSettings{false, 20, 25, 50, 6, 4, true, 40, 10}
            << ExpectedTimestamp(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59)))
            << QStringLiteral("abc") << QStringLiteral("abc") << QStringLiteral(" ->  режим OSG");
        QTest::newRow("length byte 255, mode 0")
            << "length_255.tilu" << TEmulatorMode::LAF
            << TModeSettings{true, 2, 100, 5, 10, 40, false, 5, 1}
            << ExpectedTimestamp(QDateTime(QDate(1999, 12, 31), QTime(8, 5, 9))) << digits
            << digits + QStringLiteral("ЁЛКИ!") << QStringLiteral(" ->  режим LAF");
        QTest::newRow("values outside the domains")
            << "outside_domains.tilu" << TEmulatorMode::LAF
            << TModeSettings{false, 300, 0, 65566, -90, -5, true, 2147483647, -1}
            << ExpectedTimestamp(QDateTime(QDate(2010, 6, 1), QTime(10, 20, 30)))
            << QStringLiteral("вне диапазона") << QStringLiteral("вне диапазона")
            << QStringLiteral(" ->  режим LAF");
        QTest::newRow("SavedAt not a number")
            << "unshowable_date.tilu" << TEmulatorMode::OSG
            << TModeSettings{true, 7, 60, 35, 8, 2, true, 15, 3}
            << QStringLiteral("(дата не распознана)") << QStringLiteral("без даты")
            << QStringLiteral("без даты") << QStringLiteral(" ->  режим OSG");
    }
    void referenceFileOpensFieldByField() {
        QFETCH(QString, file);
        QFETCH(TEmulatorMode, mode);
        QFETCH(TModeSettings, settings);
        QFETCH(QString, timestamp);
        QFETCH(QString, logDescription);
        QFETCH(QString, boxDescription);
        QFETCH(QString, modeText);
        Rig rig;
        rig.state.Settings.Mode =
            mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        const TEmulatorSettings before = rig.state.Settings;
        // A path of another folder: only the last component is shown.
        rig.open(DataFile(file));

        QCOMPARE(rig.dialogs.calls.size(), 2);
        QCOMPARE(rig.dialogs.calls.at(1), QStringLiteral("information: Файл настроек  ") + file +
                                              QStringLiteral("  успешно открыт!\n\r\n\r") +
                                              boxDescription);
        QCOMPARE(rig.state.Settings.Mode, mode);
        QCOMPARE(rig.state.Settings.Of(mode), settings);
        const TEmulatorMode other =
            mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        QCOMPARE(rig.state.Settings.Of(other), before.Of(other));
        QCOMPARE(
            rig.lastLogLines(4),
            (QStringList{QString(), QStringLiteral("Загружен файл -> ") + file + "-> " + timestamp,
                         QStringLiteral(" -> ") + logDescription, modeText}));
        const QByteArray image(reinterpret_cast<const char*>(rig.state.RecordImage.Bytes.data()),
                               328);
        QCOMPARE(image, ReadAll(DataFile(file)));
    }

    // The timestamp in regional settings whose formats are known: the time without a zone,
    // and the date alone at midnight. Other settings are covered by the tests above.
    void timestampTextInKnownRegionalSettings() {
        const QString name = QLocale::system().name();
        const QHash<QString, QStringList> expected{
            {QStringLiteral("C"), {"1 Jan 2000 12:00:00", "15 Mar 2024"}},
            {QStringLiteral("en_US"), {"1/1/00 12:00:00 PM", "3/15/24"}},
            {QStringLiteral("ru_RU"), {"01.01.2000 12:00:00", "15.03.2024"}},
        };
        if (!expected.contains(name)) {
            QSKIP("no literal timestamps for these regional settings");
        }
        Rig rig;
        rig.open(DataFile(QStringLiteral("osg_delay_on.tilu")));
        QCOMPARE(rig.log().at(rig.log().size() - 3),
                 QStringLiteral("Загружен файл -> osg_delay_on.tilu-> ") + expected[name].at(0));
        rig.open(DataFile(QStringLiteral("laf_delay_off.tilu")));
        QCOMPARE(rig.log().at(rig.log().size() - 3),
                 QStringLiteral("Загружен файл -> laf_delay_off.tilu-> ") + expected[name].at(1));
    }

    // Bytes a save doesn't fill come from the file read last: Reserved, the fill and the
    // description bytes behind the new, shorter description.
    void resaveCarriesTheUnfilledBytesOfTheLastFileRead() {
        Rig rig;
        rig.open(DataFile(QStringLiteral("reserved_and_fill.tilu")));
        rig.save(QStringLiteral("XY"), rig.path(QStringLiteral("again.tilu")));
        QCOMPARE(rig.dialogs.calls.last(),
                 QStringLiteral("information: Файл настроек  again.tilu  записан успешно!"));
        const QByteArray file = ReadAll(rig.path(QStringLiteral("again.tilu")));
        QCOMPARE(file.size(), 328);
        QCOMPARE(file.left(40),
                 QByteArray::fromHex("88000000 37000000 14000000 19000000 32000000"
                                     "06000000 04000000 88000000 28000000 0a000000"));
        QCOMPARE(file.mid(40, 24),
                 QByteArray::fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7"));
        QCOMPARE(file.mid(72, 13), QByteArray("\x02XYcleft-over", 13));
        QCOMPARE(file.mid(85, 238), QByteArray(238, '\0'));
        QCOMPARE(file.mid(323), QByteArray::fromHex("f1f2f3f4f5"));

        rig.open(DataFile(QStringLiteral("length_255.tilu")));
        rig.save(std::nullopt, rig.path(QStringLiteral("third.tilu")));
        const QByteArray third = ReadAll(rig.path(QStringLiteral("third.tilu")));
        QCOMPARE(third.left(4), QByteArray::fromHex("37000000"));
        QCOMPARE(third.mid(40, 24), QByteArray(24, '\0'));
        QCOMPARE(third.mid(72, 16), QByteArray::fromHex("0f cdeee2e0ff20ede0f1f2f0eee9eae0"));
        QCOMPARE(third.mid(88, 235), QByteArray("56789") + QByteArray("0123456789").repeated(23));
        QCOMPARE(third.mid(323), QByteArray::fromHex("a8cbcac821"));
    }

    // The content is taken before the input box opens; the log reads the mode afterwards.
    void modeChangedWhileInputBoxIsOpenReachesOnlyTheLog() {
        Rig rig;
        rig.dialogs.whileModal = [&] {
            rig.state.Settings.Mode = TEmulatorMode::LAF;
            rig.state.Settings.OsgSettings.RiseRate = 49;
        };
        rig.save(QStringLiteral("d"), rig.path(QStringLiteral("m.tilu")));
        const QByteArray file = ReadAll(rig.path(QStringLiteral("m.tilu")));
        QCOMPARE(file.left(12), QByteArray::fromHex("88000000 88000000 07000000"));
        QCOMPARE(rig.log().last(), QStringLiteral(" ->  режим LAF"));
    }

    void cancelPaths_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("inputCancelled");
        QTest::newRow("save dialog cancelled after the input box") << true << false;
        QTest::newRow("input box and save dialog cancelled") << true << true;
        QTest::newRow("open dialog cancelled") << false << false;
    }
    void cancelPaths() {
        QFETCH(bool, save);
        QFETCH(bool, inputCancelled);
        Rig rig;
        const TEmulatorSettings settings = rig.state.Settings;
        const QStringList log = rig.log();
        const PagesSnapshot pages = rig.pages();
        if (save) {
            rig.save(inputCancelled ? std::nullopt : std::optional(QStringLiteral("Ж")),
                     std::nullopt);
            QCOMPARE(rig.dialogs.calls,
                     (QStringList{kInputCall, QStringLiteral("save: ") + ProgramFolder() + "|xxx",
                                  QStringLiteral("information: Не записано!")}));
            // The image already holds the new content; nothing else shows it.
            const auto& image = rig.state.RecordImage.Bytes;
            QCOMPARE(int(image[0]), 0x88);
            QCOMPARE(int(image[8]), 7);
            const QByteArray description(reinterpret_cast<const char*>(image.data()) + 72, 17);
            QCOMPARE(description,
                     inputCancelled ? QByteArray::fromHex("0f cdeee2e0ff20ede0f1f2f0eee9eae0 00")
                                    : QByteArray::fromHex("01 c6 000000000000000000000000000000"));
        } else {
            rig.open(std::nullopt);
            QCOMPARE(rig.dialogs.calls,
                     (QStringList{QStringLiteral("open: ") + ProgramFolder() + "| xxx ",
                                  QStringLiteral("information: Файл не выбран!")}));
        }
        QVERIFY(Entries(rig.dir.path()).isEmpty());
        QCOMPARE(rig.state.Settings, settings);
        QCOMPARE(rig.log(), log);
        QCOMPARE(rig.pages(), pages);
    }

    void inputBoxCancelledSavesThePresetDescription() {
        Rig rig;
        rig.save(std::nullopt, rig.path(QStringLiteral("c.tilu")));
        QCOMPARE(ReadAll(rig.path(QStringLiteral("c.tilu"))).mid(72, 16),
                 QByteArray::fromHex("0f cdeee2e0ff20ede0f1f2f0eee9eae0"));
        QCOMPARE(rig.log().at(rig.log().size() - 2), QStringLiteral(" -> Новая настройка"));
    }

    void emptyDescription() {
        Rig rig;
        rig.save(QString(), rig.path(QStringLiteral("e.tilu")));
        const QByteArray file = ReadAll(rig.path(QStringLiteral("e.tilu")));
        QCOMPARE(file.size(), 328);
        QCOMPARE(file.at(72), '\0');
        QCOMPARE(rig.log().at(rig.log().size() - 2), QStringLiteral(" -> "));
        rig.open(rig.path(QStringLiteral("e.tilu")));
        QCOMPARE(rig.dialogs.calls.last(),
                 QStringLiteral("information: Файл настроек  e.tilu  успешно открыт!\n\r\n\r"));
        QCOMPARE(rig.log().at(rig.log().size() - 2), QStringLiteral(" -> "));
    }

    void descriptionOf255CharactersStoresTheFirst250() {
        Rig rig;
        const QString typed = QStringLiteral("Ёж-№").repeated(63) + QStringLiteral("abc");
        QCOMPARE(typed.size(), 255);
        rig.save(typed, rig.path(QStringLiteral("long.tilu")));
        const QByteArray file = ReadAll(rig.path(QStringLiteral("long.tilu")));
        QCOMPARE(static_cast<quint8>(file.at(72)), 250);
        QCOMPARE(file.mid(73, 250), QByteArray::fromHex("a8e62db9").repeated(63).left(250));
        QCOMPARE(file.mid(323), QByteArray(5, '\0'));
        const QString stored = QStringLiteral("Ёж-№").repeated(63).left(250);
        QCOMPARE(rig.log().at(rig.log().size() - 2), QStringLiteral(" -> ") + stored);
        rig.open(rig.path(QStringLiteral("long.tilu")));
        QVERIFY(rig.dialogs.calls.last().endsWith(QStringLiteral("\n\r\n\r") + stored));
    }

    // The preset name the dialog offers, accepted twice: the second save replaces the file
    // without a question.
    void presetNameSavedAsXxxTiluAndReplaced() {
        Rig rig;
        const QString target = rig.path(QStringLiteral("xxx.tilu"));
        rig.save(QStringLiteral("one"), target);
        rig.state.Settings.OsgSettings.RiseRate = 33;
        rig.save(QStringLiteral("two"), target);
        QCOMPARE(rig.dialogs.calls.filter(QStringLiteral("save: ")).constFirst(),
                 QStringLiteral("save: ") + ProgramFolder() + "|xxx");
        QCOMPARE(rig.dialogs.calls.last(),
                 QStringLiteral("information: Файл настроек  xxx.tilu  записан успешно!"));
        QVERIFY(rig.dialogs.calls.filter(QStringLiteral("warning")).isEmpty());
        QCOMPARE(Entries(rig.dir.path()), QStringList{QStringLiteral("xxx.tilu")});
        const QByteArray file = ReadAll(target);
        QCOMPARE(file.at(8), '\x21');
        QCOMPARE(file.mid(72, 4), QByteArray("\x03two"));
        QVERIFY(rig.log().at(rig.log().size() - 3).startsWith("Записан файл -> xxx.tilu-> "));
    }

    void openFailuresChangeNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("empty file") << "empty";
        QTest::newRow("327 bytes") << "short";
        QTest::newRow("no such file") << "missing";
        QTest::newRow("preset name, no such file") << "preset";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("unreadable file") << "unreadable";
    }
    void openFailuresChangeNothing() {
        QFETCH(QString, kind);
        if (kind == QLatin1String("unreadable") && IsRoot()) {
            QSKIP("permissions do not stop root");
        }
        Rig rig;
        const QByteArray reference = ReadAll(DataFile(QStringLiteral("osg_delay_on.tilu")));
        QString target = rig.path(QStringLiteral("f.tilu"));
        if (kind == QLatin1String("empty")) {
            QVERIFY(WriteAll(target, {}));
        } else if (kind == QLatin1String("short")) {
            QVERIFY(WriteAll(target, reference.left(327)));
        } else if (kind == QLatin1String("preset")) {
            QVERIFY(WriteAll(rig.path(QStringLiteral("xxx.tilu")), reference));
            target = rig.path(QStringLiteral(" xxx "));
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("f.tilu")));
        } else if (kind == QLatin1String("unreadable")) {
            QVERIFY(WriteAll(target, reference));
            QVERIFY(QFile::setPermissions(target, QFileDevice::WriteOwner));
        }
        rig.state.RecordImage.Bytes.fill(0xEE);
        const TEmulatorSettings settings = rig.state.Settings;
        const QStringList log = rig.log();
        const PagesSnapshot pages = rig.pages();

        rig.open(target);
        QCOMPARE(rig.dialogs.calls.last(), kOpenError);
        QCOMPARE(rig.dialogs.calls.size(), 2);
        QCOMPARE(rig.state.Settings, settings);
        QCOMPARE(rig.log(), log);
        QCOMPARE(rig.pages(), pages);
        const QByteArray image(reinterpret_cast<const char*>(rig.state.RecordImage.Bytes.data()),
                               328);
        if (kind == QLatin1String("short")) {
            // What the short file delivered stays in the image.
            QCOMPARE(image.left(327), reference.left(327));
            QCOMPARE(image.at(327), '\xEE');
        } else {
            QCOMPARE(image, QByteArray(328, '\xEE'));
        }
    }

    void readOnlyAndLongerFilesOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("extra");
        QTest::newRow("read-only file") << "readonlyfile" << 0;
        QTest::newRow("file on a read-only filesystem") << "readonlyfs" << 0;
        QTest::newRow("400 bytes") << "plain" << 72;
    }
    void readOnlyAndLongerFilesOpen() {
        QFETCH(QString, kind);
        QFETCH(int, extra);
        Rig rig;
        ScratchMount scratch(rig.path(QStringLiteral("mnt")));
        if (kind == QLatin1String("readonlyfs") && !scratch.mounted()) {
            QSKIP("no tmpfs of its own here (needs root)");
        }
        const QString folder =
            kind == QLatin1String("readonlyfs") ? rig.path(QStringLiteral("mnt")) : rig.dir.path();
        const QString target = folder + QStringLiteral("/ro.tilu");
        QVERIFY(WriteAll(target, ReadAll(DataFile(QStringLiteral("laf_delay_off.tilu"))) +
                                     QByteArray(extra, '\x88')));
        if (kind == QLatin1String("readonlyfile")) {
            QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                      QFileDevice::ReadOther));
        } else if (kind == QLatin1String("readonlyfs")) {
            QVERIFY(scratch.makeReadOnly());
        }
        rig.open(target);
        QVERIFY(rig.dialogs.calls.last().startsWith(
            QStringLiteral("information: Файл настроек  ro.tilu  успешно открыт!")));
        QCOMPARE(rig.state.Settings.Mode, TEmulatorMode::LAF);
        QCOMPARE(rig.state.Settings.LafSettings,
                 (TModeSettings{false, 12, 75, 45, 85, 35, true, 25, 7}));
    }

    void saveFailureKeepsThePreviousFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder does not exist") << "nofolder";
        QTest::newRow("path is a folder") << "folder";
        QTest::newRow("read-only folder") << "readonlyfolder";
        QTest::newRow("read-only file") << "readonlyfile";
        QTest::newRow("file size limit") << "sizelimit";
        QTest::newRow("full tmpfs") << "tmpfs";
        QTest::newRow("read-only tmpfs") << "readonlyfs";
    }
    void saveFailureKeepsThePreviousFile() {
        QFETCH(QString, kind);
        Rig rig;
        const bool ownMount = kind == QLatin1String("tmpfs") || kind == QLatin1String("readonlyfs");
        const QString folder = ownMount ? rig.path(QStringLiteral("mnt")) : rig.dir.path();
        std::optional<ScratchMount> scratch;
        if (ownMount) {
            scratch.emplace(folder);
            if (!scratch->mounted()) {
                QSKIP("no tmpfs of its own here (needs root)");
            }
        }

        const QString previous = folder + QStringLiteral("/old.tilu");
        const QByteArray oldBytes = ReadAll(DataFile(QStringLiteral("reserved_and_fill.tilu")));
        QVERIFY(WriteAll(previous, oldBytes));
        QString target = previous;
        if (kind == QLatin1String("nofolder")) {
            target = folder + QStringLiteral("/missing/old.tilu");
        } else if (kind == QLatin1String("folder")) {
            target = folder + QStringLiteral("/sub");
            QVERIFY(QDir(folder).mkdir(QStringLiteral("sub")));
        } else if (kind == QLatin1String("readonlyfolder") ||
                   kind == QLatin1String("readonlyfile")) {
            if (IsRoot()) {
                QSKIP("permissions do not stop root");
            }
            QVERIFY(
                QFile::setPermissions(kind == QLatin1String("readonlyfolder") ? folder : previous,
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (kind == QLatin1String("readonlyfs")) {
            QVERIFY(scratch->makeReadOnly());
        } else if (kind == QLatin1String("tmpfs")) {
            QFile filler(folder + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            for (int i = 0; i < 64 && filler.write(block) == block.size(); ++i) {
            }
            filler.close();
        }
        const QStringList entries = Entries(folder);
        const QStringList log = rig.log();

        {
            std::unique_ptr<FileSizeLimit> limit;
            if (kind == QLatin1String("sizelimit")) {
                limit = std::make_unique<FileSizeLimit>(100);
                QVERIFY(limit->ok());
            }
            rig.save(QStringLiteral("new"), target);
        }
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);

        QCOMPARE(rig.dialogs.calls.last(), kWriteError);
        QCOMPARE(rig.dialogs.calls.filter(QStringLiteral("information")).size(), 0);
        QCOMPARE(rig.log(), log);
        QCOMPARE(ReadAll(previous), oldBytes);
        QCOMPARE(Entries(folder), entries);
    }

    // Installed under a system folder, the program's folder takes no files from the operator;
    // the commands then start in the documents folder, where a save of the preset name works.
    void fileCommandFolderFollowsWhetherTheProgramFolderIsWritable_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QByteArray>("userDirs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("writable program folder") << true << QByteArray() << "program";
        QTest::newRow("read-only program folder") << false << QByteArray() << "Documents";
        QTest::newRow("read-only, documents folder named in user-dirs.dirs")
            << false << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n")
            << QStringLiteral("Документы");
    }
    void fileCommandFolderFollowsWhetherTheProgramFolderIsWritable() {
        QFETCH(bool, writable);
        QFETCH(QByteArray, userDirs);
        QFETCH(QString, expected);
        TemporaryHome home;
        if (!userDirs.isEmpty()) {
            QVERIFY(QDir().mkpath(home.path(QStringLiteral(".config"))));
            QVERIFY(WriteAll(home.path(QStringLiteral(".config/user-dirs.dirs")), userDirs));
        }
        const QString program = home.path(QStringLiteral("program"));
        // Permission bits stop everyone but root; a read-only filesystem stops root too.
        std::optional<ScratchMount> scratch;
        QVERIFY(QDir().mkpath(program));
        if (!writable) {
            if (IsRoot()) {
                scratch.emplace(program);
                if (!scratch->mounted() || !scratch->makeReadOnly()) {
                    QSKIP("root, and no read-only tmpfs of its own here");
                }
            } else {
                QVERIFY(
                    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            }
        }
        QDir::setCurrent(QDir::rootPath());

        const QString folder = EnterFileCommandFolder(program);
        const QString current = QDir::currentPath();
        QDir::setCurrent(QDir::rootPath());
        QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);

        QCOMPARE(folder, home.path(expected));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(Canonical(current), Canonical(folder));
        QCOMPARE(Entries(program), QStringList());
        if (writable) {
            QVERIFY(!QFileInfo::exists(home.path(QStringLiteral("Documents"))));
        }
    }

    // Both commands end to end with the test program's own folder made read-only, as for an
    // installed program: the dialogs start in the documents folder, which becomes the current
    // directory, and the preset name saves and opens there.
    void bothFileDialogsStartInDocumentsWhereTheProgramFolderIsReadOnly() {
        TemporaryHome home;
        Rig rig;
        ReadOnlyBind readOnly(ProgramFolder());
        if (!readOnly.ok()) {
            QSKIP("needs root and a mount namespace of the test's own");
        }
        QVERIFY(!QFile(ProgramFolder() + QStringLiteral("/probe")).open(QIODevice::WriteOnly));
        const QString documents = home.path(QStringLiteral("Documents"));
        const QString preset = documents + QStringLiteral("/xxx.tilu");

        QDir::setCurrent(QDir::rootPath());
        rig.save(QStringLiteral("в документах"), preset);
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{kInputCall, QStringLiteral("save: ") + documents + "|xxx",
                              QStringLiteral("information: Файл настроек  xxx.tilu  записан "
                                             "успешно!")}));
        QCOMPARE(Canonical(QDir::currentPath()), Canonical(documents));
        QCOMPARE(ReadAll(preset).size(), 328);

        QDir::setCurrent(QDir::rootPath());
        rig.dialogs.calls.clear();
        rig.open(preset);
        QCOMPARE(rig.dialogs.calls,
                 (QStringList{QStringLiteral("open: ") + documents + "| xxx ",
                              QStringLiteral("information: Файл настроек  xxx.tilu  успешно "
                                             "открыт!\n\r\n\rв документах")}));
        QCOMPARE(Canonical(QDir::currentPath()), Canonical(documents));
        QDir::setCurrent(QDir::rootPath());
    }
};

QTEST_MAIN(FileCommandsTest)
#include "tst_file_commands.moc"
