#include "staging/staging_directory_win.h"

#include <sddl.h>
#include <winternl.h>

#include <stdexcept>

#include "catalogue.h"
#include "staging/file_primitives_win.h"
#include "staging/setup_account_win.h"
#include "staging/staging_names.h"
#include "staging/staging_policy.h"

namespace lumivance {
namespace {

// Listing access is what makes Windows check the sharing of every later open against the blocker (a handle
// that may only read attributes is not checked), so without delete sharing it keeps everybody else's delete
// and rename away; without delete access of its own, a process can still be started in the directory, since
// every process opens its current directory without delete sharing.
constexpr DWORD kBlockerAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kBlockerSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The staging file, as itself and never through a link; empty when it is not there as a plain file.
RelativeOpen OpenStagingFile(HANDLE directory, ACCESS_MASK access, ULONG share)
{
    RelativeOpen file = OpenRelative(directory, kStagingFileName, access | FILE_READ_ATTRIBUTES, share, kOpenExisting,
                                     FILE_NON_DIRECTORY_FILE);
    if (file.handle && !HasAttributes(file.handle.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        file.handle.reset();
    }
    return file;
}

}  // namespace

StagingDirectory StagingDirectory::Create(const std::filesystem::path& temp, std::wstring_view name)
{
    const std::optional<SetupAccount> account = CurrentAccount();
    LocalMemory security;
    if (!account || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        StagingDirectorySecurity(*account).c_str(), SDDL_REVISION_1,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.put()), nullptr)) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    // The temp folder itself may lawfully be reached through a link, so it is opened the ordinary way, once;
    // the staging directory is created inside that handle and held from the creating handle on, so there is
    // no moment in which it could be swapped for another one before it is held.
    const FileHandle parent(CreateFileW(temp.c_str(), FILE_TRAVERSE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    StagingDirectory staging;
    staging.blocker_ = OpenRelative(parent.get(), name, kBlockerAccess | READ_CONTROL, kBlockerSharing, kCreateNew,
                                    FILE_DIRECTORY_FILE, security.get())
                           .handle;
    if (!staging.blocker_) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    staging.anchor_ =
        OpenRelative(staging.blocker_.get(), L"", FILE_READ_ATTRIBUTES, kShareAll, kOpenExisting, FILE_DIRECTORY_FILE)
            .handle;
    const std::optional<ObservedSecurity> observed = ReadSecurity(staging.blocker_.get());
    const char* refusal = kCouldNotPrepareInstallation;
    if (staging.anchor_ && observed &&
        HasAttributes(staging.blocker_.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT)) {
        refusal = StagingRefusal(*observed, *account, VolumeKeepsPermissions(staging.blocker_.get()));
    }
    if (refusal != nullptr) {
        staging.Remove();  // made just now, and empty
        throw std::runtime_error(refusal);
    }
    staging.elevated_ = account->elevated;
    staging.remote_ = OnRemoteVolume(staging.blocker_.get());
    return staging;
}

std::optional<InstallerPaths> StagingDirectory::ExpectedInstallerPaths() const
{
    const std::optional<std::wstring> directory = FinalPathOf(anchor_.get());
    if (!directory) {
        return std::nullopt;
    }
    return InstallerPaths{*directory + L"\\" + std::wstring(kStagingFileName), *directory};
}

const char* StagingDirectory::StartRefusal(const InstallerPaths& paths) const
{
    if (const char* refusal = LaunchPathRefusal(paths, elevated_, remote_)) {
        return refusal;
    }
    // Under Wine even the final path may lose a dot that ends a folder's name, and on Windows its plain form
    // does: only what a path opens, compared with what is held, shows that it names setup's own.
    if (!PathOpens(paths.directory, anchor_.get()) || (lock_ && !PathOpens(paths.file, lock_.get()))) {
        return kTempPathNotStartable;
    }
    return nullptr;
}

FileHandle StagingDirectory::NewDownloadFile() const
{
    // Inherits the directory's descriptor; read sharing lets a scanner look while the body arrives.
    return OpenRelative(blocker_.get(), kStagingFileName, GENERIC_WRITE, FILE_SHARE_READ, kCreateNew,
                        FILE_NON_DIRECTORY_FILE)
        .handle;
}

bool StagingDirectory::LockFile()
{
    // Read sharing only: the digest pass, WinVerifyTrust and CreateProcessW can still open the file, but
    // nobody can write, rename or delete it while this is held, and a writer still holding it fails the open.
    lock_ = OpenStagingFile(blocker_.get(), GENERIC_READ, FILE_SHARE_READ).handle;
    return static_cast<bool>(lock_);
}

std::optional<InstallerPaths> StagingDirectory::InstallerPathsNow() const
{
    const std::optional<std::wstring> file = lock_ ? FinalPathOf(lock_.get()) : std::nullopt;
    const std::optional<std::wstring> directory = FinalPathOf(anchor_.get());
    if (!file || !directory) {
        return std::nullopt;
    }
    return InstallerPaths{*file, *directory};
}

bool StagingDirectory::Remove()
{
    lock_.reset();
    if (!fileGone_ && blocker_) {
        // Looked at first, then deleted as that same object: only a plain file goes. Delete access fails while
        // anyone uses the file without sharing its deletion: an installer running from it, a setup of an older
        // version that does not hold its directory, a virus scanner.
        const RelativeOpen file = OpenStagingFile(blocker_.get(), 0, kShareAll);
        if (file.handle) {
            if (DeleteRelative(file.handle.get(), L"", kShareAll, FILE_NON_DIRECTORY_FILE) != 0) {
                return false;
            }
        } else if (file.status != 0 && file.status != kNameNotFound && file.status != kIsADirectory) {
            return false;  // anything there but a plain file is left alone
        }
        fileGone_ = true;
    }
    if (!directoryTried_ && anchor_) {
        directoryTried_ = true;
        // Delete access cannot be had while the blocker denies delete sharing. Tried once: a program the
        // installer started keeps the directory as its current directory for as long as it runs, and a
        // directory that is not empty is never setup's to remove.
        blocker_.reset();
        if (HasAttributes(anchor_.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT)) {
            DeleteRelative(anchor_.get(), L"", kBlockerSharing, FILE_DIRECTORY_FILE);
        }
    }
    return true;
}

}  // namespace lumivance
