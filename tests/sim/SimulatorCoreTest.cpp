#include "SimulatorCore.h"
#include "SimTestBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tilu;
using namespace tilu::sim;
using tilu::sim::testing_support::Hex;
using Kind = TIncoming::Kind;

namespace {

const Bytes FactoryReadReply = Hex("CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");
const Bytes LafFactoryWriteFrame = Hex("CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00");
// Channel A at the start of the clock: 1200, 2500, 1800, 2500 mV, status 01; channel B:
// 1150, 2505, 1725, 2500 mV, status 01.
const Bytes LevelsReplyAtStart = Hex("CA D3 BB 81 04 B0 09 C4 07 08 09 C4 00 00 01"
                                     " 04 7E 09 C9 06 BD 09 C4 00 00 01");

Bytes AnswerOf(Emulator& emulator, const std::string& frame, Millis now = Millis{0}) {
    return emulator.Answer(Hex(frame), now);
}

// --- The emulator's replies --------------------------------------------------------------

TEST(Emulator, StartsWithTheOsgFactoryDefaults) {
    Emulator emulator;
    EXPECT_EQ(AnswerOf(emulator, "CA D3 BA"), FactoryReadReply);
}

TEST(Emulator, KeepsTheSettingsLastWrittenAndOnlyThoseOfTheWrittenMode) {
    Emulator emulator;
    EXPECT_EQ(emulator.Answer(LafFactoryWriteFrame, Millis{0}), Hex("CA D3 B9 81"));
    EXPECT_EQ(AnswerOf(emulator, "CA D3 BA"),
              Hex("CA D3 BA 81 37 88 06 32 1E 32 14 37 14 05 00 00 00 00"));
    EXPECT_EQ(emulator.Settings().OsgSettings, FactoryDefaults(TEmulatorMode::OSG));

    EXPECT_EQ(AnswerOf(emulator, "CA D3 B9 88 37 0A 3C 28 0F 02 88 1E 0A 00 00 00 00"),
              Hex("CA D3 B9 81"));
    EXPECT_EQ(AnswerOf(emulator, "CA D3 BA"),
              Hex("CA D3 BA 81 88 37 0A 3C 28 0F 02 88 1E 0A 00 00 00 00"));
    EXPECT_EQ(emulator.Settings().LafSettings.UpperBound, 0x32);
}

TEST(Emulator, TakesOnlyFlagOnAsYesAndOsgAndKeepsValueBytesUnchanged) {
    Emulator emulator;
    AnswerOf(emulator, "CA D3 B9 00 00 C8 32 1E 32 14 00 14 05 00 00 00 00");
    EXPECT_EQ(AnswerOf(emulator, "CA D3 BA"),
              Hex("CA D3 BA 81 37 37 C8 32 1E 32 14 37 14 05 00 00 00 00"));
}

TEST(Emulator, AnswersLevelsWithBothChannelBlocks) {
    Emulator emulator;
    EXPECT_EQ(AnswerOf(emulator, "CA D3 BB"), LevelsReplyAtStart);
}

TEST(Emulator, LevelsStayPlausibleAndVarySlowly) {
    Emulator emulator;
    auto level = [](const Bytes& reply, std::size_t high) {
        return reply[high] * 256 + reply[high + 1];
    };
    const std::size_t levelPositions[] = {4, 6, 8, 10, 15, 17, 19, 21};
    Bytes previous = AnswerOf(emulator, "CA D3 BB");
    int lowestInputA = level(previous, 4);
    int highestInputA = lowestInputA;
    for (Millis now{250}; now <= Millis{60'000}; now += Millis{250}) {
        const Bytes reply = AnswerOf(emulator, "CA D3 BB", now);
        ASSERT_EQ(reply.size(), 26u);
        for (std::size_t position : levelPositions) {
            EXPECT_GE(level(reply, position), 100) << "byte " << position << " at " << now.count();
            EXPECT_LE(level(reply, position), 5000) << "byte " << position << " at " << now.count();
            EXPECT_LE(std::abs(level(reply, position) - level(previous, position)), 50)
                << "byte " << position << " at " << now.count();
        }
        lowestInputA = std::min(lowestInputA, level(reply, 4));
        highestInputA = std::max(highestInputA, level(reply, 4));
        previous = reply;
    }
    EXPECT_GE(highestInputA - lowestInputA, 400);
}

TEST(Emulator, DoesNotAnswerAFrameItDoesNotKnow) {
    Emulator emulator;
    EXPECT_TRUE(AnswerOf(emulator, "CA D3 55").empty());
    EXPECT_TRUE(AnswerOf(emulator, "CA D3 B9 88").empty());
}

// --- Assembling frames from pieces -------------------------------------------------------

struct Piece {
    int AtMs;
    const char* Bytes;
};

struct AssemblyCase {
    const char* Name;
    std::vector<Piece> Pieces;
    std::vector<TIncoming> Expected;
};

void PrintTo(const AssemblyCase& c, std::ostream* os) {
    *os << c.Name;
}

TIncoming In(Kind kind, const char* bytes) {
    return {kind, Hex(bytes)};
}

class FrameAssembly : public testing::TestWithParam<AssemblyCase> {};

TEST_P(FrameAssembly, YieldsFramesJunkAndDroppedPartials) {
    FrameAssembler assembler;
    std::vector<TIncoming> incoming;
    for (const Piece& piece : GetParam().Pieces) {
        auto taken = assembler.Feed(Hex(piece.Bytes), Millis{piece.AtMs});
        incoming.insert(incoming.end(), taken.begin(), taken.end());
    }
    ASSERT_EQ(incoming.size(), GetParam().Expected.size());
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        EXPECT_EQ(incoming[i].What, GetParam().Expected[i].What) << "item " << i;
        EXPECT_EQ(HexBytes(incoming[i].Data), HexBytes(GetParam().Expected[i].Data))
            << "item " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PiecesOfTheLine, FrameAssembly,
    testing::Values(
        AssemblyCase{"ReadFrameInThreePieces",
                     {{0, "CA"}, {10, "D3"}, {20, "BA"}},
                     {In(Kind::Frame, "CA D3 BA")}},
        AssemblyCase{"WriteFrameInThreePieces",
                     {{0, "CA D3 B9 37 88"}, {30, "06 32 1E 32 14"}, {60, "37 14 05 00 00 00 00"}},
                     {In(Kind::Frame, "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00")}},
        AssemblyCase{"JunkBeforeAFrame",
                     {{0, "00 FF 12 CA D3 BA"}},
                     {In(Kind::Junk, "00 FF 12"), In(Kind::Frame, "CA D3 BA")}},
        AssemblyCase{"FirstSignatureByteAlone",
                     {{0, "CA 00 CA D3 BB"}},
                     {In(Kind::Junk, "CA 00"), In(Kind::Frame, "CA D3 BB")}},
        AssemblyCase{"UnknownCommandByte",
                     {{0, "CA D3 55 CA D3 BA"}},
                     {In(Kind::Junk, "CA D3 55"), In(Kind::Frame, "CA D3 BA")}},
        AssemblyCase{"TwoFramesInOneRead",
                     {{0, "CA D3 BA CA D3 BB"}},
                     {In(Kind::Frame, "CA D3 BA"), In(Kind::Frame, "CA D3 BB")}},
        AssemblyCase{"SignatureAmongTheWriteValues",
                     {{0, "CA D3 B9 88 88 CA D3 BA 1E 09 01 37 14 05 00 00 00"}},
                     {In(Kind::Frame, "CA D3 B9 88 88 CA D3 BA 1E 09 01 37 14 05 00 00 00")}},
        AssemblyCase{"RestWithinTheAgeCompletesTheFrame",
                     {{0, "CA D3 B9 88 88 06 32"}, {190, "1E 09 01 37 14 05 00 00 00 00"}},
                     {In(Kind::Frame, "CA D3 B9 88 88 06 32 1E 09 01 37 14 05 00 00 00 00")}},
        AssemblyCase{"StalePartialIsDroppedBeforeTheNextFrame",
                     {{0, "CA D3 B9 88 88"}, {250, "CA D3 BA"}},
                     {In(Kind::Dropped, "CA D3 B9 88 88"), In(Kind::Frame, "CA D3 BA")}},
        AssemblyCase{"AgeCountsFromTheFirstByte",
                     {{0, "CA"}, {150, "D3 B9"}, {300, "88 88 06"}},
                     {In(Kind::Dropped, "CA D3 B9"), In(Kind::Junk, "88 88 06")}}),
    [](const testing::TestParamInfo<AssemblyCase>& row) { return row.param.Name; });

TEST(FrameAssembler, GivesUpAPartialFrameWhenItGrowsStale) {
    FrameAssembler assembler;
    EXPECT_FALSE(assembler.Deadline());
    EXPECT_TRUE(assembler.Feed(Hex("CA D3"), Millis{1000}).empty());
    ASSERT_TRUE(assembler.Deadline());
    EXPECT_GT(*assembler.Deadline(), Millis{1200});
    EXPECT_LE(*assembler.Deadline(), Millis{1210});
    EXPECT_FALSE(assembler.Expire(Millis{1200}));
    EXPECT_EQ(assembler.Expire(*assembler.Deadline()), In(Kind::Dropped, "CA D3"));
    EXPECT_FALSE(assembler.Deadline());
    EXPECT_EQ(assembler.Feed(Hex("BA"), Millis{1300}), std::vector{In(Kind::Junk, "BA")});
}

// --- Faults ------------------------------------------------------------------------------

struct FaultCase {
    const char* Name;
    TFaults Faults;
    const char* Command;
    std::vector<TReplyPiece> Expected;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.Name;
}

TReplyPiece At(int ms, const char* bytes) {
    return {Millis{ms}, Hex(bytes)};
}

TFaults Silent() {
    TFaults faults;
    faults.Silent = true;
    return faults;
}
TFaults Status(std::uint8_t status, TFaults faults = {}) {
    faults.Status = status;
    return faults;
}
TFaults Length(std::size_t length, TFaults faults = {}) {
    faults.Length = length;
    return faults;
}
TFaults Garbage(TFaults faults = {}) {
    faults.Garbage = true;
    return faults;
}
TFaults Split(int ms, TFaults faults = {}) {
    faults.Split = Millis{ms};
    return faults;
}
TFaults Delay(int ms, TFaults faults = {}) {
    faults.Delay = Millis{ms};
    return faults;
}

class FaultSwitches : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultSwitches, ShapeTheReplyOnTheLine) {
    SimulatorCore core(GetParam().Faults);
    const auto received = core.Receive(Hex(GetParam().Command), Millis{0});
    ASSERT_EQ(received.Replies.size(), GetParam().Expected.size());
    for (std::size_t i = 0; i < received.Replies.size(); ++i) {
        EXPECT_EQ(received.Replies[i].DueAt, GetParam().Expected[i].After) << "piece " << i;
        EXPECT_EQ(HexBytes(received.Replies[i].Data), HexBytes(GetParam().Expected[i].Data))
            << "piece " << i;
        EXPECT_EQ(received.Replies[i].Piece, static_cast<int>(i) + 1);
        EXPECT_EQ(received.Replies[i].Pieces, static_cast<int>(received.Replies.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachSwitch, FaultSwitches,
    testing::Values(
        FaultCase{"None",
                  {},
                  "CA D3 BA",
                  {At(0, "CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00")}},
        FaultCase{"SilentRead", Silent(), "CA D3 BA", {}},
        FaultCase{
            "SilentWrite", Silent(), "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00", {}},
        FaultCase{"StatusRead",
                  Status(0x80),
                  "CA D3 BA",
                  {At(0, "CA D3 BA 80 88 88 06 32 1E 09 01 37 14 05 00 00 00 00")}},
        FaultCase{"StatusWrite",
                  Status(0x80),
                  "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00",
                  {At(0, "CA D3 B9 80")}},
        FaultCase{"StatusLevels",
                  Status(0x00),
                  "CA D3 BB",
                  {At(0, "CA D3 BB 00 04 B0 09 C4 07 08 09 C4 00 00 01"
                         " 04 7E 09 C9 06 BD 09 C4 00 00 01")}},
        FaultCase{"LengthCutsRead",
                  Length(17),
                  "CA D3 BA",
                  {At(0, "CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00")}},
        FaultCase{"LengthPadsRead",
                  Length(20),
                  "CA D3 BA",
                  {At(0, "CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00 00 00")}},
        FaultCase{"LengthCutsLevels",
                  Length(25),
                  "CA D3 BB",
                  {At(0, "CA D3 BB 81 04 B0 09 C4 07 08 09 C4 00 00 01"
                         " 04 7E 09 C9 06 BD 09 C4 00 00")}},
        FaultCase{"LengthLeavesWriteReply",
                  Length(2),
                  "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00",
                  {At(0, "CA D3 B9 81")}},
        FaultCase{"GarbageRead",
                  Garbage(),
                  "CA D3 BA",
                  {At(0, "AC 3D BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00")}},
        FaultCase{"GarbageWrite",
                  Garbage(),
                  "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00",
                  {At(0, "AC 3D B9 81")}},
        FaultCase{"SplitRead",
                  Split(300),
                  "CA D3 BA",
                  {At(0, "CA D3 BA 81 88 88 06 32 1E"), At(300, "09 01 37 14 05 00 00 00 00")}},
        FaultCase{"SplitWrite",
                  Split(300),
                  "CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00",
                  {At(0, "CA D3"), At(300, "B9 81")}},
        FaultCase{"DelayRead",
                  Delay(250),
                  "CA D3 BA",
                  {At(250, "CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00")}},
        FaultCase{"DelayAndSplitLevels",
                  Split(100, Delay(250)),
                  "CA D3 BB",
                  {At(250, "CA D3 BB 81 04 B0 09 C4 07 08 09 C4 00"),
                   At(350, "00 01 04 7E 09 C9 06 BD 09 C4 00 00 01")}},
        FaultCase{"StatusLengthAndGarbageTogether",
                  Status(0x7F, Length(19, Garbage())),
                  "CA D3 BA",
                  {At(0, "AC 3D BA 7F 88 88 06 32 1E 09 01 37 14 05 00 00 00 00 00")}}),
    [](const testing::TestParamInfo<FaultCase>& row) { return row.param.Name; });

TEST(SimulatorCore, SchedulesRepliesFromTheMomentTheCommandIsComplete) {
    SimulatorCore core(Delay(250));
    EXPECT_TRUE(core.Receive(Hex("CA D3"), Millis{1000}).Replies.empty());
    const auto received = core.Receive(Hex("BA"), Millis{1040});
    ASSERT_EQ(received.Replies.size(), 1u);
    EXPECT_EQ(received.Replies[0].DueAt, Millis{1290});
}

TEST(SimulatorCore, AnswersEveryFrameOfOneReadAndNothingForJunk) {
    SimulatorCore core;
    const auto received = core.Receive(
        Hex("00 CA D3 B9 37 88 06 32 1E 32 14 37 14 05 00 00 00 00 CA D3 55 CA D3 BA"), Millis{0});
    ASSERT_EQ(received.Incoming.size(), 4u);
    ASSERT_EQ(received.Replies.size(), 2u);
    EXPECT_EQ(HexBytes(received.Replies[0].Data), "CA D3 B9 81");
    EXPECT_EQ(HexBytes(received.Replies[1].Data),
              "CA D3 BA 81 37 88 06 32 1E 32 14 37 14 05 00 00 00 00");
}

} // namespace
