#include "app/progress_dialog_win.h"

#include "catalogue.h"

namespace lumivance {
namespace {

constexpr TASKDIALOG_FLAGS kFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_SHOW_PROGRESS_BAR | TDF_CALLBACK_TIMER;
static_assert(kFlags == 0xA08);

void ShowState(HWND dialog, const InstallState& state)
{
    // finished first: when it is already set, everything read after it is the worker's final state, so
    // the tick that closes the dialog shows what the attempt ended with.
    const bool finished = state.finished.load();
    const ProgressView view = ProgressViewFor(state.phase.load(), state.cancelRequested.load(), finished);

    SendMessageW(dialog, TDM_SET_PROGRESS_BAR_POS, static_cast<WPARAM>(state.progressPercent.load()), 0);
    SendMessageW(dialog, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(view.content));
    SendMessageW(dialog, TDM_ENABLE_BUTTON, IDCANCEL, view.cancelEnabled ? 1 : 0);
    if (view.close) {
        // Also while Installing, where Cancel has just been disabled: a programmatic press still reaches
        // the callback (nested, inside this send), which lets the dialog close.
        SendMessageW(dialog, TDM_CLICK_BUTTON, IDCANCEL, 0);
    }
}

}  // namespace

HRESULT CALLBACK ProgressDialogCallback(HWND dialog, UINT notification, WPARAM wParam, LPARAM,
                                        LONG_PTR referenceData) noexcept
{
    InstallState& state = *reinterpret_cast<InstallState*>(referenceData);
    switch (notification) {
    case TDN_TIMER:
        ShowState(dialog, state);
        return S_OK;
    case TDN_BUTTON_CLICKED: {
        if (wParam != IDCANCEL) {
            return S_OK;
        }
        // Escape, Alt+F4 and the close box arrive here as Cancel too. Only the worker ends the dialog.
        const bool finished = state.finished.load();
        const CancelPress press = CancelPressFor(state.phase.load(), finished);
        if (press.requestCancel) {
            state.cancelRequested.store(true);
        }
        return press.close ? S_OK : S_FALSE;
    }
    default:
        return S_OK;
    }
}

static_assert(noexcept(ProgressDialogCallback(nullptr, 0, 0, 0, 0)), "comctl32 calls it: no exception may leave it");

HRESULT ShowProgressDialog(InstallState& state)
{
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.dwFlags = kFlags;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = kSetupTitle;
    config.pszMainInstruction = kMainInstruction;
    config.pszContent = kDownloadingText;
    config.pfCallback = ProgressDialogCallback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&state);
    // Bound by its ordinal, 345, and delay-loaded from comctl32 version 6 (cmake/WindowsDlls.cmake).
    return TaskDialogIndirect(&config, nullptr, nullptr, nullptr);
}

}  // namespace lumivance
