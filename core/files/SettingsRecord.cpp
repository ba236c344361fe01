#include "files/SettingsRecord.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tilu {

namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
           static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

void WriteU32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivilDate {
    std::int64_t Year;
    unsigned Month;
    unsigned Day;
};

TCivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    return {y, m, d};
}

const std::int64_t OleEpochDays = DaysFromCivil(1899, 12, 30);
constexpr std::int64_t MillisecondsPerDay = 86'400'000;

// Unicode code points of the bytes 0x80..0xFF; 0 marks the one byte without a character.
constexpr std::array<char16_t, 128> Cp1251Upper = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

constexpr std::uint8_t Unmapped = '?';

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::uint8_t Cp1251ByteOf(char32_t cp) {
    if (cp < 0x80) {
        return static_cast<std::uint8_t>(cp);
    }
    for (std::size_t i = 0; i < Cp1251Upper.size(); ++i) {
        if (Cp1251Upper[i] != 0 && Cp1251Upper[i] == cp) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return Unmapped;
}

// Decodes one code point at `pos`; nullopt for a malformed sequence, which then counts as one
// byte (overlong forms, surrogates and values above U+10FFFF are malformed too).
std::optional<char32_t> NextCodePoint(std::string_view utf8, std::size_t& pos) {
    const auto lead = static_cast<std::uint8_t>(utf8[pos]);
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1FU;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0FU;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07U;
        minimum = 0x10000;
    } else {
        ++pos;
        return std::nullopt;
    }
    if (utf8.size() - pos <= extra) {
        ++pos;
        return std::nullopt;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const auto next = static_cast<std::uint8_t>(utf8[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3FU);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return std::nullopt;
    }
    pos += extra + 1;
    return cp;
}

} // namespace

std::int32_t TSettingsFileRecord::Int32At(std::size_t offset) const {
    return static_cast<std::int32_t>(ReadU32(Bytes.data() + offset));
}

void TSettingsFileRecord::SetInt32At(std::size_t offset, std::int32_t value) {
    WriteU32(Bytes.data() + offset, static_cast<std::uint32_t>(value));
}

double TSettingsFileRecord::SavedAt() const {
    const std::uint8_t* p = Bytes.data() + record_offset::SavedAt;
    const std::uint64_t bits =
        static_cast<std::uint64_t>(ReadU32(p)) | static_cast<std::uint64_t>(ReadU32(p + 4)) << 32U;
    return std::bit_cast<double>(bits);
}

void TSettingsFileRecord::SetSavedAt(double oleDate) {
    const auto bits = std::bit_cast<std::uint64_t>(oleDate);
    std::uint8_t* p = Bytes.data() + record_offset::SavedAt;
    WriteU32(p, static_cast<std::uint32_t>(bits));
    WriteU32(p + 4, static_cast<std::uint32_t>(bits >> 32U));
}

std::span<const std::uint8_t> TSettingsFileRecord::DescriptionBytes() const {
    const std::size_t room = SettingsRecordSize - record_offset::Description;
    const std::size_t count = std::min<std::size_t>(DescriptionLength(), room);
    return std::span<const std::uint8_t>(Bytes).subspan(record_offset::Description, count);
}

double ToOleDate(const TCivilDateTime& when) {
    const std::int64_t days = DaysFromCivil(when.Year, static_cast<unsigned>(when.Month),
                                            static_cast<unsigned>(when.Day)) -
                              OleEpochDays;
    const std::int64_t milliseconds =
        ((static_cast<std::int64_t>(when.Hour) * 60 + when.Minute) * 60 + when.Second) * 1000 +
        when.Millisecond;
    const double fraction =
        static_cast<double>(milliseconds) / static_cast<double>(MillisecondsPerDay);
    // Before the epoch the whole part counts down while the time of day still counts up from
    // midnight, so the fraction moves away from zero: -1.25 is 29 December 1899, 06:00.
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

std::optional<TCivilDateTime> FromOleDate(double oleDate) {
    // Far wider than years 100..9999, and small enough for the integer arithmetic below.
    constexpr double Limit = 1e7;
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > Limit) {
        return std::nullopt;
    }
    const double whole = std::trunc(oleDate);
    auto days = static_cast<std::int64_t>(whole);
    auto milliseconds = static_cast<std::int64_t>(
        std::llround(std::fabs(oleDate - whole) * static_cast<double>(MillisecondsPerDay)));
    if (milliseconds >= MillisecondsPerDay) {
        // Rounded up to the next midnight, which is the next calendar day on either side of
        // the epoch.
        milliseconds = 0;
        ++days;
    }
    const TCivilDate date = CivilFromDays(days + OleEpochDays);
    if (date.Year < 100 || date.Year > 9999) {
        return std::nullopt;
    }
    TCivilDateTime result;
    result.Year = static_cast<int>(date.Year);
    result.Month = static_cast<int>(date.Month);
    result.Day = static_cast<int>(date.Day);
    result.Millisecond = static_cast<int>(milliseconds % 1000);
    milliseconds /= 1000;
    result.Second = static_cast<int>(milliseconds % 60);
    milliseconds /= 60;
    result.Minute = static_cast<int>(milliseconds % 60);
    result.Hour = static_cast<int>(milliseconds / 60);
    return result;
}

std::string Cp1251ToUtf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            continue;
        }
        const char16_t cp = Cp1251Upper[static_cast<std::size_t>(byte - 0x80)];
        AppendUtf8(out, cp == 0 ? char32_t{Unmapped} : char32_t{cp});
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::optional<char32_t> cp = NextCodePoint(utf8, pos);
        out += static_cast<char>(cp ? Cp1251ByteOf(*cp) : Unmapped);
    }
    return out;
}

void StoreSettingsToRecord(TSettingsFileRecord& record, const TEmulatorSettings& settings,
                           double savedAtOleDate) {
    namespace at = record_offset;
    const TModeSettings& current = settings.Current();
    record.SetInt32At(at::Mode, EncodeMode(settings.Mode));
    record.SetInt32At(at::SignalDelay, EncodeFlag(current.SignalDelay));
    record.SetInt32At(at::RiseRate, current.RiseRate);
    record.SetInt32At(at::OutputOffset, current.OutputOffset);
    record.SetInt32At(at::ResponseOnset, current.ResponseOnset);
    record.SetInt32At(at::UpperBound, current.UpperBound);
    record.SetInt32At(at::LowerBound, current.LowerBound);
    record.SetInt32At(at::MultipleResponse, EncodeFlag(current.MultipleResponse));
    record.SetInt32At(at::PositiveDuration, current.PositiveDuration);
    record.SetInt32At(at::NegativeDuration, current.NegativeDuration);
    record.SetSavedAt(savedAtOleDate);
}

void StoreDescription(TSettingsFileRecord& record, std::string_view utf8Description) {
    const std::string encoded = Utf8ToCp1251(utf8Description);
    const std::size_t count = std::min(encoded.size(), DescriptionCapacity);
    record.Bytes[record_offset::DescriptionLength] = static_cast<std::uint8_t>(count);
    std::copy_n(encoded.begin(), count,
                record.Bytes.begin() + static_cast<std::ptrdiff_t>(record_offset::Description));
}

void LoadSettingsFromRecord(const TSettingsFileRecord& record, TEmulatorSettings& settings) {
    namespace at = record_offset;
    settings.Mode = DecodeMode(record.Int32At(at::Mode));
    TModeSettings& current = settings.Current();
    current.SignalDelay = DecodeFlag(record.Int32At(at::SignalDelay));
    current.RiseRate = record.Int32At(at::RiseRate);
    current.OutputOffset = record.Int32At(at::OutputOffset);
    current.ResponseOnset = record.Int32At(at::ResponseOnset);
    current.UpperBound = record.Int32At(at::UpperBound);
    current.LowerBound = record.Int32At(at::LowerBound);
    current.MultipleResponse = DecodeFlag(record.Int32At(at::MultipleResponse));
    current.PositiveDuration = record.Int32At(at::PositiveDuration);
    current.NegativeDuration = record.Int32At(at::NegativeDuration);
}

} // namespace tilu
