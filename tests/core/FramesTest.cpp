#include "link/Frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using namespace tilu;
using M = TEmulatorMode;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

namespace {

template <class Case> std::string CaseName(const testing::TestParamInfo<Case>& param) {
    return param.param.name;
}

Bytes SentFrame(const TLinkBuffers& link) {
    return Bytes(link.TxBuffer.begin(), link.TxBuffer.begin() + link.TxLength);
}

void Receive(TLinkBuffers& link, const Bytes& bytes) {
    StoreReception(link, bytes);
}

TEmulatorSettings StartUpSettings() {
    TEmulatorSettings settings;
    settings.Mode = M::OSG;
    settings.OsgSettings = FactoryDefaults(M::OSG);
    settings.LafSettings = FactoryDefaults(M::LAF);
    return settings;
}

// A settings reply as the emulator sends it after the start-up OSG settings.
const Bytes kOsgSettingsReply = {0xCA, 0xD3, 0xBA, 0x81, 0x88, 0x88, 0x06, 0x32, 0x1E,
                                 0x09, 0x01, 0x37, 0x14, 0x05, 0x00, 0x00, 0x00, 0x00};

// ---------------------------------------------------------------------------------------
// Command frames

struct WriteFrameCase {
    const char* name;
    TEmulatorSettings settings;
    Bytes expected;
};

void PrintTo(const WriteFrameCase& c, std::ostream* os) {
    *os << c.name;
}

TEmulatorSettings LafDefaults() {
    TEmulatorSettings settings = StartUpSettings();
    settings.Mode = M::LAF;
    return settings;
}

TEmulatorSettings OsgWithWideValues() {
    TEmulatorSettings settings = StartUpSettings();
    settings.OsgSettings.RiseRate = 300;
    settings.OsgSettings.OutputOffset = 200;
    settings.OsgSettings.ResponseOnset = 65536 + 30;
    settings.OsgSettings.LowerBound = -5;
    settings.OsgSettings.SignalDelay = false;
    settings.OsgSettings.MultipleResponse = true;
    return settings;
}

class WriteFrameTable : public testing::TestWithParam<WriteFrameCase> {};

TEST_P(WriteFrameTable, CarriesModeAndCurrentModeSettings) {
    const WriteFrameCase& c = GetParam();
    TLinkBuffers link;
    link.TxBuffer.fill(0xEE); // whatever an earlier frame left
    BuildCommandFrame(link, c.settings, CmdWriteSettings);
    EXPECT_EQ(link.TxLength, 17);
    EXPECT_EQ(SentFrame(link), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, WriteFrameTable,
    testing::Values(WriteFrameCase{"StartUpOsg",
                                   StartUpSettings(),
                                   {0xCA, 0xD3, 0xB9, 0x88, 0x88, 0x06, 0x32, 0x1E, 0x09, 0x01,
                                    0x37, 0x14, 0x05, 0x00, 0x00, 0x00, 0x00}},
                    WriteFrameCase{"LafDefaults",
                                   LafDefaults(),
                                   {0xCA, 0xD3, 0xB9, 0x37, 0x88, 0x06, 0x32, 0x1E, 0x32, 0x14,
                                    0x37, 0x14, 0x05, 0x00, 0x00, 0x00, 0x00}},
                    WriteFrameCase{"HeldValuesSentAsLowByte",
                                   OsgWithWideValues(),
                                   {0xCA, 0xD3, 0xB9, 0x88, 0x37, 0x2C, 0xC8, 0x1E, 0x09, 0xFB,
                                    0x88, 0x14, 0x05, 0x00, 0x00, 0x00, 0x00}}),
    CaseName<WriteFrameCase>);

class ShortFrames : public testing::TestWithParam<std::uint8_t> {};

TEST_P(ShortFrames, AreThreeBytesWhateverTheBufferHeld) {
    TLinkBuffers link;
    BuildCommandFrame(link, StartUpSettings(), CmdWriteSettings);
    BuildCommandFrame(link, StartUpSettings(), GetParam());
    EXPECT_EQ(link.TxLength, 3);
    EXPECT_EQ(SentFrame(link), (Bytes{0xCA, 0xD3, GetParam()}));
}

INSTANTIATE_TEST_SUITE_P(Frames, ShortFrames,
                         testing::Values(std::uint8_t{0xBA}, std::uint8_t{0xBB}));

TEST(StoreReception, KeepsAtMost256BytesAndLeavesTheRestOfTheBuffer) {
    TLinkBuffers link;
    Bytes flood(300);
    for (std::size_t i = 0; i < flood.size(); ++i) {
        flood[i] = static_cast<std::uint8_t>(i + 1);
    }
    StoreReception(link, flood);
    EXPECT_EQ(link.RxCount, 256);
    EXPECT_EQ(link.RxBuffer[255], 0x00); // byte 256 of the flood is 256 & 0xFF
    EXPECT_EQ(link.RxBuffer[254], 0xFF);

    StoreReception(link, Bytes{0x11, 0x22});
    EXPECT_EQ(link.RxCount, 2);
    EXPECT_EQ(link.RxBuffer[0], 0x11);
    EXPECT_EQ(link.RxBuffer[1], 0x22);
    EXPECT_EQ(link.RxBuffer[2], 0x03); // never cleared
}

// ---------------------------------------------------------------------------------------
// Judging a reception: the signature test, the dispatch and every decoder outcome

struct ReceptionCase {
    const char* name;
    std::vector<Bytes> earlier; // receptions before the one judged
    Bytes reception;
    bool showOnPages;
    bool beep;
    Lines lines;
    std::optional<std::string> box;
};

void PrintTo(const ReceptionCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes WithLength(Bytes head, std::size_t length) {
    head.resize(length, 0x00);
    return head;
}

Bytes LevelsReply(std::uint8_t status, std::size_t length = 26) {
    Bytes reply = {0xCA, 0xD3, 0xBB, status, 0x01, 0xF4, 0xFF, 0xFF, 0x00, 0x00, 0x12, 0x34, 0x99,
                   0x99, 0x05, 0x00, 0x07,   0x27, 0x10, 0x80, 0x00, 0x00, 0xFF, 0x99, 0x99, 0xAB};
    reply.resize(length, 0x00);
    return reply;
}

const std::string kLoaded = "Данные с эмулятора загружены!";
const std::string kBadReply = "***  Неправильный ответ от эмулятора!";
const std::string kConfirmed = "Запись в эмулятор прошла успешно!";
const std::string kNotConfirmedLine =
    "***  С эмулятора не пришло подтверждения успешной записи  ***";
const std::string kNotConfirmedBox = "С эмулятора не пришло подтверждения успешной записи";

class ReceptionTable : public testing::TestWithParam<ReceptionCase> {};

TEST_P(ReceptionTable, GivesTheOperatorTheOutcome) {
    const ReceptionCase& c = GetParam();
    TLinkBuffers link;
    TEmulatorSettings settings = StartUpSettings();
    for (const Bytes& earlier : c.earlier) {
        Receive(link, earlier);
    }
    Receive(link, c.reception);
    const TReplyOutcome outcome = JudgeReception(link, settings);
    EXPECT_EQ(outcome.ShowSettingsOnPages, c.showOnPages);
    EXPECT_EQ(outcome.Beep, c.beep);
    EXPECT_EQ(outcome.LogLines, c.lines);
    EXPECT_EQ(outcome.InfoBox, c.box);
}

INSTANTIATE_TEST_SUITE_P(
    Decoders, ReceptionTable,
    testing::Values(
        // Settings reply
        ReceptionCase{"SettingsTaken", {}, kOsgSettingsReply, true, true, {kLoaded}, kLoaded},
        ReceptionCase{"SettingsBadStatus",
                      {},
                      WithLength({0xCA, 0xD3, 0xBA, 0x80}, 18),
                      false,
                      false,
                      {kBadReply},
                      std::nullopt},
        ReceptionCase{"SettingsBadStatusBeforeLength",
                      {},
                      WithLength({0xCA, 0xD3, 0xBA, 0x80}, 5),
                      false,
                      false,
                      {kBadReply},
                      std::nullopt},
        ReceptionCase{"Settings17Bytes",
                      {},
                      WithLength({0xCA, 0xD3, 0xBA, 0x81}, 17),
                      false,
                      true,
                      {"***  Не правильное кол-во байт от эмулятора - 17"},
                      "Не правильное кол-во байт от эмулятора - 17"},
        ReceptionCase{"Settings19Bytes",
                      {},
                      WithLength({0xCA, 0xD3, 0xBA, 0x81}, 19),
                      false,
                      true,
                      {"***  Не правильное кол-во байт от эмулятора - 19"},
                      "Не правильное кол-во байт от эмулятора - 19"},
        // Write reply: only byte 3 counts, whatever the length
        ReceptionCase{"WriteConfirmed4Bytes",
                      {},
                      {0xCA, 0xD3, 0xB9, 0x81},
                      false,
                      true,
                      {kConfirmed},
                      kConfirmed},
        ReceptionCase{"WriteConfirmed30Bytes",
                      {},
                      WithLength({0xCA, 0xD3, 0xB9, 0x81}, 30),
                      false,
                      true,
                      {kConfirmed},
                      kConfirmed},
        ReceptionCase{"WriteRefused",
                      {},
                      {0xCA, 0xD3, 0xB9, 0x80},
                      false,
                      true,
                      {kNotConfirmedLine},
                      kNotConfirmedBox},
        ReceptionCase{"Write3BytesFreshBuffer",
                      {},
                      {0xCA, 0xD3, 0xB9},
                      false,
                      true,
                      {kNotConfirmedLine},
                      kNotConfirmedBox},
        ReceptionCase{"Write3BytesStaleConfirmation",
                      {kOsgSettingsReply},
                      {0xCA, 0xD3, 0xB9},
                      false,
                      true,
                      {kConfirmed},
                      kConfirmed},
        // Levels reply
        ReceptionCase{
            "LevelsTaken",
            {},
            LevelsReply(0x81),
            false,
            false,
            {"Канал \u0410", "-> Уровень входного сигнала - 500 \u043C\u0412",
             "-> Уровень опорного входа - 65535 \u043C\u0412",
             "-> Уровень выходного сигнала - 0 \u043C\u0412",
             "-> Уровень опорного выхода - 4660 \u043C\u0412", "-> Статус канала \u0410 - 05",
             "Канал \u0412", "-> Уровень входного сигнала - 7 \u043C\u0412",
             "-> Уровень опорного входа - 10000 \u043C\u0412",
             "-> Уровень выходного сигнала - 32768 \u043C\u0412",
             "-> Уровень опорного выхода - 255 \u043C\u0412", "-> Статус канала \u0412 - AB"},
            std::nullopt},
        ReceptionCase{
            "LevelsBadStatus", {}, LevelsReply(0x00), false, false, {kBadReply}, std::nullopt},
        ReceptionCase{"Levels25Bytes",
                      {},
                      LevelsReply(0x81, 25),
                      false,
                      true,
                      {"***  Не правильное кол-во байт от эмулятора - 25"},
                      "Не правильное кол-во байт от эмулятора - 25"},
        // Receptions no decoder takes
        ReceptionCase{"UnknownCommand",
                      {},
                      {0xCA, 0xD3, 0x05},
                      false,
                      false,
                      {"***  Неправильный ответ из эмулятора  ***", "Прием : (3) ->_CA_D3_5"},
                      std::nullopt},
        ReceptionCase{"SingleByteFirstReception",
                      {},
                      {0xCA},
                      false,
                      false,
                      {"***  Неверный идентификатор из эмулятора  ***", "Прием : (1) ->_CA"},
                      std::nullopt},
        ReceptionCase{
            "WrongSignatureOneDigitHex",
            {},
            {0x0A, 0xD3, 0xBA, 0x00, 0x10},
            false,
            false,
            {"***  Неверный идентификатор из эмулятора  ***", "Прием : (5) ->_A_D3_BA_0_10"},
            std::nullopt},
        // Bytes 1 to 3 of the earlier settings reply are still in the buffer.
        ReceptionCase{"SingleByteAfterSettingsReply",
                      {kOsgSettingsReply},
                      {0xCA},
                      false,
                      true,
                      {"***  Не правильное кол-во байт от эмулятора - 1"},
                      "Не правильное кол-во байт от эмулятора - 1"}),
    CaseName<ReceptionCase>);

TEST(DumpLine, ShowsEveryStoredByteAndNoMore) {
    TLinkBuffers link;
    Receive(link, Bytes(300, 0x05));
    const std::string line = DumpLine(link);
    std::string expected = "Прием : (256) ->";
    for (int i = 0; i < 256; ++i) {
        expected += "_5";
    }
    EXPECT_EQ(line, expected);
}

// ---------------------------------------------------------------------------------------
// The settings reply and the model

TEST(SettingsReply, FillsModeAndThatModesSettingsOnly) {
    TLinkBuffers link;
    TEmulatorSettings settings = StartUpSettings();
    const TModeSettings osgBefore = settings.OsgSettings;
    Receive(link, {0xCA, 0xD3, 0xBA, 0x81, 0x37, 0x00, 0xC8, 0x00, 0x32, 0x14, 0xC8, 0x88, 0x28,
                   0x0A, 0xFF, 0xFF, 0xFF, 0xFF});
    const TReplyOutcome outcome = DecodeSettingsReply(link, settings);
    EXPECT_TRUE(outcome.ShowSettingsOnPages);
    EXPECT_EQ(settings.Mode, M::LAF);
    TModeSettings expected;
    expected.SignalDelay = false;
    expected.RiseRate = 200;
    expected.OutputOffset = 0;
    expected.ResponseOnset = 50;
    expected.UpperBound = 20;
    expected.LowerBound = 200;
    expected.MultipleResponse = true;
    expected.PositiveDuration = 40;
    expected.NegativeDuration = 10;
    EXPECT_EQ(settings.LafSettings, expected);
    EXPECT_EQ(settings.OsgSettings, osgBefore);

    // The held value goes out again unchanged.
    BuildCommandFrame(link, settings, CmdWriteSettings);
    EXPECT_EQ(SentFrame(link), (Bytes{0xCA, 0xD3, 0xB9, 0x37, 0x37, 0xC8, 0x00, 0x32, 0x14, 0xC8,
                                      0x88, 0x28, 0x0A, 0x00, 0x00, 0x00, 0x00}));
}

TEST(SettingsReply, OnlyFlagOnMeansOsgAndYes) {
    TLinkBuffers link;
    TEmulatorSettings settings = StartUpSettings();
    settings.Mode = M::LAF;
    Bytes reply = kOsgSettingsReply;
    Receive(link, reply);
    DecodeSettingsReply(link, settings);
    EXPECT_EQ(settings.Mode, M::OSG);
    EXPECT_TRUE(settings.OsgSettings.SignalDelay);

    reply[4] = 0x00; // neither FlagOn nor FlagOff
    reply[5] = 0x00;
    reply[11] = 0x00;
    settings.LafSettings.SignalDelay = true;
    settings.LafSettings.MultipleResponse = true;
    Receive(link, reply);
    DecodeSettingsReply(link, settings);
    EXPECT_EQ(settings.Mode, M::LAF);
    EXPECT_FALSE(settings.LafSettings.SignalDelay);
    EXPECT_FALSE(settings.LafSettings.MultipleResponse);
}

class RejectedSettingsReply : public testing::TestWithParam<Bytes> {};

TEST_P(RejectedSettingsReply, LeavesTheModelAsItWas) {
    TLinkBuffers link;
    TEmulatorSettings settings = StartUpSettings();
    settings.Mode = M::LAF;
    const TEmulatorSettings before = settings;
    Receive(link, GetParam());
    const TReplyOutcome outcome = DecodeSettingsReply(link, settings);
    EXPECT_FALSE(outcome.ShowSettingsOnPages);
    EXPECT_EQ(settings, before);
}

INSTANTIATE_TEST_SUITE_P(Decoders, RejectedSettingsReply,
                         testing::Values(WithLength({0xCA, 0xD3, 0xBA, 0x80, 0x88, 0x37, 0x02}, 18),
                                         WithLength({0xCA, 0xD3, 0xBA, 0x81, 0x88, 0x37, 0x02}, 17),
                                         WithLength({0xCA, 0xD3, 0xBA, 0x81, 0x88, 0x37, 0x02},
                                                    19)));

// ---------------------------------------------------------------------------------------
// Line-error report

struct LineErrorCase {
    const char* name;
    TComErrors errors;
    const char* text;
};

void PrintTo(const LineErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class LineErrorTable : public testing::TestWithParam<LineErrorCase> {};

TEST_P(LineErrorTable, ListsTheKindsInTheirOrder) {
    EXPECT_EQ(LineErrorText(GetParam().errors), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    LinkErrors, LineErrorTable,
    testing::Values(LineErrorCase{"IoAlone", ceIO, "Ошибка COM-порта\n\r"},
                    LineErrorCase{"FrameAndOverrun", static_cast<TComErrors>(ceOverrun | ceFrame),
                                  "Ошибка COM-порта\n\rFraming_Overrun_"},
                    LineErrorCase{"TxFullAlone", ceTxFull, "Ошибка COM-порта\n\rTxFull"},
                    LineErrorCase{
                        "Every", 0xFF,
                        "Ошибка COM-порта\n\rFraming_RxParity_Overrun_Break_Mode_RxOver_TxFull"}),
    CaseName<LineErrorCase>);

} // namespace
