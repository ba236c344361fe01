#pragma once

#include "files/SettingsRecord.h"
#include "link/Frames.h"
#include "model/EmulatorSettings.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace tilu::cli {

inline constexpr int SettingCount = 9;

// The mode and the nine settings as a file, a frame or a reply carries them: the mode and the
// two yes/no settings still encoded (only FlagOn means OSG or yes), the numeric settings as
// held values. Kept encoded so that an odd flag value is shown as it stands.
struct THeldSettings {
    std::int32_t Mode = FlagOn;
    std::array<std::int32_t, SettingCount> Values{}; // in the order files and frames carry them

    TEmulatorMode DecodedMode() const { return DecodeMode(Mode); }
};

THeldSettings HeldSettingsOfRecord(const TSettingsFileRecord& record);
// Bytes 3 to 12 of a write frame.
THeldSettings HeldSettingsOfWriteFrame(const TLinkBuffers& link);
// Bytes 4 to 13 of a settings reply.
THeldSettings HeldSettingsOfReply(const TLinkBuffers& link);

// The nine settings by the configurator's captions, the field names, and how they are shown.
struct TSettingField {
    const char* Name; // the field name, as in the record and in JSON
    QString Caption;  // the configurator's caption
    std::optional<NumericSetting> Numeric;
};
const std::array<TSettingField, SettingCount>& SettingFields();

// The display text of one setting of the given mode, with the given decimal separator.
QString SettingText(int field, TEmulatorMode mode, std::int32_t held, char decimalSeparator);

// A table of the mode and the nine settings: caption, held value, display text.
QStringList SettingsTable(const THeldSettings& held, char decimalSeparator);

// The mode and the settings that differ, one line each: "Caption (Name): a (text) -> b (text)".
// Yes/no settings and the mode are compared by what they mean, numbers by their held values.
QStringList DifferenceLines(const THeldSettings& a, const THeldSettings& b, char decimalSeparator);

// The machine-readable form of a settings file, with '.' as decimal separator.
QString SettingsFileJson(const TSettingsFileRecord& record);

} // namespace tilu::cli
