#pragma once

#include "link/Frames.h"

#include <QSerialPort>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace tilu {

// The operating system's handle of an open port, as QSerialPort::handle() gives it.
using TPortHandle = decltype(std::declval<const QSerialPort&>().handle());

// Running totals of line errors as a device keeps them, one counter per kind. Only the growth
// between two readings matters; the totals themselves start wherever the driver left them.
struct TLineErrorCounts {
    std::uint32_t Frame = 0;
    std::uint32_t Parity = 0;
    std::uint32_t Overrun = 0;
    std::uint32_t Break = 0;
    std::uint32_t IO = 0;
    std::uint32_t Mode = 0;
    std::uint32_t RxOver = 0;
    std::uint32_t TxFull = 0;

    friend bool operator==(const TLineErrorCounts&, const TLineErrorCounts&) = default;
};

// The kinds whose counters changed between two readings. A change counts, not only a rise, so
// that a counter wrapping around is still seen.
TComErrors GrownLineErrors(const TLineErrorCounts& before, const TLineErrorCounts& after);

// Where the line-error counters of an open port come from.
class ILineErrorCounters {
public:
    virtual ~ILineErrorCounters() = default;
    // The device's counters now, or nothing when the device keeps none.
    virtual std::optional<TLineErrorCounts> read(TPortHandle handle) = 0;
};

// For devices and systems without line-error counters.
class NoLineErrorCounters final : public ILineErrorCounters {
public:
    std::optional<TLineErrorCounts> read(TPortHandle) override { return std::nullopt; }
};

// The counters of this system's serial driver (TIOCGICOUNT on Linux, ClearCommError on
// Windows), or NoLineErrorCounters where there are none.
std::unique_ptr<ILineErrorCounters> MakeSystemLineErrorCounters();

} // namespace tilu
