#include "MainWindow.h"

#include "FileCommandFolder.h"
#include "OperatorDialogs.h"
#include "SettingsRecordFile.h"
#include "files/SettingsRecord.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTime>

#include <algorithm>

namespace tilu {

namespace {

const QString kDefaultDescription = QStringLiteral("Новая настройка");
constexpr int kDescriptionInputLimit = 255;
// The open box shows every character the length byte names, up to the record's end.
constexpr std::size_t kWholeDescription = 255;

// Tries it, as permission bits alone do not tell: root writes anyway, a read-only filesystem
// or an access list refuses anyway.
bool CanCreateFilesIn(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tilu-XXXXXX")));
    return probe.open();
}

QString EnterProgramFolder() {
    return EnterFileCommandFolder(QCoreApplication::applicationDirPath());
}

TCivilDateTime LocalNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return {date.year(),   date.month(),  date.day(), time.hour(),
            time.minute(), time.second(), time.msec()};
}

// At most `limit` characters of the description the length byte names.
QString DescriptionText(const TSettingsFileRecord& record, std::size_t limit) {
    std::span<const std::uint8_t> bytes = record.DescriptionBytes();
    bytes = bytes.first(std::min(bytes.size(), limit));
    return QString::fromStdString(Cp1251ToUtf8(bytes));
}

QString ModeText(TEmulatorMode mode) {
    return mode == TEmulatorMode::OSG ? QStringLiteral(" режим OSG") : QStringLiteral(" режим LAF");
}

// The dialog's path can name a file in any form the platform accepts; only its last
// component is shown.
QString ShownFileName(const QString& path) {
    return QFileInfo(path).fileName();
}

// Reads the file's first record straight into the image. The bytes a short file delivers
// stay in the image, as the record's unfilled bytes are carried into the next save.
bool ReadIntoImage(const QString& path, TSettingsFileRecord& image) {
    const TRecordRead read = ReadRecordFile(path);
    std::copy_n(read.Record.Bytes.begin(), read.BytesRead, image.Bytes.begin());
    return read.Failure == FileFailure::None;
}

QString LogTimestamp(double savedAt) {
    return TimestampText(savedAt, QLocale::system());
}

} // namespace

QString EnterFileCommandFolder(const QString& programFolder) {
    QString folder = programFolder;
    if (!CanCreateFilesIn(programFolder)) {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!documents.isEmpty() && QDir().mkpath(documents)) {
            folder = documents;
        }
    }
    QDir::setCurrent(folder);
    return folder;
}

void TForm1::ConnectFileHandlers() {
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
}

void TForm1::Button4Click() {
    const QString folder = EnterProgramFolder();
    repaint();

    // The record takes the settings before the input box opens: a reply handled while the
    // box is up may change the model, but not what this save writes.
    StoreSettingsToRecord(state_.RecordImage, state_.Settings, ToOleDate(LocalNow()));
    const std::optional<QString> answer =
        dialogs_.inputText(this, QStringLiteral("Запись настроек"),
                           QStringLiteral("Введите краткое описание этой настройки"),
                           kDefaultDescription, kDescriptionInputLimit);
    StoreDescription(state_.RecordImage, answer.value_or(kDefaultDescription).toStdString());

    const std::optional<QString> path = dialogs_.saveFileName(this, folder, QStringLiteral("xxx"));
    if (!path) {
        dialogs_.information(this, QStringLiteral("Не записано!"));
        return;
    }
    if (WriteRecordFile(*path, state_.RecordImage).has_value()) {
        dialogs_.error(this, QStringLiteral("Ошибка при записи файла!"));
        return;
    }

    const QString fileName = ShownFileName(*path);
    AppendLog(QString());
    AppendLog(QStringLiteral("Записан файл -> ") + fileName + QStringLiteral("-> ") +
              LogTimestamp(state_.RecordImage.SavedAt()));
    AppendLog(QStringLiteral(" -> ") + DescriptionText(state_.RecordImage, DescriptionCapacity));
    AppendLog(QStringLiteral(" -> ") + ModeText(state_.Settings.Mode));
    dialogs_.information(this, QStringLiteral("Файл настроек  ") + fileName +
                                   QStringLiteral("  записан успешно!"));
}

void TForm1::Button3Click() {
    const QString folder = EnterProgramFolder();
    repaint();

    const std::optional<QString> path =
        dialogs_.openFileName(this, folder, QStringLiteral(" xxx "));
    if (!path) {
        dialogs_.information(this, QStringLiteral("Файл не выбран!"));
        return;
    }
    if (!ReadIntoImage(*path, state_.RecordImage)) {
        dialogs_.error(this, QStringLiteral("Ошибка при открытие файла!"));
        return;
    }

    LoadSettingsFromRecord(state_.RecordImage, state_.Settings);
    ApplySettingsToPages();
    const QString fileName = ShownFileName(*path);
    AppendLog(QString());
    AppendLog(QStringLiteral("Загружен файл -> ") + fileName + QStringLiteral("-> ") +
              LogTimestamp(state_.RecordImage.SavedAt()));
    AppendLog(QStringLiteral(" -> ") + DescriptionText(state_.RecordImage, DescriptionCapacity));
    AppendLog(QStringLiteral(" -> ") + ModeText(state_.Settings.Mode));
    dialogs_.information(this, QStringLiteral("Файл настроек  ") + fileName +
                                   QStringLiteral("  успешно открыт!") +
                                   QStringLiteral("\n\r\n\r") +
                                   DescriptionText(state_.RecordImage, kWholeDescription));
}

} // namespace tilu
