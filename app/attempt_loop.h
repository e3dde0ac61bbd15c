#pragma once

#include <concepts>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>

#include "base/install_state.h"
#include "base/message_text.h"
#include "catalogue.h"

namespace lumivance {

// What the attempt loop asks of the program around it: the worker thread, the progress dialog and the
// message box (WindowsAttempts in app/setup_main_win.h).
template <typename System>
concept AttemptSystem = requires(System& system, InstallState& state, const std::wstring& text)
{
    // Starts the attempt's worker thread, whose body is one RunInstall with the record's address. Throws
    // (std::system_error from std::thread) when no thread can be made.
    requires std::same_as<decltype(system.StartWorker(&state)), std::thread>;
    // Shows the progress dialog until it closes; a negative HRESULT when it could not be shown.
    requires std::same_as<decltype(system.ShowProgress(state)), std::int32_t>;
    // Shows a failure in the Retry/Cancel box; true when the user chose Retry.
    requires std::same_as<decltype(system.AskRetry(text)), bool>;
};

// Whether anybody can answer a box on a window station with these flags: only one with visible display
// surfaces (WSF_VISIBLE) shows it to anyone.
bool SomeoneCanAnswer(std::uint32_t windowStationFlags);

// The attempts of one run: reset, worker, dialog, join, and Retry for as long as the user asks for it.
// Returns the process exit code.
template <AttemptSystem System>
std::uint32_t RunAttemptsWith(InstallState& state, System& system)
{
    for (;;) {
        ResetForAttempt(state);

        std::thread worker;
        try {
            worker = system.StartWorker(&state);
        } catch (const std::exception&) {
            // Without a worker there is no attempt: say so like any other failure, and let the user
            // decide. std::thread throws system_error, or bad_alloc for its own bookkeeping.
            if (system.AskRetry(WidenMessage(kCouldNotPrepareInstallation))) {
                continue;
            }
            return state.exitCode;
        }

        if (system.ShowProgress(state) < 0) {
            // Nobody can watch or cancel this attempt: stop it at its next cancel check.
            state.cancelRequested.exchange(true);
        }
        worker.join();

        const std::uint32_t exitCode = state.exitCode;
        if (state.errorText.empty() || !system.AskRetry(state.errorText)) {
            return exitCode;
        }
    }
}

}  // namespace lumivance
