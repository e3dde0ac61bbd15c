#pragma once

// Copies of the do-nothing program (tools/idle_app.exe) running under the application's name, for tests of
// the running-application check.

#include <filesystem>

#include "base/unique_resource_win.h"

namespace lumivance::testing {

// Copies the idle program to `image` (creating its folders) and starts it from there. The constructor
// returns once the process is in the process list under its file name and reports exactly that image path,
// so a "not running" answer is about a process that was there to be seen; it throws when that does not
// happen within ten seconds. The process is terminated and waited for when the object goes, however the
// test leaves. Paths of MAX_PATH characters and more work too.
class RunningCopy {
public:
    explicit RunningCopy(const std::filesystem::path& image);
    ~RunningCopy();
    RunningCopy(const RunningCopy&) = delete;
    RunningCopy& operator=(const RunningCopy&) = delete;

private:
    void Stop() noexcept;

    KernelHandle process_;
};

}  // namespace lumivance::testing
