#pragma once

#include "SimulatorCore.h"

#include <span>
#include <string>
#include <string_view>

namespace tilu::sim {

struct TOptions {
    bool Help = false;
    bool Pty = false;
    std::string Device;
    TFaults Faults;
};

struct TParsedCommandLine {
    TOptions Options;
    std::string Error; // empty when the command line is good
};

// Reads the arguments that follow the program name.
TParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments);

std::string UsageText();

} // namespace tilu::sim
