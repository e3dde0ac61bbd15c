#pragma once

#include "base/install_state.h"

namespace lumivance {

// What the progress dialog shows for one state of the attempt. The dialog keeps nothing of its own: every
// tick derives this afresh from the InstallState.
struct ProgressView {
    const wchar_t* content;  // static text, so the dialog never owns a string
    bool cancelEnabled;
    bool close;  // the worker is done: the dialog closes now, whatever the phase
};

ProgressView ProgressViewFor(InstallPhase phase, bool cancelRequested, bool finished) noexcept;

// What a press of Cancel (or Escape, Alt+F4, the close box) does.
struct CancelPress {
    bool requestCancel;  // set cancelRequested
    bool close;          // let the dialog close (S_OK) rather than keep it open (S_FALSE)
};

CancelPress CancelPressFor(InstallPhase phase, bool finished) noexcept;

}  // namespace lumivance
