#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tilu {

// Values that carry every yes/no setting and the mode, in frames (one byte) and in files
// (a 32-bit integer). On reading, only FlagOn counts as yes or OSG.
inline constexpr std::uint8_t FlagOn = 0x88;
inline constexpr std::uint8_t FlagOff = 0x37;

enum class TEmulatorMode { OSG, LAF };

struct TModeSettings {
    bool SignalDelay = false;
    std::int32_t RiseRate = 0;
    std::int32_t OutputOffset = 0;
    std::int32_t ResponseOnset = 0;
    std::int32_t UpperBound = 0;
    std::int32_t LowerBound = 0;
    bool MultipleResponse = false;
    std::int32_t PositiveDuration = 0;
    std::int32_t NegativeDuration = 0;

    friend bool operator==(const TModeSettings&, const TModeSettings&) = default;
};

struct TEmulatorSettings {
    TEmulatorMode Mode = TEmulatorMode::OSG;
    TModeSettings OsgSettings;
    TModeSettings LafSettings;

    TModeSettings& Of(TEmulatorMode mode) {
        return mode == TEmulatorMode::OSG ? OsgSettings : LafSettings;
    }
    const TModeSettings& Of(TEmulatorMode mode) const {
        return mode == TEmulatorMode::OSG ? OsgSettings : LafSettings;
    }
    TModeSettings& Current() { return Of(Mode); }
    const TModeSettings& Current() const { return Of(Mode); }

    friend bool operator==(const TEmulatorSettings&, const TEmulatorSettings&) = default;
};

// The seven numeric settings, in the order frames and files carry them.
enum class NumericSetting {
    RiseRate,
    OutputOffset,
    ResponseOnset,
    UpperBound,
    LowerBound,
    PositiveDuration,
    NegativeDuration,
};
inline constexpr int NumericSettingCount = 7;

// How the operator steps one numeric setting and how its held value is shown.
struct StepDomain {
    std::int16_t Min;
    std::int16_t Max;
    std::int16_t Step;
    std::int32_t Bias;
    int Divisor;
    std::string_view Prefix;
    std::string_view Suffix;
};

const StepDomain& DomainOf(NumericSetting setting, TEmulatorMode mode);

std::int32_t& HeldValue(TModeSettings& settings, NumericSetting setting);
std::int32_t HeldValue(const TModeSettings& settings, NumericSetting setting);

std::int32_t ValueFromPosition(NumericSetting setting, TEmulatorMode mode, std::int16_t position);

// Low 16 bits of the held value minus the bias (wrapping), read as signed, clamped to the domain.
std::int16_t PositionFromValue(NumericSetting setting, TEmulatorMode mode, std::int32_t value);

// General format, 15 significant digits, no grouping, "0" for zero.
std::string FormatNumber(double value, char decimalSeparator);

std::string DisplayText(NumericSetting setting, TEmulatorMode mode, std::int32_t value,
                        char decimalSeparator);

TModeSettings FactoryDefaults(TEmulatorMode mode);

// Encodings of yes/no and of the mode for frames and files.
std::uint8_t EncodeFlag(bool on);
bool DecodeFlag(std::int64_t encoded);
std::uint8_t EncodeMode(TEmulatorMode mode);
TEmulatorMode DecodeMode(std::int64_t encoded);

std::string_view ModeName(TEmulatorMode mode); // "OSG" or "LAF"

} // namespace tilu
