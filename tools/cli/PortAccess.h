#pragma once

#include "CliEnvironment.h"
#include "SerialPort.h"
#include "link/Frames.h"

#include <QString>

namespace tilu::cli {

// The device path a port name stands for: a path stays as it is, a name (ttyUSB0) is looked
// up under /dev.
QString DevicePathOf(const QString& portName);

// What an errno from opening or locking a device says about the port.
PortFailure PortFailureOfErrno(int error);

// Opens a port of the system for this tool alone, with the configurator's line settings. Besides
// the serial layer's own exclusive open, the device is locked the way tilu-sim locks it, so that
// neither takes a port the other holds.
TPortOpening OpenSystemPort(const QString& portName);

struct TExchange {
    enum class Result { Reply, NoAnswer, LineError, PortFailure, DeviceLost };
    Result What = Result::NoAnswer;
    TComErrors Errors = 0;
    QString Detail; // the port's text for a failure or a lost device
};

// Sends the frame in link.TxBuffer with the configurator's timing: purge, write, then wait up to
// the reply watchdog for the first received bytes, let the rest of the reply arrive for the
// settle delay, and store what is waiting (at most 256 bytes) as the reception.
TExchange ExchangeFrame(ISerialPort& port, TLinkBuffers& link);

} // namespace tilu::cli
