#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/progress_dialog.h"
#include "base/install_state.h"

namespace lumivance {

// Shows the attempt's progress dialog, modally on the calling thread, until the worker has set finished.
// Returns TaskDialogIndirect's result: negative when the dialog could not be shown at all.
HRESULT ShowProgressDialog(InstallState& state);

// The dialog's callback; referenceData is the InstallState's address.
HRESULT CALLBACK ProgressDialogCallback(HWND dialog, UINT notification, WPARAM wParam, LPARAM lParam,
                                        LONG_PTR referenceData);

}  // namespace lumivance
