#include "Options.h"

#include <charconv>
#include <optional>

namespace tilu::sim {

namespace {

constexpr long MaxMillis = 60000;
constexpr long MaxLength = 1024;

std::optional<long> Number(std::string_view text, int base, long min, long max) {
    if (text.empty()) {
        return std::nullopt;
    }
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<long> HexByte(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    if (text.size() > 2) {
        return std::nullopt;
    }
    return Number(text, 16, 0, 0xFF);
}

} // namespace

TParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments) {
    TParsedCommandLine parsed;
    TOptions& options = parsed.Options;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (optionsEnded || !argument.starts_with("-") || argument == "-") {
            if (!options.Device.empty()) {
                parsed.Error = "more than one device given: '" + options.Device + "' and '" +
                               std::string(argument) + "'";
                return parsed;
            }
            options.Device = std::string(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }

        std::string_view name = argument;
        std::optional<std::string_view> inlineValue;
        if (const auto equals = argument.find('='); equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        auto fail = [&](std::string_view what) {
            parsed.Error = std::string(name) + ": " + std::string(what);
            return parsed;
        };
        const bool takesValue =
            name == "--status" || name == "--split" || name == "--length" || name == "--delay";
        if (inlineValue && !takesValue) {
            return fail("takes no value");
        }

        if (name == "-h" || name == "--help") {
            options.Help = true;
            return parsed;
        }
        if (name == "--pty") {
            options.Pty = true;
        } else if (name == "--silent") {
            options.Faults.Silent = true;
        } else if (name == "--garbage") {
            options.Faults.Garbage = true;
        } else if (takesValue) {
            const auto text = value();
            if (!text) {
                return fail("missing value");
            }
            const std::string shown = "'" + std::string(*text) + "'";
            if (name == "--status") {
                const auto status = HexByte(*text);
                if (!status) {
                    return fail("bad value " + shown + ", expected a hexadecimal byte 00 to FF");
                }
                options.Faults.Status = static_cast<std::uint8_t>(*status);
            } else if (name == "--length") {
                const auto length = Number(*text, 10, 1, MaxLength);
                if (!length) {
                    return fail("bad value " + shown + ", expected a byte count 1 to " +
                                std::to_string(MaxLength));
                }
                options.Faults.Length = static_cast<std::size_t>(*length);
            } else {
                const auto millis = Number(*text, 10, 0, MaxMillis);
                if (!millis) {
                    return fail("bad value " + shown + ", expected milliseconds 0 to " +
                                std::to_string(MaxMillis));
                }
                if (name == "--split") {
                    options.Faults.Split = Millis{*millis};
                } else {
                    options.Faults.Delay = Millis{*millis};
                }
            }
        } else {
            return fail("unknown option");
        }
    }

    if (options.Pty && !options.Device.empty()) {
        parsed.Error = "give either a DEVICE or --pty, not both";
    } else if (!options.Pty && options.Device.empty()) {
        parsed.Error = "no DEVICE given (or --pty to create a pseudo-terminal)";
    }
    return parsed;
}

std::string UsageText() {
    return R"(Usage: tilu-sim [OPTION]... DEVICE
       tilu-sim [OPTION]... --pty
Stands in for the Тилу emulator on a serial line at 9600 bit/s, 8N1: keeps the settings last
written (factory defaults of both modes at start, mode OSG), answers reads of the settings and
of the signal levels, and prints every frame it receives (<-) and sends (->) with a time stamp.

  DEVICE        serve this serial port (or any terminal device), held exclusively
  --pty         create a pseudo-terminal and serve it; the first line printed is
                "PTY <path>", the path for the configurator to open

Faults, each shown in every reply:
  --silent      never answer
  --status HEX  send the status byte HEX (00 to FF) instead of 81
  --split MS    send each reply in two halves, the second MS ms after the first
  --length N    pad with zeros or cut settings and levels replies to N bytes
  --garbage     send AC 3D where the frame signature CA D3 belongs
  --delay MS    answer MS ms late

  -h, --help    show this help and exit

Exit status: 0 when ended by a signal or after --help, 1 when the device cannot be
served, 2 for a bad command line.
)";
}

} // namespace tilu::sim
