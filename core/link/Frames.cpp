#include "link/Frames.h"

#include <algorithm>
#include <cstdio>

namespace tilu {

namespace {

constexpr std::string_view kBadReply = "***  Неправильный ответ от эмулятора!";
constexpr std::string_view kWrongCount = "Не правильное кол-во байт от эмулятора - ";
constexpr std::string_view kSettingsLoaded = "Данные с эмулятора загружены!";
constexpr std::string_view kWriteConfirmed = "Запись в эмулятор прошла успешно!";
constexpr std::string_view kWriteNotConfirmed =
    "С эмулятора не пришло подтверждения успешной записи";
constexpr std::string_view kUnknownCommand = "***  Неправильный ответ из эмулятора  ***";
constexpr std::string_view kBadSignature = "***  Неверный идентификатор из эмулятора  ***";

std::uint8_t LowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

std::uint8_t RxByte(const TLinkBuffers& link, std::size_t position) {
    return link.RxBuffer[position];
}

// The reply length the decoders judge; RxCount never exceeds the buffer.
std::size_t ReceivedCount(const TLinkBuffers& link) {
    return static_cast<std::size_t>(
        std::clamp<std::int32_t>(link.RxCount, 0, static_cast<std::int32_t>(LinkBufferSize)));
}

// Beep, the "***" count line and the count box of a reply whose length is wrong.
TReplyOutcome WrongCount(const TLinkBuffers& link) {
    const std::string count = std::to_string(link.RxCount);
    TReplyOutcome outcome;
    outcome.Beep = true;
    outcome.LogLines.push_back("***  " + std::string(kWrongCount) + count);
    outcome.InfoBox = std::string(kWrongCount) + count;
    return outcome;
}

TReplyOutcome LogOnly(std::string line) {
    TReplyOutcome outcome;
    outcome.LogLines.push_back(std::move(line));
    return outcome;
}

TReplyOutcome LoggedAndBoxed(std::string_view logLine, std::string_view box) {
    TReplyOutcome outcome;
    outcome.Beep = true;
    outcome.LogLines.emplace_back(logLine);
    outcome.InfoBox = std::string(box);
    return outcome;
}

std::string Level(const TLinkBuffers& link, std::size_t high) {
    const unsigned level = RxByte(link, high) * 256u + RxByte(link, high + 1);
    return std::to_string(level) + " мВ";
}

std::string Hex(std::uint8_t byte, bool twoDigits) {
    char text[3] = {};
    std::snprintf(text, sizeof text, twoDigits ? "%02X" : "%X", unsigned{byte});
    return text;
}

} // namespace

void BuildCommandFrame(TLinkBuffers& link, const TEmulatorSettings& settings,
                       std::uint8_t command) {
    auto& tx = link.TxBuffer;
    tx[0] = FrameSignature0;
    tx[1] = FrameSignature1;
    tx[2] = command;
    if (command != CmdWriteSettings) {
        link.TxLength = ShortFrameLength;
        return;
    }
    const TModeSettings& mode = settings.Current();
    tx[3] = EncodeMode(settings.Mode);
    tx[4] = EncodeFlag(mode.SignalDelay);
    tx[5] = LowByte(mode.RiseRate);
    tx[6] = LowByte(mode.OutputOffset);
    tx[7] = LowByte(mode.ResponseOnset);
    tx[8] = LowByte(mode.UpperBound);
    tx[9] = LowByte(mode.LowerBound);
    tx[10] = EncodeFlag(mode.MultipleResponse);
    tx[11] = LowByte(mode.PositiveDuration);
    tx[12] = LowByte(mode.NegativeDuration);
    std::fill(tx.begin() + 13, tx.begin() + WriteFrameLength, std::uint8_t{0});
    link.TxLength = WriteFrameLength;
}

void StoreReception(TLinkBuffers& link, std::span<const std::uint8_t> bytes) {
    const std::size_t count = std::min(bytes.size(), LinkBufferSize);
    std::copy_n(bytes.begin(), count, link.RxBuffer.begin());
    link.RxCount = static_cast<std::int32_t>(count);
}

TReplyOutcome DecodeSettingsReply(const TLinkBuffers& link, TEmulatorSettings& settings) {
    if (RxByte(link, 3) != ReplyOk) {
        return LogOnly(std::string(kBadReply));
    }
    if (link.RxCount != SettingsReplyLength) {
        return WrongCount(link);
    }
    settings.Mode = DecodeMode(RxByte(link, 4));
    TModeSettings& mode = settings.Current();
    mode.SignalDelay = DecodeFlag(RxByte(link, 5));
    mode.RiseRate = RxByte(link, 6);
    mode.OutputOffset = RxByte(link, 7);
    mode.ResponseOnset = RxByte(link, 8);
    mode.UpperBound = RxByte(link, 9);
    mode.LowerBound = RxByte(link, 10);
    mode.MultipleResponse = DecodeFlag(RxByte(link, 11));
    mode.PositiveDuration = RxByte(link, 12);
    mode.NegativeDuration = RxByte(link, 13);

    TReplyOutcome outcome = LoggedAndBoxed(kSettingsLoaded, kSettingsLoaded);
    outcome.ShowSettingsOnPages = true;
    return outcome;
}

TReplyOutcome DecodeWriteReply(const TLinkBuffers& link) {
    if (RxByte(link, 3) == ReplyOk) {
        return LoggedAndBoxed(kWriteConfirmed, kWriteConfirmed);
    }
    return LoggedAndBoxed("***  " + std::string(kWriteNotConfirmed) + "  ***", kWriteNotConfirmed);
}

TReplyOutcome DecodeLevelsReply(const TLinkBuffers& link) {
    if (RxByte(link, 3) != ReplyOk) {
        return LogOnly(std::string(kBadReply));
    }
    if (link.RxCount != LevelsReplyLength) {
        return WrongCount(link);
    }
    TReplyOutcome outcome;
    auto& lines = outcome.LogLines;
    // Channel A in bytes 4 to 14, channel B in bytes 15 to 25, laid out alike.
    const auto channel = [&](std::string_view letter, std::size_t first) {
        lines.push_back("Канал " + std::string(letter));
        lines.push_back("-> Уровень входного сигнала - " + Level(link, first));
        lines.push_back("-> Уровень опорного входа - " + Level(link, first + 2));
        lines.push_back("-> Уровень выходного сигнала - " + Level(link, first + 4));
        lines.push_back("-> Уровень опорного выхода - " + Level(link, first + 6));
        lines.push_back("-> Статус канала " + std::string(letter) + " - " +
                        Hex(RxByte(link, first + 10), true));
    };
    channel("А", 4);
    channel("В", 15);
    return outcome;
}

TReplyOutcome JudgeReception(const TLinkBuffers& link, TEmulatorSettings& settings) {
    if (RxByte(link, 0) == FrameSignature0 && RxByte(link, 1) == FrameSignature1) {
        switch (RxByte(link, 2)) {
        case CmdReadSettings:
            return DecodeSettingsReply(link, settings);
        case CmdWriteSettings:
            return DecodeWriteReply(link);
        case CmdReadLevels:
            return DecodeLevelsReply(link);
        default: {
            TReplyOutcome outcome = LogOnly(std::string(kUnknownCommand));
            outcome.LogLines.push_back(DumpLine(link));
            return outcome;
        }
        }
    }
    TReplyOutcome outcome = LogOnly(std::string(kBadSignature));
    outcome.LogLines.push_back(DumpLine(link));
    return outcome;
}

std::string DumpLine(const TLinkBuffers& link) {
    std::string line = "Прием : (" + std::to_string(link.RxCount) + ") ->";
    const std::size_t count = ReceivedCount(link);
    for (std::size_t i = 0; i < count; ++i) {
        line += '_';
        line += Hex(link.RxBuffer[i], false);
    }
    return line;
}

std::string LineErrorText(TComErrors errors) {
    struct Kind {
        TComError error;
        std::string_view text;
    };
    static constexpr Kind kKinds[] = {
        {ceFrame, "Framing_"},
        {ceRxParity, "RxParity_"},
        {ceOverrun, "Overrun_"},
        {ceBreak, "Break_"},
        {ceIO, ""},
        {ceMode, "Mode_"},
        {ceRxOver, "RxOver_"},
        {ceTxFull, "TxFull"},
    };
    std::string text = "Ошибка COM-порта\n\r";
    for (const Kind& kind : kKinds) {
        if ((errors & kind.error) != 0) {
            text += kind.text;
        }
    }
    return text;
}

} // namespace tilu
