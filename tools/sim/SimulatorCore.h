#pragma once

// The emulator simulator without its I/O: the frames it takes from the line, the settings it
// keeps, the replies it composes and the faults it can be told to show.

#include "model/EmulatorSettings.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tilu::sim {

using Bytes = std::vector<std::uint8_t>;
// Time on the simulator's own clock, counted from its start.
using Millis = std::chrono::milliseconds;

// A partial frame whose first byte arrived longer ago than this is given up.
inline constexpr Millis StaleFrameAge{200};

// Bytes that stand in a reply with --garbage where the frame signature belongs.
inline constexpr std::uint8_t GarbageSignature0 = 0xAC;
inline constexpr std::uint8_t GarbageSignature1 = 0x3D;

// What the assembler made of the bytes that came in.
struct TIncoming {
    enum class Kind {
        Frame,   // a whole command frame
        Junk,    // bytes that belong to no frame, discarded
        Dropped, // the start of a frame whose rest never came in time
    };
    Kind What;
    Bytes Data;

    friend bool operator==(const TIncoming&, const TIncoming&) = default;
};

// Collects bytes that arrive in pieces into command frames. It looks for the frame signature,
// takes 17 bytes for a write frame and 3 for the two read commands, and discards anything else.
// A write frame's body is taken as it comes: its value bytes may well hold the signature.
class FrameAssembler {
public:
    std::vector<TIncoming> Feed(std::span<const std::uint8_t> bytes, Millis now);

    // Gives up a partial frame that has grown stale by now.
    std::optional<TIncoming> Expire(Millis now);

    // When the partial frame held now grows stale, if one is held.
    std::optional<Millis> Deadline() const;

private:
    Bytes pending_;
    Millis firstByteAt_{0};
};

// Signal levels in millivolts of one channel, as the levels reply carries them.
struct TChannelLevels {
    std::uint16_t Input = 0;
    std::uint16_t ReferenceInput = 0;
    std::uint16_t Output = 0;
    std::uint16_t ReferenceOutput = 0;
    std::uint8_t Status = 0;
};

// Plausible, slowly varying levels of both channels at a moment of the simulator's clock.
TChannelLevels LevelsOfChannelA(Millis now);
TChannelLevels LevelsOfChannelB(Millis now);

// The emulator's own behaviour: the settings it keeps and the replies it gives, faults aside.
class Emulator {
public:
    Emulator(); // the factory defaults of both modes, mode OSG

    // The reply to a whole command frame; empty for a frame it does not answer.
    Bytes Answer(std::span<const std::uint8_t> frame, Millis now);

    const TEmulatorSettings& Settings() const { return settings_; }

private:
    TEmulatorSettings settings_;
};

// The faults the simulator is told to show in its replies.
struct TFaults {
    bool Silent = false;
    std::optional<std::uint8_t> Status;
    std::optional<Millis> Split;
    std::optional<std::size_t> Length;
    bool Garbage = false;
    Millis Delay{0};

    bool Any() const {
        return Silent || Status || Split || Length || Garbage || Delay != Millis{0};
    }
};

// One piece of a reply and when it is due, counted from the moment its command was taken.
struct TReplyPiece {
    Millis After;
    Bytes Data;

    friend bool operator==(const TReplyPiece&, const TReplyPiece&) = default;
};

// Turns a reply into the pieces that go on the line, as the faults want them.
std::vector<TReplyPiece> ApplyFaults(Bytes reply, const TFaults& faults);

// Assembler, emulator and faults together: what the main loop drives.
class SimulatorCore {
public:
    struct TScheduledPiece {
        Millis DueAt;
        Bytes Data;
        int Piece; // 1-based
        int Pieces;
    };
    struct TReceived {
        std::vector<TIncoming> Incoming;
        std::vector<TScheduledPiece> Replies;
    };

    explicit SimulatorCore(TFaults faults = {});

    TReceived Receive(std::span<const std::uint8_t> bytes, Millis now);
    std::optional<TIncoming> Expire(Millis now) { return assembler_.Expire(now); }
    std::optional<Millis> ExpiryDeadline() const { return assembler_.Deadline(); }

    const TEmulatorSettings& Settings() const { return emulator_.Settings(); }
    const TFaults& Faults() const { return faults_; }

private:
    TFaults faults_;
    FrameAssembler assembler_;
    Emulator emulator_;
};

// "CA D3 BA": upper-case hexadecimal, two digits a byte, one space between.
std::string HexBytes(std::span<const std::uint8_t> bytes);

} // namespace tilu::sim
