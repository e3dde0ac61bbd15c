#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace lumivance {

// What the worker is doing now; drives the dialog's status line and whether Cancel works.
enum class InstallPhase : std::int32_t {
    Downloading = 0,
    Verifying = 1,
    Installing = 2,
};

// The one record through which the UI thread and an attempt's worker talk. The four atomics cross threads
// while the worker runs; errorText and exitCode are published by the join and read only after it.
struct InstallState {
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> finished{false};
    std::atomic<std::int32_t> progressPercent{0};
    std::atomic<InstallPhase> phase{InstallPhase::Downloading};
    std::wstring errorText;
    std::uint32_t exitCode = 1;
};

static_assert(sizeof(std::atomic<bool>) == 1);
static_assert(sizeof(std::atomic<std::int32_t>) == 4 && sizeof(std::atomic<InstallPhase>) == 4);
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<InstallPhase>::is_always_lock_free);

// The values every attempt starts from (UI thread, before the worker starts).
inline void ResetForAttempt(InstallState& state)
{
    state.cancelRequested.exchange(false);
    state.finished.exchange(false);
    state.progressPercent.exchange(0);
    state.phase.exchange(InstallPhase::Downloading);
    state.errorText.clear();
    state.errorText.shrink_to_fit();
    state.exitCode = 1;
}

}  // namespace lumivance
