#include "LineErrorCounters.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#include <sys/ioctl.h>
#elif defined(Q_OS_WIN)
#include <qt_windows.h>
#endif

namespace tilu {

TComErrors GrownLineErrors(const TLineErrorCounts& before, const TLineErrorCounts& after) {
    TComErrors grown = 0;
    const auto note = [&grown](std::uint32_t was, std::uint32_t now, TComError kind) {
        if (now != was) {
            grown = static_cast<TComErrors>(grown | kind);
        }
    };
    note(before.Frame, after.Frame, ceFrame);
    note(before.Parity, after.Parity, ceRxParity);
    note(before.Overrun, after.Overrun, ceOverrun);
    note(before.Break, after.Break, ceBreak);
    note(before.IO, after.IO, ceIO);
    note(before.Mode, after.Mode, ceMode);
    note(before.RxOver, after.RxOver, ceRxOver);
    note(before.TxFull, after.TxFull, ceTxFull);
    return grown;
}

namespace {

#if defined(Q_OS_LINUX)

// The serial driver's interrupt counters. Drivers without them (pseudo-terminals, many USB
// adapters) answer ENOTTY or EINVAL, which means "no counters", not a failure of the port.
class LinuxLineErrorCounters final : public ILineErrorCounters {
public:
    std::optional<TLineErrorCounts> read(TPortHandle handle) override {
        serial_icounter_struct counters{};
        if (::ioctl(handle, TIOCGICOUNT, &counters) == -1) {
            return std::nullopt;
        }
        TLineErrorCounts counts;
        counts.Frame = static_cast<std::uint32_t>(counters.frame);
        counts.Parity = static_cast<std::uint32_t>(counters.parity);
        counts.Overrun = static_cast<std::uint32_t>(counters.overrun);
        counts.Break = static_cast<std::uint32_t>(counters.brk);
        counts.RxOver = static_cast<std::uint32_t>(counters.buf_overrun);
        return counts;
    }
};

#elif defined(Q_OS_WIN)

// Windows reports line errors as flags that reading clears; keeping totals of them here gives
// the same picture as a driver's counters.
class WindowsLineErrorCounters final : public ILineErrorCounters {
public:
    std::optional<TLineErrorCounts> read(TPortHandle handle) override {
        DWORD errors = 0;
        if (!::ClearCommError(handle, &errors, nullptr)) {
            return std::nullopt;
        }
        const auto count = [errors](DWORD flag, std::uint32_t& counter) {
            if ((errors & flag) != 0) {
                ++counter;
            }
        };
        count(CE_FRAME, totals_.Frame);
        count(CE_RXPARITY, totals_.Parity);
        count(CE_OVERRUN, totals_.Overrun);
        count(CE_BREAK, totals_.Break);
        count(CE_IOE, totals_.IO);
        count(CE_MODE, totals_.Mode);
        count(CE_RXOVER, totals_.RxOver);
        count(CE_TXFULL, totals_.TxFull);
        return totals_;
    }

private:
    TLineErrorCounts totals_;
};

#endif

} // namespace

std::unique_ptr<ILineErrorCounters> MakeSystemLineErrorCounters() {
#if defined(Q_OS_LINUX)
    return std::make_unique<LinuxLineErrorCounters>();
#elif defined(Q_OS_WIN)
    return std::make_unique<WindowsLineErrorCounters>();
#else
    return std::make_unique<NoLineErrorCounters>();
#endif
}

} // namespace tilu
