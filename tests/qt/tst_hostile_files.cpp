#include "FakeProgram.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstring>
#include <limits>

using namespace tilu;
using namespace tilu::testing;

namespace {

// A well-formed LAF record: every hostile variant below starts from it.
QByteArray LafRecord() {
    QByteArray record(328, '\0');
    auto put = [&record](int offset, qint32 value) {
        qToLittleEndian<qint32>(value, record.data() + offset);
    };
    put(0, 55);
    put(4, 136);
    put(8, 10);
    put(12, 60);
    put(16, 25);
    put(20, 40);
    put(24, 30);
    put(28, 55);
    put(32, 15);
    put(36, 3);
    qToLittleEndian<double>(36526.5, record.data() + 64);
    record[72] = 4;
    std::memcpy(record.data() + 73, "test", 4);
    return record;
}

QByteArray WithDouble(double value) {
    QByteArray record = LafRecord();
    qToLittleEndian<double>(value, record.data() + 64);
    return record;
}

QByteArray WithInt(int offset, qint32 value) {
    QByteArray record = LafRecord();
    qToLittleEndian<qint32>(value, record.data() + offset);
    return record;
}

QByteArray RandomBytes(int size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(20261211);
    for (char& byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

} // namespace

class HostileFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openHostileFile_data() {
        QTest::addColumn<QString>("kind"); // file, folder, missing, symlink
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");

        const QByteArray good = LafRecord();
        QTest::newRow("empty") << "file"
                               << "a.tilu" << QByteArray() << false;
        QTest::newRow("1 byte") << "file"
                                << "a.tilu" << good.left(1) << false;
        QTest::newRow("327 bytes") << "file"
                                   << "a.tilu" << good.left(327) << false;
        QTest::newRow("328 bytes") << "file"
                                   << "a.tilu" << good << true;
        QTest::newRow("329 bytes") << "file"
                                   << "a.tilu" << good + QByteArray(1, 'x') << true;
        QTest::newRow("1 MiB") << "file"
                               << "a.tilu" << good + RandomBytes(1 << 20) << true;
        QTest::newRow("random bytes") << "file"
                                      << "a.tilu" << RandomBytes(328) << true;
        QTest::newRow("a folder") << "folder"
                                  << "dir.tilu" << QByteArray() << false;
        QTest::newRow("missing path") << "missing"
                                      << "nothing.tilu" << QByteArray() << false;
        QTest::newRow("cyrillic name with spaces")
            << "file" << QStringLiteral("мои настройки/режим LAF № 2.tilu") << good << true;
        QTest::newRow("symlink to a file") << "symlink"
                                           << "link.tilu" << good << true;
        QTest::newRow("SavedAt NaN")
            << "file"
            << "a.tilu" << WithDouble(std::numeric_limits<double>::quiet_NaN()) << true;
        QTest::newRow("SavedAt infinity")
            << "file"
            << "a.tilu" << WithDouble(std::numeric_limits<double>::infinity()) << true;
        QTest::newRow("SavedAt -infinity")
            << "file"
            << "a.tilu" << WithDouble(-std::numeric_limits<double>::infinity()) << true;
        QTest::newRow("SavedAt 1e300") << "file"
                                       << "a.tilu" << WithDouble(1e300) << true;
        QTest::newRow("SavedAt negative") << "file"
                                          << "a.tilu" << WithDouble(-1.25) << true;
        QTest::newRow("SavedAt -1e300") << "file"
                                        << "a.tilu" << WithDouble(-1e300) << true;
        QByteArray noDescription = good;
        noDescription[72] = 0;
        QTest::newRow("length byte 0") << "file"
                                       << "a.tilu" << noDescription << true;
        QByteArray longDescription = good;
        longDescription[72] = static_cast<char>(255);
        std::memset(longDescription.data() + 73, '\xC0', 255);
        QTest::newRow("length byte 255") << "file"
                                         << "a.tilu" << longDescription << true;
        const char* fields[] = {"Mode",
                                "SignalDelay",
                                "RiseRate",
                                "OutputOffset",
                                "ResponseOnset",
                                "UpperBound",
                                "LowerBound",
                                "MultipleResponse",
                                "PositiveDuration",
                                "NegativeDuration"};
        for (int i = 0; i < 10; ++i) {
            QTest::addRow("%s INT32_MIN", fields[i])
                << "file"
                << "a.tilu" << WithInt(4 * i, std::numeric_limits<qint32>::min()) << true;
            QTest::addRow("%s INT32_MAX", fields[i])
                << "file"
                << "a.tilu" << WithInt(4 * i, std::numeric_limits<qint32>::max()) << true;
        }
    }

    // Whatever a file holds: the outcome the open command gives, no crash, and on error the
    // model, the pages and the log exactly as they were.
    void openHostileFile() {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(name);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (kind == QLatin1String("file") || kind == QLatin1String("symlink")) {
            const QString target =
                kind == QLatin1String("file") ? path : dir.filePath("target.bin");
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
            file.close();
            if (kind == QLatin1String("symlink")) {
                QVERIFY(QFile::link(target, path));
            }
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        }

        FakeProgram program;
        TForm1* form1 = program.openMainWindowWithoutPort();
        TProgramState& state = program.state;
        FakeOperatorDialogs& dialogs = program.dialogs;
        const TEmulatorSettings before = state.Settings;
        const QString logBefore = form1->Memo1->toPlainText();
        const QString edit6Before = form1->Edit[6]->text();

        dialogs.openAnswers.push_back(path);
        form1->Button3Click();

        QCOMPARE(dialogs.calls.size(), 2); // the dialog, then one box
        if (!opens) {
            QCOMPARE(dialogs.calls.last(), QStringLiteral("error: Ошибка при открытие файла!"));
            QCOMPARE(state.Settings, before);
            QCOMPARE(form1->Memo1->toPlainText(), logBefore);
            QCOMPARE(form1->Edit[6]->text(), edit6Before);
            QCOMPARE(form1->PageControl1->currentIndex(), 0);
            return;
        }
        QVERIFY2(dialogs.calls.last().startsWith(QStringLiteral("information: Файл настроек  ") +
                                                 QFileInfo(path).fileName() +
                                                 QStringLiteral("  успешно открыт!\n\r\n\r")),
                 qPrintable(dialogs.calls.last()));
        const QStringList log = form1->Memo1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(log.size(), logBefore.split(QLatin1Char('\n')).size() + 4);
        QVERIFY(log.at(log.size() - 3)
                    .startsWith(QStringLiteral("Загружен файл -> ") + QFileInfo(path).fileName() +
                                QStringLiteral("-> ")));
        QVERIFY(log.at(log.size() - 2).size() <= 4 + 250);
        QCOMPARE(form1->PageControl1->currentIndex(),
                 state.Settings.Mode == TEmulatorMode::OSG ? 0 : 1);
        const TEmulatorMode other =
            state.Settings.Mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        QCOMPARE(state.Settings.Of(other), before.Of(other));
    }

    void extremeValuesAreTakenUnchangedAndShownClamped() {
        FakeProgram program;
        TForm1* form1 = program.openMainWindowWithoutPort();
        TProgramState& state = program.state;
        FakeOperatorDialogs& dialogs = program.dialogs;
        QTemporaryDir dir;
        QByteArray record = WithInt(24, std::numeric_limits<qint32>::min()); // LAF LowerBound
        qToLittleEndian<qint32>(std::numeric_limits<qint32>::max(), record.data() + 8);
        const QString path = dir.filePath(QStringLiteral("extreme.tilu"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record);
        file.close();
        dialogs.openAnswers.push_back(path);
        form1->Button3Click();
        QCOMPARE(state.Settings.LafSettings.LowerBound, std::numeric_limits<qint32>::min());
        QCOMPARE(state.Settings.LafSettings.RiseRate, std::numeric_limits<qint32>::max());
        QCOMPARE(form1->Edit[6]->text(), QStringLiteral("21474836,48 V"));
        QCOMPARE(form1->Edit[1]->text(), QStringLiteral("0,1 V / 0,2 Sec")); // 0xFFFF is -1: Min
    }
};

QTEST_MAIN(HostileFilesTest)
#include "tst_hostile_files.moc"
