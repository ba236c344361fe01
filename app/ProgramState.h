#pragma once

#include "files/SettingsRecord.h"
#include "link/Frames.h"
#include "model/EmulatorSettings.h"

namespace tilu {

// The program-wide state: one of each for the whole run, owned by main() and handed by
// reference to both windows. Only the user-interface thread touches it.
struct TProgramState {
    TEmulatorSettings Settings;
    TLinkBuffers Link;
    TSettingsFileRecord RecordImage;
    // Yes once "ОК" has opened the port.
    bool PortChosen = false;
    // Yes from the moment a command starts to be sent until its reply is taken, the watchdog
    // fires or a line error is reported.
    bool AwaitingReply = false;
    // The user's decimal separator, read at start and again when the system announces a change.
    char DecimalSeparator = '.';
};

} // namespace tilu
