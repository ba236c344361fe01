#include "files/SettingsRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

using namespace tilu;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Slice(const TSettingsFileRecord& record, std::size_t offset, std::size_t count) {
    return Bytes(record.Bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 record.Bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

TSettingsFileRecord FilledRecord(std::uint8_t value) {
    TSettingsFileRecord record;
    record.Bytes.fill(value);
    return record;
}

// Cases print as their names in test listings.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

struct NameOfCase {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& tested) const {
        return tested.param.name;
    }
};

TModeSettings Sentinel() {
    return {true, 111, 222, 333, 444, 555, true, 666, 777};
}

// --- Layout -----------------------------------------------------------------------------

struct FieldCase {
    const char* name;
    std::size_t offset;
    std::size_t expectedOffset;
};

class RecordFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(RecordFieldTest, Int32IsLittleEndianAtItsOffsetAndTouchesNothingElse) {
    const FieldCase& c = GetParam();
    ASSERT_EQ(c.offset, c.expectedOffset);
    TSettingsFileRecord record = FilledRecord(0xEE);
    record.SetInt32At(c.offset, 0x12345678);
    for (std::size_t i = 0; i < SettingsRecordSize; ++i) {
        if (i < c.expectedOffset || i >= c.expectedOffset + 4) {
            ASSERT_EQ(record.Bytes[i], 0xEE) << "byte " << i;
        }
    }
    EXPECT_EQ(Slice(record, c.expectedOffset, 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(record.Int32At(c.offset), 0x12345678);

    record.SetInt32At(c.offset, -5);
    EXPECT_EQ(Slice(record, c.expectedOffset, 4), (Bytes{0xFB, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(record.Int32At(c.offset), -5);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RecordFieldTest,
    ::testing::Values(FieldCase{"Mode", record_offset::Mode, 0},
                      FieldCase{"SignalDelay", record_offset::SignalDelay, 4},
                      FieldCase{"RiseRate", record_offset::RiseRate, 8},
                      FieldCase{"OutputOffset", record_offset::OutputOffset, 12},
                      FieldCase{"ResponseOnset", record_offset::ResponseOnset, 16},
                      FieldCase{"UpperBound", record_offset::UpperBound, 20},
                      FieldCase{"LowerBound", record_offset::LowerBound, 24},
                      FieldCase{"MultipleResponse", record_offset::MultipleResponse, 28},
                      FieldCase{"PositiveDuration", record_offset::PositiveDuration, 32},
                      FieldCase{"NegativeDuration", record_offset::NegativeDuration, 36}),
    NameOfCase{});

TEST(SettingsRecordLayout, SizesAndOffsetsOfTheRest) {
    EXPECT_EQ(SettingsRecordSize, 328u);
    EXPECT_EQ(sizeof(TSettingsFileRecord{}.Bytes), 328u);
    EXPECT_EQ(record_offset::Reserved, 40u);
    EXPECT_EQ(record_offset::SavedAt, 64u);
    EXPECT_EQ(record_offset::DescriptionLength, 72u);
    EXPECT_EQ(record_offset::Description, 73u);
    EXPECT_EQ(record_offset::Fill, 323u);
    EXPECT_EQ(DescriptionCapacity, 250u);
    TSettingsFileRecord zero;
    EXPECT_EQ(zero.Bytes, (std::array<std::uint8_t, 328>{}));
}

TEST(SettingsRecordLayout, SavedAtIsLittleEndianIeeeDoubleAtByte64) {
    TSettingsFileRecord record = FilledRecord(0xEE);
    record.SetSavedAt(36526.5);
    EXPECT_EQ(Slice(record, 64, 8), (Bytes{0x00, 0x00, 0x00, 0x00, 0xD0, 0xD5, 0xE1, 0x40}));
    EXPECT_EQ(Slice(record, 60, 4), (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(record.Bytes[72], 0xEE);
    EXPECT_EQ(record.SavedAt(), 36526.5);

    record.SetSavedAt(-1.25);
    EXPECT_EQ(Slice(record, 64, 8), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0xBF}));

    const Bytes nan{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x7F};
    std::copy(nan.begin(), nan.end(), record.Bytes.begin() + 64);
    EXPECT_TRUE(std::isnan(record.SavedAt()));
}

// --- Store and load ---------------------------------------------------------------------

struct StoreCase {
    const char* name;
    TEmulatorSettings settings;
    Bytes expectedFirst40;
};

TEmulatorSettings OsgDelayOn() {
    TEmulatorSettings s;
    s.Mode = TEmulatorMode::OSG;
    s.OsgSettings = {true, 6, 50, 30, 9, 1, false, 20, 5};
    s.LafSettings = Sentinel();
    return s;
}

TEmulatorSettings LafDelayOff() {
    TEmulatorSettings s;
    s.Mode = TEmulatorMode::LAF;
    s.LafSettings = {false, 12, 75, 45, 85, -5, true, 65566, 7};
    s.OsgSettings = Sentinel();
    return s;
}

class StoreSettingsTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(StoreSettingsTest, WritesModeNineSettingsAndStampOnly) {
    const StoreCase& c = GetParam();
    TSettingsFileRecord record = FilledRecord(0xEE);
    StoreSettingsToRecord(record, c.settings, 36526.5);
    EXPECT_EQ(Slice(record, 0, 40), c.expectedFirst40);
    EXPECT_EQ(Slice(record, 40, 24), Bytes(24, 0xEE)) << "Reserved";
    EXPECT_EQ(Slice(record, 64, 8), (Bytes{0x00, 0x00, 0x00, 0x00, 0xD0, 0xD5, 0xE1, 0x40}));
    EXPECT_EQ(Slice(record, 72, 256), Bytes(256, 0xEE)) << "Description and fill";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StoreSettingsTest,
    ::testing::Values(
        StoreCase{"OsgDelayOn", OsgDelayOn(), {0x88, 0, 0,  0, 0x88, 0, 0, 0, 6, 0, 0, 0, 50, 0,
                                               0,    0, 30, 0, 0,    0, 9, 0, 0, 0, 1, 0, 0,  0,
                                               0x37, 0, 0,  0, 20,   0, 0, 0, 5, 0, 0, 0}},
        StoreCase{"LafDelayOffOutsideDomains",
                  LafDelayOff(),
                  {0x37, 0, 0,  0, 0x37, 0, 0,  0, 12, 0, 0,    0,    75,   0,
                   0,    0, 45, 0, 0,    0, 85, 0, 0,  0, 0xFB, 0xFF, 0xFF, 0xFF,
                   0x88, 0, 0,  0, 0x1E, 0, 1,  0, 7,  0, 0,    0}}),
    NameOfCase{});

struct LoadCase {
    const char* name;
    std::int32_t mode;
    std::int32_t signalDelay;
    std::int32_t multipleResponse;
    TEmulatorMode expectedMode;
    bool expectedDelay;
    bool expectedMultiple;
};

class LoadSettingsTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadSettingsTest, OnlyExactFlagOnCountsAndTheOtherModeIsUntouched) {
    const LoadCase& c = GetParam();
    TSettingsFileRecord record = FilledRecord(0xEE);
    record.SetInt32At(0, c.mode);
    record.SetInt32At(4, c.signalDelay);
    record.SetInt32At(8, 300);
    record.SetInt32At(12, 0);
    record.SetInt32At(16, 65566);
    record.SetInt32At(20, -90);
    record.SetInt32At(24, -5);
    record.SetInt32At(28, c.multipleResponse);
    record.SetInt32At(32, 2147483647);
    record.SetInt32At(36, -2147483647 - 1);

    TEmulatorSettings settings;
    settings.Mode = c.expectedMode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
    settings.OsgSettings = Sentinel();
    settings.LafSettings = Sentinel();
    LoadSettingsFromRecord(record, settings);

    EXPECT_EQ(settings.Mode, c.expectedMode);
    const TModeSettings expected{
        c.expectedDelay, 300, 0, 65566, -90, -5, c.expectedMultiple, 2147483647, -2147483647 - 1};
    EXPECT_EQ(settings.Of(c.expectedMode), expected);
    const TEmulatorMode other =
        c.expectedMode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
    EXPECT_EQ(settings.Of(other), Sentinel());
}

INSTANTIATE_TEST_SUITE_P(
    Flags, LoadSettingsTest,
    ::testing::Values(
        LoadCase{"OsgBothOn", 136, 136, 136, TEmulatorMode::OSG, true, true},
        LoadCase{"LafBothOff", 55, 55, 55, TEmulatorMode::LAF, false, false},
        LoadCase{"ZeroMeansLafAndOff", 0, 0, 0, TEmulatorMode::LAF, false, false},
        LoadCase{"HighBitsSpoilFlagOn", 0x188, 0x188, 0x10088, TEmulatorMode::LAF, false, false},
        LoadCase{"SignExtendedByteIsNotFlagOn", -120, -120, -120, TEmulatorMode::LAF, false, false},
        LoadCase{"OsgMixedFlags", 136, 55, 136, TEmulatorMode::OSG, false, true}),
    NameOfCase{});

TEST(SettingsRecordRoundTrip, StoreThenLoadGivesBackModeAndNineSettings) {
    for (const TEmulatorSettings& saved : {OsgDelayOn(), LafDelayOff()}) {
        TSettingsFileRecord record;
        StoreSettingsToRecord(record, saved, 45366.3543431713);
        TEmulatorSettings loaded;
        loaded.Mode = saved.Mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        loaded.OsgSettings = {false, 1, 2, 3, 4, 5, false, 6, 7};
        loaded.LafSettings = loaded.OsgSettings;
        const TEmulatorSettings before = loaded;
        LoadSettingsFromRecord(record, loaded);
        EXPECT_EQ(loaded.Mode, saved.Mode);
        EXPECT_EQ(loaded.Current(), saved.Current());
        const TEmulatorMode other =
            saved.Mode == TEmulatorMode::OSG ? TEmulatorMode::LAF : TEmulatorMode::OSG;
        EXPECT_EQ(loaded.Of(other), before.Of(other));
        EXPECT_EQ(record.SavedAt(), 45366.3543431713);
    }
}

// --- OLE Automation dates ---------------------------------------------------------------

struct OleCase {
    const char* name;
    TCivilDateTime civil;
    double ole;
};

class OleDateTest : public ::testing::TestWithParam<OleCase> {};

TEST_P(OleDateTest, ConvertsBothWays) {
    const OleCase& c = GetParam();
    EXPECT_DOUBLE_EQ(ToOleDate(c.civil), c.ole);
    const std::optional<TCivilDateTime> back = FromOleDate(c.ole);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.civil);
    EXPECT_EQ(FromOleDate(ToOleDate(c.civil)), c.civil);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, OleDateTest,
    ::testing::Values(
        OleCase{"Noon2000", {2000, 1, 1, 12, 0, 0, 0}, 36526.5},
        OleCase{"Epoch", {1899, 12, 30, 0, 0, 0, 0}, 0.0},
        OleCase{"EpochQuarterPastSix", {1899, 12, 30, 6, 0, 0, 0}, 0.25},
        OleCase{"NewYear1900", {1900, 1, 1, 0, 0, 0, 0}, 2.0},
        OleCase{"Milliseconds", {2024, 3, 15, 8, 30, 15, 250}, 45366.3543431713},
        OleCase{"LastMillisecondOf2023", {2023, 12, 31, 23, 59, 59, 999}, 45291.999999988424},
        OleCase{"DayBeforeEpochSixAm", {1899, 12, 29, 6, 0, 0, 0}, -1.25},
        OleCase{"DayBeforeEpochMidnight", {1899, 12, 29, 0, 0, 0, 0}, -1.0},
        OleCase{"Year1800Evening", {1800, 6, 15, 18, 0, 0, 0}, -36357.75},
        OleCase{"FirstDayOfYear100", {100, 1, 1, 0, 0, 0, 0}, -657434.0},
        OleCase{"LastDayOfYear9999", {9999, 12, 31, 12, 0, 0, 0}, 2958465.5}),
    NameOfCase{});

TEST(OleDate, RoundsToTheNearestMillisecondAcrossMidnight) {
    EXPECT_EQ(FromOleDate(36526.49999999999), (TCivilDateTime{2000, 1, 1, 12, 0, 0, 0}));
    EXPECT_EQ(FromOleDate(0.9999999999), (TCivilDateTime{1899, 12, 31, 0, 0, 0, 0}));
    EXPECT_EQ(FromOleDate(-1.9999999999), (TCivilDateTime{1899, 12, 30, 0, 0, 0, 0}));
    // The time of day counts from midnight on either side of the epoch.
    EXPECT_EQ(FromOleDate(-0.5), (TCivilDateTime{1899, 12, 30, 12, 0, 0, 0}));
}

TEST(OleDate, NoDateForValuesOutsideTheCalendar) {
    for (const double value :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2958466.0, 2958465.9999999995,
          -657435.5, -657435.0, std::numeric_limits<double>::max()}) {
        EXPECT_FALSE(FromOleDate(value).has_value()) << value;
    }
}

// --- Windows-1251 -----------------------------------------------------------------------

struct CodeCase {
    const char* name;
    std::string utf8;
    std::uint8_t byte;
};

class Cp1251Test : public ::testing::TestWithParam<CodeCase> {};

TEST_P(Cp1251Test, MapsBothWays) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(Utf8ToCp1251(c.utf8), std::string(1, static_cast<char>(c.byte)));
    const std::uint8_t byte = c.byte;
    EXPECT_EQ(Cp1251ToUtf8(std::span<const std::uint8_t>(&byte, 1)), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cp1251Test,
    ::testing::Values(CodeCase{"LatinA", "A", 0x41}, CodeCase{"CyrillicCapitalA", "А", 0xC0},
                      CodeCase{"CyrillicSmallYa", "я", 0xFF}, CodeCase{"CapitalYo", "Ё", 0xA8},
                      CodeCase{"SmallYo", "ё", 0xB8}, CodeCase{"Numero", "№", 0xB9},
                      CodeCase{"Euro", "€", 0x88}, CodeCase{"CapitalDje", "Ђ", 0x80},
                      CodeCase{"NoBreakSpace", "\u00A0", 0xA0}, CodeCase{"UkrainianGhe", "ґ", 0xB4},
                      CodeCase{"EmDash", "—", 0x97}),
    NameOfCase{});

TEST(Cp1251, CharactersWithoutCodeAndBrokenUtf8BecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("中"), "?");
    EXPECT_EQ(Utf8ToCp1251("é"), "?");
    EXPECT_EQ(Utf8ToCp1251("a\xF0\x9F\x98\x80z"), "a?z"); // one character outside the BMP
    EXPECT_EQ(Utf8ToCp1251("\xFF"), "?");
    EXPECT_EQ(Utf8ToCp1251("x\xD0"), "x?");         // cut short
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");      // overlong
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???"); // surrogate
    const std::uint8_t unassigned = 0x98;
    EXPECT_EQ(Cp1251ToUtf8(std::span<const std::uint8_t>(&unassigned, 1)), "?");
}

TEST(Cp1251, WholeText) {
    EXPECT_EQ(Utf8ToCp1251("Новая настройка"),
              "\xCD\xEE\xE2\xE0\xFF\x20\xED\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0");
    const Bytes bytes{0xD2, 0xE8, 0xEB, 0xF3, 0x20, 0xB9, 0x37};
    EXPECT_EQ(Cp1251ToUtf8(bytes), "Тилу №7");
}

// --- Description ------------------------------------------------------------------------

struct DescriptionCase {
    const char* name;
    std::string text;
    std::uint8_t expectedLength;
    Bytes expectedStart;
};

class StoreDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(StoreDescriptionTest, LengthByteCharactersAndUntouchedRest) {
    const DescriptionCase& c = GetParam();
    TSettingsFileRecord record = FilledRecord(0xEE);
    StoreDescription(record, c.text);
    EXPECT_EQ(record.Bytes[72], c.expectedLength);
    EXPECT_EQ(Slice(record, 73, c.expectedStart.size()), c.expectedStart);
    EXPECT_EQ(Slice(record, 73 + c.expectedLength, 255u - c.expectedLength),
              Bytes(255u - c.expectedLength, 0xEE));
    EXPECT_EQ(Slice(record, 0, 72), Bytes(72, 0xEE));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StoreDescriptionTest,
    ::testing::Values(DescriptionCase{"Empty", "", 0, {}},
                      DescriptionCase{"Preset",
                                      "Новая настройка",
                                      15,
                                      {0xCD, 0xEE, 0xE2, 0xE0, 0xFF, 0x20, 0xED, 0xE0, 0xF1, 0xF2,
                                       0xF0, 0xEE, 0xE9, 0xEA, 0xE0}},
                      DescriptionCase{"Exactly250", std::string(250, 'q'), 250, Bytes(250, 'q')},
                      DescriptionCase{"Ascii255", std::string(250, 'a') + "bcdef", 250,
                                      Bytes(250, 'a')},
                      DescriptionCase{"Cyrillic255",
                                      [] {
                                          std::string s;
                                          for (int i = 0; i < 255; ++i) {
                                              s += "ж";
                                          }
                                          return s;
                                      }(),
                                      250, Bytes(250, 0xE6)},
                      DescriptionCase{"UnmappedCountsAsOne", "a中b", 3, {'a', '?', 'b'}}),
    NameOfCase{});

TEST(StoreDescription, ShorterTextLeavesTheLongerOnesTail) {
    TSettingsFileRecord record;
    StoreDescription(record, "abcdef");
    StoreDescription(record, "XY");
    EXPECT_EQ(record.Bytes[72], 2);
    EXPECT_EQ(Slice(record, 73, 6), (Bytes{'X', 'Y', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(Cp1251ToUtf8(record.DescriptionBytes()), "XY");
}

TEST(DescriptionBytes, LengthByteUpTo255IsBoundedByTheRecordEnd) {
    TSettingsFileRecord record;
    for (std::size_t i = 73; i < 328; ++i) {
        record.Bytes[i] = static_cast<std::uint8_t>('A' + (i % 26));
    }
    for (const std::uint8_t length : {std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{250},
                                      std::uint8_t{251}, std::uint8_t{255}}) {
        record.Bytes[72] = length;
        const std::span<const std::uint8_t> bytes = record.DescriptionBytes();
        EXPECT_EQ(bytes.size(), length);
        EXPECT_EQ(bytes.data(), record.Bytes.data() + 73);
    }
    record.Bytes[72] = 255;
    EXPECT_EQ(record.DescriptionBytes().data() + record.DescriptionBytes().size(),
              record.Bytes.data() + 328);
}

} // namespace
