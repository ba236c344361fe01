// Any reception, after any earlier buffer contents, through the signature test and the
// decoders: at most 256 bytes stored, the model changed only by a well-formed settings reply,
// every text valid UTF-8.
#include "FuzzSupport.h"
#include "link/Frames.h"

#include <cstdint>
#include <cstring>

using namespace tilu;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TLinkBuffers link;
    // The first byte says how much of the input is an earlier reception left in the buffer.
    std::size_t earlier = 0;
    if (size > 0) {
        earlier = std::min<std::size_t>(data[0], size - 1);
        ++data;
        --size;
    }
    StoreReception(link, {data, earlier});
    const std::span<const std::uint8_t> reception{data + earlier, size - earlier};

    TEmulatorSettings settings;
    settings.OsgSettings = FactoryDefaults(TEmulatorMode::OSG);
    settings.LafSettings = FactoryDefaults(TEmulatorMode::LAF);
    const TEmulatorSettings before = settings;

    StoreReception(link, reception);
    FUZZ_CHECK(link.RxCount >= 0 && link.RxCount <= static_cast<std::int32_t>(LinkBufferSize));
    FUZZ_CHECK(static_cast<std::size_t>(link.RxCount) ==
               std::min(reception.size(), LinkBufferSize));

    const TReplyOutcome outcome = JudgeReception(link, settings);
    const auto& rx = link.RxBuffer;
    const bool wellFormedSettingsReply = rx[0] == FrameSignature0 && rx[1] == FrameSignature1 &&
                                         rx[2] == CmdReadSettings && rx[3] == ReplyOk &&
                                         link.RxCount == SettingsReplyLength;
    if (!wellFormedSettingsReply) {
        FUZZ_CHECK(settings == before);
        FUZZ_CHECK(!outcome.ShowSettingsOnPages);
    } else {
        FUZZ_CHECK(outcome.ShowSettingsOnPages);
        const TModeSettings& other =
            settings.Mode == TEmulatorMode::OSG ? settings.LafSettings : settings.OsgSettings;
        const TModeSettings& otherBefore =
            settings.Mode == TEmulatorMode::OSG ? before.LafSettings : before.OsgSettings;
        FUZZ_CHECK(other == otherBefore);
    }
    for (const std::string& line : outcome.LogLines) {
        FUZZ_CHECK(IsValidUtf8(line));
    }
    if (outcome.InfoBox) {
        FUZZ_CHECK(IsValidUtf8(*outcome.InfoBox));
    }
    FUZZ_CHECK(IsValidUtf8(DumpLine(link)));
    return 0;
}
