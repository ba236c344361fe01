// Any 0..400 bytes as a settings file read into the record image: the model and every text
// derived from the record without undefined behaviour, whatever SavedAt and the length byte hold.
#include "FuzzSupport.h"
#include "files/SettingsRecord.h"

#include <cmath>
#include <cstdint>
#include <cstring>

using namespace tilu;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 400) {
        return -1;
    }
    TSettingsFileRecord image;
    const std::size_t delivered = std::min(size, SettingsRecordSize);
    std::memcpy(image.Bytes.data(), data, delivered);
    if (delivered < SettingsRecordSize) {
        return 0; // a short file is refused before anything is taken
    }

    TEmulatorSettings settings;
    settings.OsgSettings = FactoryDefaults(TEmulatorMode::OSG);
    settings.LafSettings = FactoryDefaults(TEmulatorMode::LAF);
    const TEmulatorSettings before = settings;
    LoadSettingsFromRecord(image, settings);
    const TModeSettings& other =
        settings.Mode == TEmulatorMode::OSG ? settings.LafSettings : settings.OsgSettings;
    const TModeSettings& otherBefore =
        settings.Mode == TEmulatorMode::OSG ? before.LafSettings : before.OsgSettings;
    FUZZ_CHECK(other == otherBefore);

    for (int i = 0; i < NumericSettingCount; ++i) {
        const auto setting = static_cast<NumericSetting>(i);
        const std::string text =
            DisplayText(setting, settings.Mode, HeldValue(settings.Current(), setting), ',');
        FUZZ_CHECK(IsValidUtf8(text));
    }

    const auto description = image.DescriptionBytes();
    FUZZ_CHECK(description.size() == image.DescriptionLength());
    FUZZ_CHECK(description.data() + description.size() <= image.Bytes.data() + image.Bytes.size());
    FUZZ_CHECK(IsValidUtf8(Cp1251ToUtf8(description)));

    const double savedAt = image.SavedAt();
    if (const auto when = FromOleDate(savedAt)) {
        FUZZ_CHECK(when->Month >= 1 && when->Month <= 12);
        FUZZ_CHECK(when->Day >= 1 && when->Day <= 31);
        FUZZ_CHECK(when->Hour >= 0 && when->Hour < 24);
        FUZZ_CHECK(when->Minute >= 0 && when->Minute < 60);
        FUZZ_CHECK(when->Second >= 0 && when->Second < 60);
        FUZZ_CHECK(when->Millisecond >= 0 && when->Millisecond < 1000);
        FUZZ_CHECK(std::isfinite(ToOleDate(*when)));
    }
    return 0;
}
