#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTest>

#include <ctime>
#include <unistd.h>

namespace tilu::testing {

// AddressSanitizer keeps freed memory in quarantine, so the resident set grows with every
// allocation and says nothing about leaks; LeakSanitizer judges those there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentGrowthIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kResidentGrowthIsMeaningful = false;
#else
inline constexpr bool kResidentGrowthIsMeaningful = true;
#endif
#else
inline constexpr bool kResidentGrowthIsMeaningful = true;
#endif

// The process's resident set in bytes, from /proc/self/statm; 0 where it cannot be read.
inline qint64 ResidentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    if (fields.size() < 2) {
        return 0;
    }
    return fields.at(1).toLongLong() * static_cast<qint64>(::sysconf(_SC_PAGESIZE));
}

inline double ProcessCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double Megabytes(qint64 bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Runs the event loop in short slices until done() holds or the time is up; finer grained than
// QTRY_*, whose 50 ms steps would dominate a cycle of a few short exchanges.
template <class Done> bool WaitFor(Done done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(2);
    }
    return true;
}

} // namespace tilu::testing
