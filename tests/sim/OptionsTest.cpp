#include "Options.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using namespace tilu::sim;

namespace {

TParsedCommandLine Parse(std::vector<std::string_view> arguments) {
    return ParseCommandLine(arguments);
}

TEST(CommandLine, TakesADeviceOrAPseudoTerminal) {
    const auto device = Parse({"/dev/ttyUSB1"});
    EXPECT_EQ(device.Error, "");
    EXPECT_EQ(device.Options.Device, "/dev/ttyUSB1");
    EXPECT_FALSE(device.Options.Pty);
    EXPECT_FALSE(device.Options.Faults.Any());

    const auto pty = Parse({"--pty"});
    EXPECT_EQ(pty.Error, "");
    EXPECT_TRUE(pty.Options.Pty);
    EXPECT_EQ(pty.Options.Device, "");

    const auto dashed = Parse({"--", "-odd-name"});
    EXPECT_EQ(dashed.Error, "");
    EXPECT_EQ(dashed.Options.Device, "-odd-name");
}

TEST(CommandLine, HelpWinsOverWhatFollows) {
    const auto parsed = Parse({"--help", "--no-such-option"});
    EXPECT_EQ(parsed.Error, "");
    EXPECT_TRUE(parsed.Options.Help);
    EXPECT_TRUE(Parse({"-h"}).Options.Help);
}

TEST(CommandLine, ReadsEveryFaultSwitchInBothSpellings) {
    const auto parsed = Parse({"--silent", "--status", "80", "--split=300", "--length", "17",
                               "--garbage", "--delay", "1500", "/dev/ttyS0"});
    ASSERT_EQ(parsed.Error, "");
    const TFaults& faults = parsed.Options.Faults;
    EXPECT_TRUE(faults.Silent);
    EXPECT_EQ(faults.Status, 0x80);
    EXPECT_EQ(faults.Split, Millis{300});
    EXPECT_EQ(faults.Length, 17u);
    EXPECT_TRUE(faults.Garbage);
    EXPECT_EQ(faults.Delay, Millis{1500});

    EXPECT_EQ(Parse({"--pty", "--status=0x7f"}).Options.Faults.Status, 0x7F);
    EXPECT_EQ(Parse({"--pty", "--status", "5"}).Options.Faults.Status, 0x05);
    EXPECT_EQ(Parse({"--pty", "--delay", "0"}).Options.Faults.Delay, Millis{0});
}

struct BadCase {
    const char* Name;
    std::vector<std::string_view> Arguments;
    const char* Error;
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.Name;
}

class BadCommandLine : public testing::TestWithParam<BadCase> {};

TEST_P(BadCommandLine, IsRefusedWithAClearReason) {
    const auto parsed = Parse(GetParam().Arguments);
    EXPECT_EQ(parsed.Error, GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, BadCommandLine,
    testing::Values(
        BadCase{"NoDevice", {}, "no DEVICE given (or --pty to create a pseudo-terminal)"},
        BadCase{
            "OnlyFaults", {"--silent"}, "no DEVICE given (or --pty to create a pseudo-terminal)"},
        BadCase{"DeviceAndPty", {"--pty", "/dev/ttyS0"}, "give either a DEVICE or --pty, not both"},
        BadCase{"TwoDevices",
                {"/dev/ttyS0", "/dev/ttyS1"},
                "more than one device given: '/dev/ttyS0' and '/dev/ttyS1'"},
        BadCase{"UnknownOption", {"--pty", "--bogus"}, "--bogus: unknown option"},
        BadCase{"SwitchWithValue", {"--pty=1"}, "--pty: takes no value"},
        BadCase{"MissingValue", {"--pty", "--status"}, "--status: missing value"},
        BadCase{"StatusTooWide",
                {"--pty", "--status", "1FF"},
                "--status: bad value '1FF', expected a hexadecimal byte 00 to FF"},
        BadCase{"StatusNotHex",
                {"--pty", "--status", "G1"},
                "--status: bad value 'G1', expected a hexadecimal byte 00 to FF"},
        BadCase{"StatusEmpty",
                {"--pty", "--status="},
                "--status: bad value '', expected a hexadecimal byte 00 to FF"},
        BadCase{"SplitNegative",
                {"--pty", "--split", "-5"},
                "--split: bad value '-5', expected milliseconds 0 to 60000"},
        BadCase{"DelayNotANumber",
                {"--pty", "--delay", "abc"},
                "--delay: bad value 'abc', expected milliseconds 0 to 60000"},
        BadCase{"DelayTooLong",
                {"--pty", "--delay", "60001"},
                "--delay: bad value '60001', expected milliseconds 0 to 60000"},
        BadCase{"DelayWithUnit",
                {"--pty", "--delay", "50ms"},
                "--delay: bad value '50ms', expected milliseconds 0 to 60000"},
        BadCase{"LengthZero",
                {"--pty", "--length", "0"},
                "--length: bad value '0', expected a byte count 1 to 1024"},
        BadCase{"LengthTooLarge",
                {"--pty", "--length", "1025"},
                "--length: bad value '1025', expected a byte count 1 to 1024"}),
    [](const testing::TestParamInfo<BadCase>& row) { return row.param.Name; });

} // namespace
