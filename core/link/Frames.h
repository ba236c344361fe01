#pragma once

#include "model/EmulatorSettings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tilu {

inline constexpr std::uint8_t FrameSignature0 = 0xCA;
inline constexpr std::uint8_t FrameSignature1 = 0xD3;
inline constexpr std::uint8_t CmdWriteSettings = 0xB9;
inline constexpr std::uint8_t CmdReadSettings = 0xBA;
inline constexpr std::uint8_t CmdReadLevels = 0xBB;
inline constexpr std::uint8_t ReplyOk = 0x81;

inline constexpr std::size_t LinkBufferSize = 256;
inline constexpr std::int32_t WriteFrameLength = 17;
inline constexpr std::int32_t ShortFrameLength = 3;
inline constexpr std::int32_t SettingsReplyLength = 18;
inline constexpr std::int32_t LevelsReplyLength = 26;

// The command frame being sent and the last reception. One of each for the whole run;
// RxBuffer is never cleared, so bytes beyond RxCount keep what an earlier reception left.
struct TLinkBuffers {
    std::array<std::uint8_t, LinkBufferSize> TxBuffer{};
    std::int32_t TxLength = 0;
    std::array<std::uint8_t, LinkBufferSize> RxBuffer{};
    std::int32_t RxCount = 0;
};

// What the operator must be told about a reception, in the order the window carries it out:
// show the current mode's settings on its page, beep, append the log lines, show the box.
struct TReplyOutcome {
    bool ShowSettingsOnPages = false;
    bool Beep = false;
    std::vector<std::string> LogLines;  // UTF-8
    std::optional<std::string> InfoBox; // UTF-8, the plain information box
};

void BuildCommandFrame(TLinkBuffers& link, const TEmulatorSettings& settings, std::uint8_t command);

// Stores at most LinkBufferSize bytes of a reception at the start of RxBuffer and sets RxCount.
void StoreReception(TLinkBuffers& link, std::span<const std::uint8_t> bytes);

TReplyOutcome DecodeSettingsReply(const TLinkBuffers& link, TEmulatorSettings& settings);
TReplyOutcome DecodeWriteReply(const TLinkBuffers& link);
TReplyOutcome DecodeLevelsReply(const TLinkBuffers& link);

// The signature test and the dispatch by command byte, with the dump line for a reception
// that no decoder takes.
TReplyOutcome JudgeReception(const TLinkBuffers& link, TEmulatorSettings& settings);

// "Прием : (3) ->_CA_D3_5"
std::string DumpLine(const TLinkBuffers& link);

// Line-error kinds in the order the report lists them.
enum TComError : std::uint8_t {
    ceFrame = 1u << 0,
    ceRxParity = 1u << 1,
    ceOverrun = 1u << 2,
    ceBreak = 1u << 3,
    ceIO = 1u << 4,
    ceMode = 1u << 5,
    ceRxOver = 1u << 6,
    ceTxFull = 1u << 7,
};
using TComErrors = std::uint8_t;

// "Ошибка COM-порта\n\r" followed by the text of every kind present.
std::string LineErrorText(TComErrors errors);

} // namespace tilu
