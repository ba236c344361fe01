#pragma once

#include "files/SettingsRecord.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace tilu {

// Settings files on disk, for the window and the command-line tool alike.

enum class FileFailure { None, NoSuchFile, PermissionDenied, IsADirectory, TooShort, Other };

struct TRecordRead {
    FileFailure Failure = FileFailure::None;
    TSettingsFileRecord Record; // all zeros but the bytes read
    qint64 BytesRead = 0;
    QString Detail; // the system's text when Failure is Other
};

// Reads a file's first 328 bytes, read-only: a settings file is looked at, never changed.
TRecordRead ReadRecordFile(const QString& path);

// Writes all 328 bytes or nothing: an existing file keeps its bytes when any step fails, and no
// temporary file stays behind. Empty on success, else the system's text.
std::optional<QString> WriteRecordFile(const QString& path, const TSettingsFileRecord& record);

// The timestamp text of the configurator's log lines: the short date, then the long time
// unless the time of day is 00:00:00; "(дата не распознана)" for a value that is no date.
QString TimestampText(double savedAt, const QLocale& locale);

// "2000-01-01T12:00:00.000", local time as stored; empty for a value that is no date.
std::optional<QString> IsoTimestamp(double savedAt);

} // namespace tilu
