#include "app/attempt_loop.h"

#include <exception>

#include "base/message_text.h"
#include "catalogue.h"

namespace lumivance {
namespace {

constexpr std::uint32_t kVisibleStation = 0x0001;  // WSF_VISIBLE

}  // namespace

bool SomeoneCanAnswer(std::uint32_t windowStationFlags)
{
    return (windowStationFlags & kVisibleStation) != 0;
}

std::uint32_t RunAttemptsWith(InstallState& state, const AttemptCalls& calls)
{
    for (;;) {
        ResetForAttempt(state);

        std::thread worker;
        try {
            worker = calls.startWorker(&state);
        } catch (const std::exception&) {
            // Without a worker there is no attempt: say so like any other failure, and let the user
            // decide. std::thread throws system_error, or bad_alloc for its own bookkeeping.
            if (calls.askRetry(WidenMessage(kCouldNotPrepareInstallation))) {
                continue;
            }
            return state.exitCode;
        }

        if (calls.showProgress(state) < 0) {
            // Nobody can watch or cancel this attempt: stop it at its next cancel check.
            state.cancelRequested.exchange(true);
        }
        worker.join();

        const std::uint32_t exitCode = state.exitCode;
        if (state.errorText.empty() || !calls.askRetry(state.errorText)) {
            return exitCode;
        }
    }
}

}  // namespace lumivance
