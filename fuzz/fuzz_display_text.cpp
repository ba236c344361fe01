// Any 32-bit held value of any setting in either mode: the position stays in the setting's
// range and the text is the prefix, a number and the suffix.
#include "FuzzSupport.h"
#include "model/EmulatorSettings.h"

#include <cstdint>
#include <cstring>

using namespace tilu;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return -1;
    }
    const auto setting = static_cast<NumericSetting>(data[0] % NumericSettingCount);
    const TEmulatorMode mode = (data[0] & 0x80) != 0 ? TEmulatorMode::LAF : TEmulatorMode::OSG;
    std::uint32_t raw = 0;
    std::memcpy(&raw, data + 1, sizeof raw);
    const auto held = static_cast<std::int32_t>(raw);

    const StepDomain& domain = DomainOf(setting, mode);
    const std::int16_t position = PositionFromValue(setting, mode, held);
    FUZZ_CHECK(position >= domain.Min && position <= domain.Max);

    for (char separator : {',', '.'}) {
        const std::string text = DisplayText(setting, mode, held, separator);
        FUZZ_CHECK(IsValidUtf8(text));
        FUZZ_CHECK(text.starts_with(domain.Prefix));
        FUZZ_CHECK(text.ends_with(domain.Suffix));
        const std::string number = text.substr(
            domain.Prefix.size(), text.size() - domain.Prefix.size() - domain.Suffix.size());
        FUZZ_CHECK(!number.empty());
        FUZZ_CHECK(number.find_first_not_of("-0123456789,.") == std::string::npos); // no exponent
    }
    return 0;
}
