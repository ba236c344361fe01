#include "SettingsRecordFile.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTime>

namespace tilu {

namespace {

constexpr auto kRecordSize = static_cast<qint64>(SettingsRecordSize);

// The system's long time format without its time zone: the stored time is local time of day,
// and the zone Qt appends to that format would be wrong.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    bool skipSpaces = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('t')) {
            while (!result.isEmpty() && result.back().isSpace()) {
                result.chop(1);
            }
            skipSpaces = result.isEmpty();
            continue;
        } else if (skipSpaces && c.isSpace()) {
            continue;
        }
        skipSpaces = false;
        result += c;
    }
    return result;
}

} // namespace

TRecordRead ReadRecordFile(const QString& path) {
    TRecordRead result;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.Failure = FileFailure::NoSuchFile;
        return result;
    }
    if (info.isDir()) {
        result.Failure = FileFailure::IsADirectory;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.Failure = file.error() == QFileDevice::PermissionsError
                             ? FileFailure::PermissionDenied
                             : FileFailure::Other;
        result.Detail = file.errorString();
        return result;
    }
    char* image = reinterpret_cast<char*>(result.Record.Bytes.data());
    while (result.BytesRead < kRecordSize) {
        const qint64 got = file.read(image + result.BytesRead, kRecordSize - result.BytesRead);
        if (got < 0) {
            result.Failure = FileFailure::Other;
            result.Detail = file.errorString();
            return result;
        }
        if (got == 0) {
            break;
        }
        result.BytesRead += got;
    }
    if (result.BytesRead < kRecordSize) {
        result.Failure = FileFailure::TooShort;
    }
    return result;
}

std::optional<QString> WriteRecordFile(const QString& path, const TSettingsFileRecord& record) {
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered, so that a short or failed write shows in write()'s count: commit() does not
    // notice a failure while it flushes a buffer and would put the broken file in place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    if (file.write(reinterpret_cast<const char*>(record.Bytes.data()), kRecordSize) !=
        kRecordSize) {
        QString detail = file.errorString();
        file.cancelWriting();
        return detail;
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

QString TimestampText(double savedAt, const QLocale& locale) {
    const std::optional<TCivilDateTime> when = FromOleDate(savedAt);
    if (!when) {
        return QStringLiteral("(дата не распознана)");
    }
    QString text = locale.toString(QDate(when->Year, when->Month, when->Day), QLocale::ShortFormat);
    if (when->Hour != 0 || when->Minute != 0 || when->Second != 0) {
        const QTime time(when->Hour, when->Minute, when->Second, when->Millisecond);
        text += QLatin1Char(' ') + locale.toString(time, LongTimeFormatWithoutZone(locale));
    }
    return text;
}

std::optional<QString> IsoTimestamp(double savedAt) {
    const std::optional<TCivilDateTime> when = FromOleDate(savedAt);
    if (!when) {
        return std::nullopt;
    }
    return QStringLiteral("%1-%2-%3T%4:%5:%6.%7")
        .arg(when->Year, 4, 10, QLatin1Char('0'))
        .arg(when->Month, 2, 10, QLatin1Char('0'))
        .arg(when->Day, 2, 10, QLatin1Char('0'))
        .arg(when->Hour, 2, 10, QLatin1Char('0'))
        .arg(when->Minute, 2, 10, QLatin1Char('0'))
        .arg(when->Second, 2, 10, QLatin1Char('0'))
        .arg(when->Millisecond, 3, 10, QLatin1Char('0'));
}

} // namespace tilu
