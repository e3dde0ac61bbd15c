#include "staging/staging_sweep.h"

#include <windows.h>

#include <filesystem>

#include "base/unique_resource_win.h"
#include "staging/file_primitives_win.h"
#include "staging/setup_account_win.h"
#include "staging/staging_names.h"

namespace lumivance {
namespace {

class WindowsLeftover {
public:
    explicit WindowsLeftover(FileHandle look) : look_(std::move(look)) {}

    bool IsPlainDirectory() const
    {
        return HasAttributes(look_.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT);
    }
    std::optional<ObservedSecurity> Security() const { return ReadSecurity(look_.get()); }
    std::optional<std::vector<ListedEntry>> Entries() const { return ListDirectory(held_ ? held_.get() : look_.get()); }
    bool HoldForRemoval()
    {
        // The same object as the look-only handle, whatever its name leads to now. A running setup holds its
        // directory without delete sharing, so this fails for as long as it runs.
        held_ = OpenRelative(look_.get(), L"", DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, kOpenExisting, FILE_DIRECTORY_FILE)
                    .handle;
        return static_cast<bool>(held_);
    }
    void RemoveHeld(const std::vector<ListedEntry>& entries)
    {
        if (!entries.empty()) {
            // Looked at, then deleted as that same object: only a plain file goes.
            const FileHandle file = OpenRelative(held_.get(), kStagingFileName, FILE_READ_ATTRIBUTES, kShareAll,
                                                 kOpenExisting, FILE_NON_DIRECTORY_FILE)
                                        .handle;
            if (!file || !HasAttributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
                DeleteRelative(file.get(), L"", kShareAll, FILE_NON_DIRECTORY_FILE) != 0) {
                return;
            }
        }
        // The held handle shares no deletion, so it goes first; the directory is the look-only handle's.
        held_.reset();
        DeleteRelative(look_.get(), L"", FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE);
    }

private:
    FileHandle look_;
    FileHandle held_;
};

class WindowsSweep {
public:
    using Look = WindowsLeftover;

    explicit WindowsSweep(std::filesystem::path temp)
        : temp_(std::move(temp)),
          parent_(CreateFileW(temp_.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr))
    {
    }

    std::optional<SetupAccount> Account() { return CurrentAccount(); }
    std::optional<std::wstring> NextCandidate()
    {
        WIN32_FIND_DATAW found{};
        if (!parent_) {
            return std::nullopt;
        }
        if (!find_) {
            const std::wstring pattern = (temp_ / kStagingDirectoryPrefix).wstring() + L"*";
            find_.reset(
                FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories, nullptr, 0));
            if (!find_) {
                return std::nullopt;
            }
        } else if (!FindNextFileW(find_.get(), &found)) {
            return std::nullopt;
        }
        return std::wstring(found.cFileName);
    }
    std::optional<WindowsLeftover> OpenToLook(const std::wstring& name)
    {
        FileHandle look = OpenRelative(parent_.get(), name, READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       kShareAll, kOpenExisting, FILE_DIRECTORY_FILE)
                              .handle;
        if (!look) {
            return std::nullopt;
        }
        return WindowsLeftover(std::move(look));
    }
    std::uint64_t TickMs() { return GetTickCount64(); }

private:
    std::filesystem::path temp_;
    FileHandle parent_;
    FindHandle find_;
};

static_assert(SweepSystem<WindowsSweep>);

}  // namespace

void RemoveAbandonedStagingDirectories() noexcept
{
    try {
        WindowsSweep sweep(std::filesystem::temp_directory_path());
        SweepAbandonedStagingDirectories(sweep);
    } catch (...) {
        // No temp folder, no sweep: the attempt says what is wrong with it.
    }
}

}  // namespace lumivance
