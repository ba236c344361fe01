#include "SimulatorCore.h"

#include "link/Frames.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tilu::sim {

namespace {

constexpr std::size_t StatusPosition = 3;

// Length of the command frame that a command byte starts; 0 for a byte that starts none.
std::size_t CommandFrameLength(std::uint8_t command) {
    switch (command) {
    case CmdWriteSettings:
        return static_cast<std::size_t>(WriteFrameLength);
    case CmdReadSettings:
    case CmdReadLevels:
        return static_cast<std::size_t>(ShortFrameLength);
    default:
        return 0;
    }
}

std::uint8_t FlagByte(bool on) {
    return on ? FlagOn : FlagOff;
}

std::uint8_t ValueByte(std::int32_t held) {
    return static_cast<std::uint8_t>(held & 0xFF);
}

void AppendLevel(Bytes& reply, std::uint16_t millivolts) {
    reply.push_back(static_cast<std::uint8_t>(millivolts >> 8));
    reply.push_back(static_cast<std::uint8_t>(millivolts & 0xFF));
}

void AppendChannel(Bytes& reply, const TChannelLevels& channel) {
    AppendLevel(reply, channel.Input);
    AppendLevel(reply, channel.ReferenceInput);
    AppendLevel(reply, channel.Output);
    AppendLevel(reply, channel.ReferenceOutput);
    reply.push_back(0x00);
    reply.push_back(0x00);
    reply.push_back(channel.Status);
}

// A slow wave of the given period, 0 at the start of the clock.
double Wave(Millis now, double periodSeconds, double phase = 0.0) {
    const double seconds = static_cast<double>(now.count()) / 1000.0;
    return std::sin(2.0 * std::numbers::pi * seconds / periodSeconds + phase);
}

std::uint16_t Millivolts(double value) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

TChannelLevels Channel(Millis now, double inputMean, double inputSwing, double phase) {
    TChannelLevels levels;
    const double input = inputMean + inputSwing * Wave(now, 30.0, phase);
    levels.Input = Millivolts(input);
    levels.ReferenceInput = Millivolts(2500.0 + 5.0 * Wave(now, 7.0, phase));
    levels.Output = Millivolts(input * 1.5);
    levels.ReferenceOutput = 2500;
    levels.Status = 0x01;
    return levels;
}

} // namespace

std::vector<TIncoming> FrameAssembler::Feed(std::span<const std::uint8_t> bytes, Millis now) {
    std::vector<TIncoming> result;
    if (auto dropped = Expire(now)) {
        result.push_back(std::move(*dropped));
    }
    const bool continuesPartial = !pending_.empty();
    Bytes buffer = std::move(pending_);
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    pending_.clear();

    Bytes junk;
    auto flushJunk = [&] {
        if (!junk.empty()) {
            result.push_back({TIncoming::Kind::Junk, std::move(junk)});
            junk.clear();
        }
    };

    std::size_t at = 0;
    while (at < buffer.size()) {
        const std::size_t left = buffer.size() - at;
        if (buffer[at] != FrameSignature0) {
            junk.push_back(buffer[at++]);
            continue;
        }
        if (left < 2) {
            break;
        }
        if (buffer[at + 1] != FrameSignature1) {
            junk.push_back(buffer[at++]);
            continue;
        }
        if (left < 3) {
            break;
        }
        const std::size_t length = CommandFrameLength(buffer[at + 2]);
        if (length == 0) {
            junk.push_back(buffer[at++]);
            junk.push_back(buffer[at++]);
            continue;
        }
        if (left < length) {
            break;
        }
        flushJunk();
        const auto start = buffer.begin() + static_cast<std::ptrdiff_t>(at);
        result.push_back(
            {TIncoming::Kind::Frame, Bytes(start, start + static_cast<std::ptrdiff_t>(length))});
        at += length;
    }
    flushJunk();

    pending_.assign(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end());
    if (!pending_.empty() && !(continuesPartial && at == 0)) {
        firstByteAt_ = now;
    }
    return result;
}

std::optional<TIncoming> FrameAssembler::Expire(Millis now) {
    if (pending_.empty() || now - firstByteAt_ <= StaleFrameAge) {
        return std::nullopt;
    }
    TIncoming dropped{TIncoming::Kind::Dropped, std::move(pending_)};
    pending_.clear();
    return dropped;
}

std::optional<Millis> FrameAssembler::Deadline() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    return firstByteAt_ + StaleFrameAge + Millis{1};
}

TChannelLevels LevelsOfChannelA(Millis now) {
    return Channel(now, 1200.0, 300.0, 0.0);
}

TChannelLevels LevelsOfChannelB(Millis now) {
    return Channel(now, 900.0, 250.0, std::numbers::pi / 2.0);
}

Emulator::Emulator() {
    settings_.Mode = TEmulatorMode::OSG;
    settings_.OsgSettings = FactoryDefaults(TEmulatorMode::OSG);
    settings_.LafSettings = FactoryDefaults(TEmulatorMode::LAF);
}

Bytes Emulator::Answer(std::span<const std::uint8_t> frame, Millis now) {
    if (frame.size() < 3 || frame[0] != FrameSignature0 || frame[1] != FrameSignature1) {
        return {};
    }
    const std::uint8_t command = frame[2];
    Bytes reply{FrameSignature0, FrameSignature1, command, ReplyOk};

    switch (command) {
    case CmdWriteSettings: {
        if (frame.size() < static_cast<std::size_t>(WriteFrameLength)) {
            return {};
        }
        settings_.Mode = frame[3] == FlagOn ? TEmulatorMode::OSG : TEmulatorMode::LAF;
        TModeSettings& mode = settings_.Current();
        mode.SignalDelay = frame[4] == FlagOn;
        mode.RiseRate = frame[5];
        mode.OutputOffset = frame[6];
        mode.ResponseOnset = frame[7];
        mode.UpperBound = frame[8];
        mode.LowerBound = frame[9];
        mode.MultipleResponse = frame[10] == FlagOn;
        mode.PositiveDuration = frame[11];
        mode.NegativeDuration = frame[12];
        return reply;
    }
    case CmdReadSettings: {
        const TModeSettings& mode = settings_.Current();
        reply.push_back(FlagByte(settings_.Mode == TEmulatorMode::OSG));
        reply.push_back(FlagByte(mode.SignalDelay));
        reply.push_back(ValueByte(mode.RiseRate));
        reply.push_back(ValueByte(mode.OutputOffset));
        reply.push_back(ValueByte(mode.ResponseOnset));
        reply.push_back(ValueByte(mode.UpperBound));
        reply.push_back(ValueByte(mode.LowerBound));
        reply.push_back(FlagByte(mode.MultipleResponse));
        reply.push_back(ValueByte(mode.PositiveDuration));
        reply.push_back(ValueByte(mode.NegativeDuration));
        reply.resize(static_cast<std::size_t>(SettingsReplyLength), 0x00);
        return reply;
    }
    case CmdReadLevels:
        AppendChannel(reply, LevelsOfChannelA(now));
        AppendChannel(reply, LevelsOfChannelB(now));
        return reply;
    default:
        return {};
    }
}

std::vector<TReplyPiece> ApplyFaults(Bytes reply, const TFaults& faults) {
    if (faults.Silent || reply.empty()) {
        return {};
    }
    if (faults.Status && reply.size() > StatusPosition) {
        reply[StatusPosition] = *faults.Status;
    }
    const std::uint8_t command = reply.size() > 2 ? reply[2] : 0;
    if (faults.Length && (command == CmdReadSettings || command == CmdReadLevels)) {
        reply.resize(*faults.Length, 0x00);
        if (reply.empty()) {
            return {};
        }
    }
    if (faults.Garbage) {
        reply[0] = GarbageSignature0;
        if (reply.size() > 1) {
            reply[1] = GarbageSignature1;
        }
    }
    if (!faults.Split || reply.size() < 2) {
        return {{faults.Delay, std::move(reply)}};
    }
    const auto half = static_cast<std::ptrdiff_t>(reply.size() / 2);
    return {{faults.Delay, Bytes(reply.begin(), reply.begin() + half)},
            {faults.Delay + *faults.Split, Bytes(reply.begin() + half, reply.end())}};
}

SimulatorCore::SimulatorCore(TFaults faults) : faults_(faults) {}

SimulatorCore::TReceived SimulatorCore::Receive(std::span<const std::uint8_t> bytes, Millis now) {
    TReceived received;
    received.Incoming = assembler_.Feed(bytes, now);
    for (const TIncoming& incoming : received.Incoming) {
        if (incoming.What != TIncoming::Kind::Frame) {
            continue;
        }
        std::vector<TReplyPiece> pieces =
            ApplyFaults(emulator_.Answer(incoming.Data, now), faults_);
        const int count = static_cast<int>(pieces.size());
        int number = 0;
        for (TReplyPiece& piece : pieces) {
            received.Replies.push_back({now + piece.After, std::move(piece.Data), ++number, count});
        }
    }
    return received;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(Digits[byte >> 4]);
        text.push_back(Digits[byte & 0x0F]);
    }
    return text;
}

} // namespace tilu::sim
