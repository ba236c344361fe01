#pragma once

#include "model/EmulatorSettings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tilu {

inline constexpr std::size_t SettingsRecordSize = 328;
inline constexpr std::size_t DescriptionCapacity = 250;

namespace record_offset {
inline constexpr std::size_t Mode = 0;
inline constexpr std::size_t SignalDelay = 4;
inline constexpr std::size_t RiseRate = 8;
inline constexpr std::size_t OutputOffset = 12;
inline constexpr std::size_t ResponseOnset = 16;
inline constexpr std::size_t UpperBound = 20;
inline constexpr std::size_t LowerBound = 24;
inline constexpr std::size_t MultipleResponse = 28;
inline constexpr std::size_t PositiveDuration = 32;
inline constexpr std::size_t NegativeDuration = 36;
inline constexpr std::size_t Reserved = 40;
inline constexpr std::size_t SavedAt = 64;
inline constexpr std::size_t DescriptionLength = 72;
inline constexpr std::size_t Description = 73;
inline constexpr std::size_t Fill = 323;
} // namespace record_offset

// The 328-byte settings record, the same in memory and in a file. Fields are read and written
// at their offsets, little-endian, whatever the host's byte order and struct packing.
class TSettingsFileRecord {
public:
    std::array<std::uint8_t, SettingsRecordSize> Bytes{};

    std::int32_t Int32At(std::size_t offset) const;
    void SetInt32At(std::size_t offset, std::int32_t value);
    double SavedAt() const;
    void SetSavedAt(double oleDate);
    std::uint8_t DescriptionLength() const { return Bytes[record_offset::DescriptionLength]; }
    // The description bytes (Windows-1251) the length byte names, never beyond the record.
    std::span<const std::uint8_t> DescriptionBytes() const;
};

// A local date and time of day, to the millisecond.
struct TCivilDateTime {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    friend bool operator==(const TCivilDateTime&, const TCivilDateTime&) = default;
};

// OLE Automation date: days since 30 December 1899 00:00, fraction = time of day, to the
// millisecond. Before that day the fraction counts away from zero: -1.25 is 29 December 1899,
// 06:00.
double ToOleDate(const TCivilDateTime& when);
// Empty for a value that is no showable date (NaN, infinite, outside years 100..9999).
std::optional<TCivilDateTime> FromOleDate(double oleDate);

// Windows-1251 <-> UTF-8. A character without a code becomes '?'.
std::string Cp1251ToUtf8(std::span<const std::uint8_t> bytes);
std::string Utf8ToCp1251(std::string_view utf8);

// Fills Mode, the nine settings of the current mode and SavedAt; leaves the rest as it was.
void StoreSettingsToRecord(TSettingsFileRecord& record, const TEmulatorSettings& settings,
                           double savedAtOleDate);
// Puts the first 250 characters (as Windows-1251 bytes) behind the length byte; the bytes
// behind them keep what they held.
void StoreDescription(TSettingsFileRecord& record, std::string_view utf8Description);
// Takes the record's mode and its nine settings into the model; the other mode is untouched.
void LoadSettingsFromRecord(const TSettingsFileRecord& record, TEmulatorSettings& settings);

} // namespace tilu
