#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/install_state.h"

namespace lumivance {

// What the attempt loop asks of the program around it: the worker thread, the progress dialog and the
// message box (RealAttemptCalls in setup_main_win.cpp).
struct AttemptCalls {
    // Starts the attempt's worker thread, whose body is one RunInstall with the record's address. Throws
    // (std::system_error from std::thread) when no thread can be made.
    std::function<std::thread(InstallState*)> startWorker;
    // Shows the progress dialog until it closes; a negative HRESULT when it could not be shown.
    std::function<std::int32_t(InstallState&)> showProgress;
    // Shows a failure in the Retry/Cancel box; true when the user chose Retry.
    std::function<bool(const std::wstring& text)> askRetry;
};

// Whether anybody can answer a box on a window station with these flags: only one with visible display
// surfaces (WSF_VISIBLE) shows it to anyone.
bool SomeoneCanAnswer(std::uint32_t windowStationFlags);

// The attempts of one run: reset, worker, dialog, join, and Retry for as long as the user asks for it.
// Returns the process exit code.
std::uint32_t RunAttemptsWith(InstallState& state, const AttemptCalls& calls);

}  // namespace lumivance
