#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/progress_dialog.h"
#include "base/install_state.h"

namespace lumivance {

// Shows the attempt's progress dialog, modally on the calling thread, until the worker has set finished.
// Returns TaskDialogIndirect's result: negative when the dialog could not be shown at all.
HRESULT ShowProgressDialog(InstallState& state);

// The dialog's callback; referenceData is the InstallState's address. comctl32 calls it from its own
// frames, which no exception can unwind through (DWARF unwinding, 32-bit MinGW): noexcept, so a stray one
// ends the process here instead of somewhere inside the dialog.
HRESULT CALLBACK ProgressDialogCallback(HWND dialog, UINT notification, WPARAM wParam, LPARAM lParam,
                                        LONG_PTR referenceData) noexcept;

}  // namespace lumivance
