#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/unique_resource_win.h"
#include "staging/launch_path.h"

namespace lumivance {

// One attempt's staging directory and the staging file in it, from creation to removal. Everything is done
// through handles it holds, so nothing that happens meanwhile to the temp folder's path (a link re-pointed, a
// folder renamed) changes which directory or file setup works on:
//   - the blocker lists the directory and shares neither deletion nor renaming, so nobody can take the
//     directory away while the attempt runs, and other setups' sweep sees it is in use; it does not keep
//     entries from being created inside the directory: only the DACL does that;
//   - the anchor asks for nothing that sharing is checked against; it names the directory for as long as the
//     object lives and is what delete access is finally taken from, once the blocker is gone;
//   - the lock holds the downloaded file with read sharing only, from before its verification until the
//     installer has exited, so what was verified is what runs.
class StagingDirectory {
public:
    // Creates `name` in the temp folder with setup's own security descriptor, held from the creating handle
    // on, and checks through that handle that it is a plain directory owned and permitted as made. Throws
    // std::runtime_error with the user's sentence when any of that fails; nothing of its own is left behind
    // then.
    static StagingDirectory Create(const std::filesystem::path& temp, std::wstring_view name);

    StagingDirectory(StagingDirectory&&) noexcept = default;
    StagingDirectory& operator=(StagingDirectory&&) noexcept = default;
    StagingDirectory(const StagingDirectory&) = delete;
    StagingDirectory& operator=(const StagingDirectory&) = delete;
    ~StagingDirectory() = default;

    // The directory's final path in plain form with the staging file's name after it, as the installer will
    // be started; nothing when the directory's place cannot be read.
    std::optional<InstallerPaths> ExpectedInstallerPaths() const;

    // Why the installer could not be started by `paths` (the expected ones before the download, the ones read
    // from the handles right before the launch): the path rules and, on top, proof that each path opens the
    // very directory, and file when it is locked, that setup holds. nullptr when it can.
    const char* StartRefusal(const InstallerPaths& paths) const;

    // Creates the staging file new inside the held directory, for the download to write through; empty when
    // it cannot (anything already there of that name is never opened).
    FileHandle NewDownloadFile() const;

    // Opens the staging file inside the held directory with read sharing only; false when that fails, a
    // writer still holding it included.
    bool LockFile();
    // The locked file, for the verification to read and WinVerifyTrust to be given.
    HANDLE LockedFile() const { return lock_.get(); }

    // Both final paths, read from the handles now; nothing when they cannot be read or the file is not locked.
    std::optional<InstallerPaths> InstallerPathsNow() const;

    // The end of the attempt: lets go of the file and deletes it through the directory's handle, when it is a
    // plain file; then, once, the directory, when it is empty and nobody holds it (a program the installer
    // started may keep it as its current directory; the next setup's sweep takes it then). False while the
    // file is still in use, so another try may succeed; anything else found inside is left alone.
    bool Remove();

private:
    StagingDirectory() = default;

    FileHandle blocker_;
    FileHandle anchor_;
    FileHandle lock_;
    bool fileGone_ = false;
    bool directoryTried_ = false;
    bool elevated_ = false;
    bool remote_ = true;
};

}  // namespace lumivance
