#include "app/progress_dialog.h"

namespace lumivance {
namespace {

constexpr wchar_t kInstallingText[] = L"Complete installation in the Lumivance setup window.";
constexpr wchar_t kVerifyingText[] = L"Verifying the download\u2026";
constexpr wchar_t kCancelingText[] = L"Canceling\u2026";

}  // namespace

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
