#pragma once

#include <chrono>

namespace tilu {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kReplyWatchdogInterval = 1500ms;
// How long the receive handler lets the rest of a reply arrive after its first bytes.
inline constexpr std::chrono::milliseconds kReplySettleDelay = 50ms;
inline constexpr std::chrono::milliseconds kLineErrorBeepGap = 100ms;

} // namespace tilu
