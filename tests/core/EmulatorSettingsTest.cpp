#include "model/EmulatorSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

using namespace tilu;
using M = TEmulatorMode;
using S = NumericSetting;

namespace {

struct DisplayCase {
    const char* name;
    S setting;
    M mode;
    std::int32_t held;
    std::int16_t position;
    const char* commaText;
    const char* periodText;
};

void PrintTo(const DisplayCase& c, std::ostream* os) {
    *os << c.name;
}

class DisplayTextTable : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayTextTable, HeldValueShowsAtPositionWithText) {
    const DisplayCase& c = GetParam();
    EXPECT_EQ(PositionFromValue(c.setting, c.mode, c.held), c.position);
    EXPECT_EQ(DisplayText(c.setting, c.mode, c.held, ','), c.commaText);
    EXPECT_EQ(DisplayText(c.setting, c.mode, c.held, '.'), c.periodText);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamplesAndEdgeCases, DisplayTextTable,
    testing::Values(
        DisplayCase{"RiseRate6", S::RiseRate, M::OSG, 6, 6, "0,1 V / 0,6 Sec", "0,1 V / 0.6 Sec"},
        DisplayCase{"RiseRate50Laf", S::RiseRate, M::LAF, 50, 50, "0,1 V / 5 Sec", "0,1 V / 5 Sec"},
        DisplayCase{"OffsetPosition0", S::OutputOffset, M::OSG, 50, 0, "0 V", "0 V"},
        DisplayCase{"OffsetPositionMinus25", S::OutputOffset, M::LAF, 25, -25, "-0,25 V",
                    "-0.25 V"},
        DisplayCase{"OffsetPositionMinus5", S::OutputOffset, M::OSG, 45, -5, "-0,05 V", "-0.05 V"},
        DisplayCase{"Onset30", S::ResponseOnset, M::OSG, 30, 30, "3 Sec", "3 Sec"},
        DisplayCase{"LafUpperMinus15", S::UpperBound, M::LAF, 85, -15, "-0,15 V", "-0.15 V"},
        DisplayCase{"LafUpperMinus90", S::UpperBound, M::LAF, 10, -90, "-0,9 V", "-0.9 V"},
        DisplayCase{"LafLower35", S::LowerBound, M::LAF, 35, 35, "0,35 V", "0.35 V"},
        DisplayCase{"NegativeDuration5", S::NegativeDuration, M::LAF, 5, 5, "0,5 Sec", "0.5 Sec"},
        // Held values from a reply or a file, outside the range.
        DisplayCase{"RiseRate100ClampedTo50", S::RiseRate, M::OSG, 100, 50, "0,1 V / 5 Sec",
                    "0,1 V / 5 Sec"},
        DisplayCase{"RiseRate200ClampedTo50", S::RiseRate, M::LAF, 200, 50, "0,1 V / 5 Sec",
                    "0,1 V / 5 Sec"},
        DisplayCase{"Offset0ClampedToMinus25", S::OutputOffset, M::OSG, 0, -25, "-0,25 V",
                    "-0.25 V"},
        DisplayCase{"LafLower200FromHeldValue", S::LowerBound, M::LAF, 200, 40, "2 V", "2 V"},
        DisplayCase{"LafLowerMinus5Unsigned", S::LowerBound, M::LAF, -5, 10, "42949672,91 V",
                    "42949672.91 V"},
        DisplayCase{"Onset65566Low16Bits", S::ResponseOnset, M::OSG, 65536 + 30, 30, "3 Sec",
                    "3 Sec"},
        DisplayCase{"OsgUpper20ClampedTo9", S::UpperBound, M::OSG, 20, 9, "0,9 V", "0.9 V"},
        DisplayCase{"OsgUpperMinInt", S::UpperBound, M::OSG,
                    std::numeric_limits<std::int32_t>::min(), 6, "0,6 V", "0.6 V"},
        DisplayCase{"LafUpperWrapsBelowBias", S::UpperBound, M::LAF, 0x7FFF + 100, -15, "-0,15 V",
                    "-0.15 V"},
        DisplayCase{"LafLowerMaxUnsigned", S::LowerBound, M::LAF, -1, 10, "42949672,95 V",
                    "42949672.95 V"}),
    [](const testing::TestParamInfo<DisplayCase>& row) { return std::string(row.param.name); });

struct StepCase {
    S setting;
    M mode;
    std::int16_t position;
    std::int32_t held;
};

void PrintTo(const StepCase& c, std::ostream* os) {
    *os << static_cast<int>(c.setting) << '/' << ModeName(c.mode) << '/' << c.position;
}

class PositionRoundTrip : public testing::TestWithParam<StepCase> {};

TEST_P(PositionRoundTrip, ValueFromPositionAddsBiasAndComesBack) {
    const StepCase& c = GetParam();
    EXPECT_EQ(ValueFromPosition(c.setting, c.mode, c.position), c.held);
    EXPECT_EQ(PositionFromValue(c.setting, c.mode, c.held), c.position);
}

INSTANTIATE_TEST_SUITE_P(Domains, PositionRoundTrip,
                         testing::Values(StepCase{S::OutputOffset, M::OSG, -25, 25},
                                         StepCase{S::OutputOffset, M::LAF, 50, 100},
                                         StepCase{S::UpperBound, M::LAF, -90, 10},
                                         StepCase{S::UpperBound, M::LAF, -15, 85},
                                         StepCase{S::UpperBound, M::OSG, 9, 9},
                                         StepCase{S::LowerBound, M::LAF, 40, 40},
                                         StepCase{S::RiseRate, M::OSG, 2, 2}));

TEST(StepDomains, EveryPositionOfEveryDomainRoundTrips) {
    for (M mode : {M::OSG, M::LAF}) {
        for (int i = 0; i < NumericSettingCount; ++i) {
            const auto setting = static_cast<S>(i);
            const StepDomain& d = DomainOf(setting, mode);
            for (int p = d.Min; p <= d.Max; p += d.Step) {
                const auto position = static_cast<std::int16_t>(p);
                EXPECT_EQ(
                    PositionFromValue(setting, mode, ValueFromPosition(setting, mode, position)),
                    position);
            }
        }
    }
}

TEST(StepDomains, MatchTheSettingsTable) {
    const StepDomain& lafUpper = DomainOf(S::UpperBound, M::LAF);
    EXPECT_EQ(lafUpper.Min, -90);
    EXPECT_EQ(lafUpper.Max, -15);
    EXPECT_EQ(lafUpper.Step, 5);
    EXPECT_EQ(lafUpper.Bias, 100);
    const StepDomain& offset = DomainOf(S::OutputOffset, M::OSG);
    EXPECT_EQ(offset.Min, -25);
    EXPECT_EQ(offset.Max, 50);
    EXPECT_EQ(offset.Step, 5);
    EXPECT_EQ(offset.Bias, 50);
    EXPECT_EQ(DomainOf(S::NegativeDuration, M::OSG).Max, 10);
    EXPECT_EQ(DomainOf(S::PositiveDuration, M::LAF).Min, 5);
    EXPECT_EQ(DomainOf(S::LowerBound, M::OSG).Max, 4);
}

struct NumberCase {
    double value;
    const char* comma;
    const char* period;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.period;
}

class FormatNumberTable : public testing::TestWithParam<NumberCase> {};

TEST_P(FormatNumberTable, GeneralFormatWithFifteenDigits) {
    EXPECT_EQ(FormatNumber(GetParam().value, ','), GetParam().comma);
    EXPECT_EQ(FormatNumber(GetParam().value, '.'), GetParam().period);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FormatNumberTable,
    testing::Values(NumberCase{0.0, "0", "0"}, NumberCase{-0.0, "0", "0"},
                    NumberCase{0.6, "0,6", "0.6"}, NumberCase{5.0, "5", "5"},
                    NumberCase{-0.25, "-0,25", "-0.25"}, NumberCase{0.01, "0,01", "0.01"},
                    NumberCase{42949672.95, "42949672,95", "42949672.95"},
                    NumberCase{1.0 / 3.0, "0,333333333333333", "0.333333333333333"}));

TEST(FactoryDefaults, MatchTheDefaultsTable) {
    const TModeSettings osg = FactoryDefaults(M::OSG);
    EXPECT_TRUE(osg.SignalDelay);
    EXPECT_EQ(osg.RiseRate, 6);
    EXPECT_EQ(osg.OutputOffset, 50);
    EXPECT_EQ(osg.ResponseOnset, 30);
    EXPECT_EQ(osg.UpperBound, 9);
    EXPECT_EQ(osg.LowerBound, 1);
    EXPECT_FALSE(osg.MultipleResponse);
    EXPECT_EQ(osg.PositiveDuration, 20);
    EXPECT_EQ(osg.NegativeDuration, 5);

    const TModeSettings laf = FactoryDefaults(M::LAF);
    EXPECT_TRUE(laf.SignalDelay);
    EXPECT_EQ(laf.RiseRate, 6);
    EXPECT_EQ(laf.OutputOffset, 50);
    EXPECT_EQ(laf.ResponseOnset, 30);
    EXPECT_EQ(laf.UpperBound, 50);
    EXPECT_EQ(laf.LowerBound, 20);
    EXPECT_FALSE(laf.MultipleResponse);
    EXPECT_EQ(laf.PositiveDuration, 20);
    EXPECT_EQ(laf.NegativeDuration, 5);
}

TEST(FactoryDefaults, ShowTheDefaultsTableTexts) {
    const TModeSettings laf = FactoryDefaults(M::LAF);
    EXPECT_EQ(PositionFromValue(S::UpperBound, M::LAF, laf.UpperBound), -50);
    EXPECT_EQ(DisplayText(S::UpperBound, M::LAF, laf.UpperBound, ','), "-0,5 V");
    EXPECT_EQ(DisplayText(S::LowerBound, M::LAF, laf.LowerBound, ','), "0,2 V");
    const TModeSettings osg = FactoryDefaults(M::OSG);
    EXPECT_EQ(DisplayText(S::UpperBound, M::OSG, osg.UpperBound, ','), "0,9 V");
    EXPECT_EQ(DisplayText(S::LowerBound, M::OSG, osg.LowerBound, ','), "0,1 V");
    EXPECT_EQ(DisplayText(S::PositiveDuration, M::OSG, osg.PositiveDuration, ','), "2 Sec");
}

struct FlagCase {
    std::int64_t encoded;
    bool yes;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << c.encoded;
}

class FlagDecoding : public testing::TestWithParam<FlagCase> {};

TEST_P(FlagDecoding, OnlyFlagOnReadsAsYesAndOsg) {
    EXPECT_EQ(DecodeFlag(GetParam().encoded), GetParam().yes);
    EXPECT_EQ(DecodeMode(GetParam().encoded), GetParam().yes ? M::OSG : M::LAF);
}

INSTANTIATE_TEST_SUITE_P(Values, FlagDecoding,
                         testing::Values(FlagCase{0x88, true}, FlagCase{136, true},
                                         FlagCase{0x37, false}, FlagCase{0, false},
                                         FlagCase{0x89, false}, FlagCase{0x188, false},
                                         FlagCase{-120, false}));

TEST(FlagEncoding, YesAndOsgAre0x88NoAndLafAre0x37) {
    EXPECT_EQ(EncodeFlag(true), 0x88);
    EXPECT_EQ(EncodeFlag(false), 0x37);
    EXPECT_EQ(EncodeMode(M::OSG), 0x88);
    EXPECT_EQ(EncodeMode(M::LAF), 0x37);
    EXPECT_EQ(ModeName(M::OSG), "OSG");
    EXPECT_EQ(ModeName(M::LAF), "LAF");
}

} // namespace
