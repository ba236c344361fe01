#include "model/EmulatorSettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace tilu {

namespace {

constexpr std::string_view kSec = " Sec";
constexpr std::string_view kVolt = " V";

// Indexed by NumericSetting; the two modes differ only in UpperBound and LowerBound.
constexpr std::array<StepDomain, NumericSettingCount> kOsgDomains{{
    {2, 50, 1, 0, 10, "0,1 V / ", kSec},
    {-25, 50, 5, 50, 100, "", kVolt},
    {5, 50, 5, 0, 10, "", kSec},
    {6, 9, 1, 0, 10, "", kVolt},
    {1, 4, 1, 0, 10, "", kVolt},
    {5, 40, 5, 0, 10, "", kSec},
    {1, 10, 1, 0, 10, "", kSec},
}};

constexpr std::array<StepDomain, NumericSettingCount> kLafDomains{{
    {2, 50, 1, 0, 10, "0,1 V / ", kSec},
    {-25, 50, 5, 50, 100, "", kVolt},
    {5, 50, 5, 0, 10, "", kSec},
    {-90, -15, 5, 100, 100, "", kVolt},
    {10, 40, 5, 0, 100, "", kVolt},
    {5, 40, 5, 0, 10, "", kSec},
    {1, 10, 1, 0, 10, "", kSec},
}};

constexpr std::size_t Index(NumericSetting setting) {
    return static_cast<std::size_t>(setting);
}

} // namespace

const StepDomain& DomainOf(NumericSetting setting, TEmulatorMode mode) {
    return mode == TEmulatorMode::OSG ? kOsgDomains[Index(setting)] : kLafDomains[Index(setting)];
}

std::int32_t& HeldValue(TModeSettings& settings, NumericSetting setting) {
    switch (setting) {
    case NumericSetting::RiseRate:
        return settings.RiseRate;
    case NumericSetting::OutputOffset:
        return settings.OutputOffset;
    case NumericSetting::ResponseOnset:
        return settings.ResponseOnset;
    case NumericSetting::UpperBound:
        return settings.UpperBound;
    case NumericSetting::LowerBound:
        return settings.LowerBound;
    case NumericSetting::PositiveDuration:
        return settings.PositiveDuration;
    case NumericSetting::NegativeDuration:
        break;
    }
    return settings.NegativeDuration;
}

std::int32_t HeldValue(const TModeSettings& settings, NumericSetting setting) {
    return HeldValue(const_cast<TModeSettings&>(settings), setting);
}

std::int32_t ValueFromPosition(NumericSetting setting, TEmulatorMode mode, std::int16_t position) {
    return std::int32_t{position} + DomainOf(setting, mode).Bias;
}

std::int16_t PositionFromValue(NumericSetting setting, TEmulatorMode mode, std::int32_t value) {
    const StepDomain& domain = DomainOf(setting, mode);
    const auto low16 = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
    const auto unbiased =
        static_cast<std::uint16_t>(low16 - static_cast<std::uint16_t>(domain.Bias & 0xFFFF));
    const auto position = static_cast<std::int16_t>(unbiased);
    return std::clamp(position, domain.Min, domain.Max);
}

std::string FormatNumber(double value, char decimalSeparator) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "INF" : "-INF";
    }
    if (value == 0.0) {
        return "0";
    }
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    std::string text(buffer.data(), result.ptr);
    std::replace(text.begin(), text.end(), '.', decimalSeparator);
    return text;
}

std::string DisplayText(NumericSetting setting, TEmulatorMode mode, std::int32_t value,
                        char decimalSeparator) {
    const StepDomain& domain = DomainOf(setting, mode);
    double number = 0;
    if (setting == NumericSetting::LowerBound && mode == TEmulatorMode::LAF) {
        number = static_cast<double>(static_cast<std::uint32_t>(value)) / domain.Divisor;
    } else {
        number = static_cast<double>(PositionFromValue(setting, mode, value)) / domain.Divisor;
    }
    std::string text(domain.Prefix);
    text += FormatNumber(number, decimalSeparator);
    text += domain.Suffix;
    return text;
}

TModeSettings FactoryDefaults(TEmulatorMode mode) {
    TModeSettings defaults;
    defaults.SignalDelay = true;
    defaults.RiseRate = 6;
    defaults.OutputOffset = 50;
    defaults.ResponseOnset = 30;
    defaults.UpperBound = mode == TEmulatorMode::OSG ? 9 : 50;
    defaults.LowerBound = mode == TEmulatorMode::OSG ? 1 : 20;
    defaults.MultipleResponse = false;
    defaults.PositiveDuration = 20;
    defaults.NegativeDuration = 5;
    return defaults;
}

std::uint8_t EncodeFlag(bool on) {
    return on ? FlagOn : FlagOff;
}

bool DecodeFlag(std::int64_t encoded) {
    return encoded == FlagOn;
}

std::uint8_t EncodeMode(TEmulatorMode mode) {
    return EncodeFlag(mode == TEmulatorMode::OSG);
}

TEmulatorMode DecodeMode(std::int64_t encoded) {
    return DecodeFlag(encoded) ? TEmulatorMode::OSG : TEmulatorMode::LAF;
}

std::string_view ModeName(TEmulatorMode mode) {
    return mode == TEmulatorMode::OSG ? "OSG" : "LAF";
}

} // namespace tilu
