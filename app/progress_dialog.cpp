#include "app/progress_dialog.h"

#include "catalogue.h"

namespace lumivance {

ProgressView ProgressViewFor(InstallPhase phase, bool cancelRequested, bool finished) noexcept
{
    // The phase wins over the cancel: a cancel during verification leaves the verification text, because
    // the check it waits for cannot be interrupted.
    const wchar_t* content = kDownloadingText;
    if (phase == InstallPhase::Installing) {
        content = kInstallingText;
    } else if (phase == InstallPhase::Verifying) {
        content = kVerifyingText;
    } else if (cancelRequested) {
        content = kCancelingText;
    }
    // Once the installer runs, neither it nor the wait for it can be stopped.
    return {content, phase != InstallPhase::Installing, finished};
}

CancelPress CancelPressFor(InstallPhase phase, bool finished) noexcept
{
    if (finished) {
        return {false, true};
    }
    return {phase != InstallPhase::Installing, false};
}

}  // namespace lumivance
