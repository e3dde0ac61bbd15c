#pragma once

// One run of the real LumivanceWebSetup.exe (a variant pinned to a test installer) under Wine, with its own
// temp folder and local application-data folder, watched through the UI driver.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/windows/test_support.h"
#include "tools/ui_driver/ui_driver.h"

namespace lumivance::e2e {

// Which installer the setup exe was built to accept (its pinned size and SHA-256). Large is the signed one
// with 64 MiB appended, whose verification lasts several of the dialog's ticks.
enum class Pinned { Signed, Unsigned, Patched, Large };

// The request path setup asks the download host for on an x64 machine (Wine's).
inline constexpr char kInstallerRequest[] = "GET /downloads/win/x64/LumivanceSetup-0.3.20.exe HTTP/1.1";

// The answer the download host gives to setup's request from now on, e.g. "exact signed" or "notfound".
void Serve(const std::string& scenario);

// The request lines the download host has received so far.
std::vector<std::string> RequestLines();

// Whether a "gate" answer has sent all of the body but its last byte and now holds that back; then lets
// it go.
bool BodyEndHeld();
void ReleaseBodyEnd();

struct SetupOptions {
    Pinned pinned = Pinned::Signed;
    std::uint32_t installerExitCode = 0;
    int installerWaitMs = 0;                        // how long the fake installer keeps running
    std::wstring installerStarts;                   // a command line the fake installer starts and leaves running
    std::wstring tempName = L"lumivance-e2e-temp";  // the name of the temp folder setup is given
    std::filesystem::path temp;                     // or an existing one: what an earlier run left there
    // Where a copy of setup runs from, also as its current directory, like a Downloads folder that may
    // hold planted DLLs; empty: setup runs where it was built.
    std::filesystem::path folder;
    bool publisherSigned = false;  // the Signed variant Authenticode-signed as scripts/release signs a release
};

class SetupRun {
public:
    explicit SetupRun(const SetupOptions& options = {});

    ui::Program& program() { return program_; }
    // The temp folder and %LOCALAPPDATA% that setup (and the installer) see.
    const std::filesystem::path& temp() const { return temp_; }
    const std::filesystem::path& localAppData() const { return localAppData_; }

    // Samples the screen until `until` holds for one, or the program has exited, or the timeout; keeps
    // every content text the progress dialog showed. Returns the screen that satisfied `until`.
    std::optional<ui::Screen> Watch(const std::function<bool(const ui::Screen&)>& until,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::optional<ui::MessageBoxView> WaitForBox(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::optional<ui::ProgressDialogView> WaitForDialog(const std::function<bool(const ui::ProgressDialogView&)>& until,
                                                        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Watches until setup exits; its full 32-bit exit code.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // The dialog's content texts in the order shown, each change once.
    const std::vector<std::wstring>& ContentsSeen() const { return contents_; }
    bool Saw(const std::wstring& content) const;
    // Whether a message box was ever on screen together with the progress dialog.
    bool BoxOverlappedDialog() const { return boxOverlappedDialog_; }

    // What the fake installer reported (command_line, current_directory, ...); empty if it never ran.
    std::map<std::string, std::wstring> InstallerReport() const;
    // The same from a look-alike installer (tools: lookalike_installer) that a test put in setup's way.
    std::map<std::string, std::wstring> LookalikeReport() const;
    // Staging directories ("LumivanceSetup-*") in setup's temp folder now.
    std::vector<std::filesystem::path> StagingDirectories() const;

private:
    void Record(const ui::Screen& screen);

    testing::ScratchDirectory scratch_;
    std::filesystem::path temp_;
    std::filesystem::path localAppData_;
    std::filesystem::path report_;
    std::filesystem::path lookalikeReport_;
    ui::Program program_;
    std::vector<std::wstring> contents_;
    bool boxOverlappedDialog_ = false;
};

}  // namespace lumivance::e2e
