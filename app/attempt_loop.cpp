#include "app/attempt_loop.h"

#include <exception>

namespace lumivance {
namespace {

constexpr wchar_t kCouldNotPrepare[] = L"Could not prepare installation.";

}  // namespace

std::uint32_t RunAttempts(InstallState& state, const AttemptOps& ops)
{
    for (;;) {
        ResetForAttempt(state);

        std::thread worker;
        try {
            worker = ops.startWorker(&state);
        } catch (const std::exception&) {
            // Without a worker there is no attempt: say so like any other failure, and let the user
            // decide. std::thread throws system_error, or bad_alloc for its own bookkeeping.
            if (ops.askRetry(kCouldNotPrepare)) {
                continue;
            }
            return state.exitCode;
        }

        if (ops.showProgress(state) < 0) {
            // Nobody can watch or cancel this attempt: stop it at its next cancel check.
            state.cancelRequested.exchange(true);
        }
        worker.join();

        const std::uint32_t exitCode = state.exitCode;
        if (state.errorText.empty() || !ops.askRetry(state.errorText)) {
            return exitCode;
        }
    }
}

}  // namespace lumivance
