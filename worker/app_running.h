#pragma once

namespace lumivance {

// True while a copy of the per-user installation ("Lumivance.exe" below %LOCALAPPDATA%\Lumivance\) runs.
// Throws std::runtime_error with the user's sentence when the process list cannot be read.
bool IsAppRunning();

}  // namespace lumivance
