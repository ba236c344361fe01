#include "SettingsListing.h"

#include "SettingsRecordFile.h"

#include <algorithm>

namespace tilu::cli {

namespace {

constexpr int kSignalDelay = 0;
constexpr int kMultipleResponse = 6;
constexpr qsizetype kCaptionWidth = 36;
constexpr int kValueWidth = 11; // -2147483648

const QString kModeCaption = QStringLiteral("Режим");

QString ModeText(TEmulatorMode mode) {
    return QString::fromLatin1(ModeName(mode).data(), 3);
}

QString Row(const QString& caption, std::int32_t held, const QString& text) {
    return caption.leftJustified(kCaptionWidth) + QStringLiteral("%1").arg(held, kValueWidth) +
           QStringLiteral("  ") + text;
}

bool SameMeaning(int field, std::int32_t a, std::int32_t b) {
    if (field == kSignalDelay || field == kMultipleResponse) {
        return DecodeFlag(a) == DecodeFlag(b);
    }
    return a == b;
}

QString JsonString(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"')) {
            out += QStringLiteral("\\\"");
        } else if (c == QLatin1Char('\\')) {
            out += QStringLiteral("\\\\");
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QStringLiteral("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + QLatin1Char('"');
}

} // namespace

THeldSettings HeldSettingsOfRecord(const TSettingsFileRecord& record) {
    THeldSettings held;
    held.Mode = record.Int32At(record_offset::Mode);
    for (int i = 0; i < SettingCount; ++i) {
        held.Values[static_cast<std::size_t>(i)] =
            record.Int32At(record_offset::SignalDelay + 4 * static_cast<std::size_t>(i));
    }
    return held;
}

THeldSettings HeldSettingsOfWriteFrame(const TLinkBuffers& link) {
    THeldSettings held;
    held.Mode = link.TxBuffer[3];
    for (std::size_t i = 0; i < SettingCount; ++i) {
        held.Values[i] = link.TxBuffer[4 + i];
    }
    return held;
}

THeldSettings HeldSettingsOfReply(const TLinkBuffers& link) {
    THeldSettings held;
    held.Mode = link.RxBuffer[4];
    for (std::size_t i = 0; i < SettingCount; ++i) {
        held.Values[i] = link.RxBuffer[5 + i];
    }
    return held;
}

const std::array<TSettingField, SettingCount>& SettingFields() {
    static const std::array<TSettingField, SettingCount> fields{{
        {"SignalDelay", QStringLiteral("Задержка сигнала"), std::nullopt},
        {"RiseRate", QStringLiteral("Скорость нарастания сигнала"), NumericSetting::RiseRate},
        {"OutputOffset", QStringLiteral("Смещение выходных напряжений"),
         NumericSetting::OutputOffset},
        {"ResponseOnset", QStringLiteral("Время возникновение отклика"),
         NumericSetting::ResponseOnset},
        {"UpperBound", QStringLiteral("Верхняя граница"), NumericSetting::UpperBound},
        {"LowerBound", QStringLiteral("Нижняя граница"), NumericSetting::LowerBound},
        {"MultipleResponse", QStringLiteral("Множественный отклик сигнала"), std::nullopt},
        {"PositiveDuration", QStringLiteral("Длительность положительного отклика"),
         NumericSetting::PositiveDuration},
        {"NegativeDuration", QStringLiteral("Длительность отрицательного отклика"),
         NumericSetting::NegativeDuration},
    }};
    return fields;
}

QString SettingText(int field, TEmulatorMode mode, std::int32_t held, char decimalSeparator) {
    if (field == kSignalDelay) {
        return DecodeFlag(held) ? QStringLiteral("есть задержка") : QStringLiteral("нет задержки");
    }
    if (field == kMultipleResponse) {
        return DecodeFlag(held) ? QStringLiteral("включён") : QStringLiteral("выключен");
    }
    const TSettingField& info = SettingFields()[static_cast<std::size_t>(field)];
    return QString::fromStdString(DisplayText(*info.Numeric, mode, held, decimalSeparator));
}

QStringList SettingsTable(const THeldSettings& held, char decimalSeparator) {
    const TEmulatorMode mode = held.DecodedMode();
    QStringList lines{Row(kModeCaption, held.Mode, ModeText(mode))};
    for (int i = 0; i < SettingCount; ++i) {
        const std::int32_t value = held.Values[static_cast<std::size_t>(i)];
        lines.append(Row(SettingFields()[static_cast<std::size_t>(i)].Caption, value,
                         SettingText(i, mode, value, decimalSeparator)));
    }
    return lines;
}

QStringList DifferenceLines(const THeldSettings& a, const THeldSettings& b, char decimalSeparator) {
    QStringList lines;
    const TEmulatorMode modeA = a.DecodedMode();
    const TEmulatorMode modeB = b.DecodedMode();
    if (modeA != modeB) {
        lines.append(QStringLiteral("%1 (Mode): %2 (%3) -> %4 (%5)")
                         .arg(kModeCaption)
                         .arg(a.Mode)
                         .arg(ModeText(modeA))
                         .arg(b.Mode)
                         .arg(ModeText(modeB)));
    }
    for (int i = 0; i < SettingCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (SameMeaning(i, a.Values[at], b.Values[at])) {
            continue;
        }
        const TSettingField& field = SettingFields()[at];
        lines.append(QStringLiteral("%1 (%2): %3 (%4) -> %5 (%6)")
                         .arg(field.Caption, QLatin1String(field.Name))
                         .arg(a.Values[at])
                         .arg(SettingText(i, modeA, a.Values[at], decimalSeparator))
                         .arg(b.Values[at])
                         .arg(SettingText(i, modeB, b.Values[at], decimalSeparator)));
    }
    return lines;
}

QString SettingsFileJson(const TSettingsFileRecord& record) {
    const THeldSettings held = HeldSettingsOfRecord(record);
    const TEmulatorMode mode = held.DecodedMode();
    QString json = QStringLiteral("{\n");
    json += QStringLiteral("  \"mode\": {\"held\": %1, \"text\": %2},\n")
                .arg(held.Mode)
                .arg(JsonString(ModeText(mode)));
    json += QStringLiteral("  \"settings\": {\n");
    for (int i = 0; i < SettingCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const TSettingField& field = SettingFields()[at];
        const std::int32_t value = held.Values[at];
        json +=
            QStringLiteral("    \"%1\": {\"held\": %2, ").arg(QLatin1String(field.Name)).arg(value);
        if (field.Numeric) {
            json += QStringLiteral("\"position\": %1, ")
                        .arg(PositionFromValue(*field.Numeric, mode, value));
        } else {
            json += QStringLiteral("\"on\": %1, ")
                        .arg(DecodeFlag(value) ? QStringLiteral("true") : QStringLiteral("false"));
        }
        json += QStringLiteral("\"text\": %1}").arg(JsonString(SettingText(i, mode, value, '.')));
        json += i + 1 < SettingCount ? QStringLiteral(",\n") : QStringLiteral("\n");
    }
    json += QStringLiteral("  },\n");
    const std::optional<QString> savedAt = IsoTimestamp(record.SavedAt());
    json += QStringLiteral("  \"savedAt\": %1,\n")
                .arg(savedAt ? JsonString(*savedAt) : QStringLiteral("null"));
    json += QStringLiteral("  \"description\": %1\n")
                .arg(JsonString(QString::fromStdString(Cp1251ToUtf8(record.DescriptionBytes()))));
    json += QStringLiteral("}");
    return json;
}

} // namespace tilu::cli
