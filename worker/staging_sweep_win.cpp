#include "worker/staging_sweep.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>

#include "base/unique_resource_win.h"
#include "worker/file_primitives_win.h"
#include "worker/setup_account_win.h"

namespace lumivance {
namespace {

std::uint64_t Ticks(FILETIME time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class WindowsLeftover final : public LeftoverDirectory {
public:
    explicit WindowsLeftover(FileHandle look) : look_(std::move(look)) {}

    bool IsPlainDirectory() const override
    {
        return HasAttributes(look_.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT);
    }
    std::optional<ObservedSecurity> Security() const override { return ReadSecurity(look_.get()); }
    std::chrono::seconds Age() const override
    {
        BY_HANDLE_FILE_INFORMATION information{};
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        if (!GetFileInformationByHandle(look_.get(), &information)) {
            return std::chrono::seconds(0);
        }
        constexpr std::uint64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns
        const std::uint64_t later = Ticks(now), earlier = Ticks(information.ftCreationTime);
        return std::chrono::seconds(later > earlier ? (later - earlier) / kTicksPerSecond : 0);
    }
    std::optional<std::vector<ListedEntry>> Entries() const override
    {
        return ListDirectory(held_ ? held_.get() : look_.get());
    }
    bool HoldForRemoval() override
    {
        // The same object as the look-only handle, whatever its name leads to now. A running setup holds its
        // directory without delete sharing, so this fails for as long as it runs.
        held_ = OpenRelative(look_.get(), L"", DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, kOpenExisting, FILE_DIRECTORY_FILE)
                    .handle;
        return static_cast<bool>(held_);
    }
    void RemoveHeld(const std::vector<ListedEntry>& entries) override
    {
        if (!entries.empty()) {
            const FileHandle file = OpenRelative(held_.get(), kStagingFileName, DELETE | FILE_READ_ATTRIBUTES, 0,
                                                 kOpenExisting, FILE_NON_DIRECTORY_FILE)
                                        .handle;
            if (!file || !HasAttributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
                !DeleteWhenClosed(file.get())) {
                return;
            }
        }
        DeleteWhenClosed(held_.get());  // gone once both handles are closed
    }

private:
    FileHandle look_;
    FileHandle held_;
};

class WindowsSweep final : public SweepSystem {
public:
    explicit WindowsSweep(std::filesystem::path temp)
        : temp_(std::move(temp)),
          parent_(CreateFileW(temp_.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr))
    {
    }

    std::optional<SetupAccount> Account() override { return CurrentAccount(); }
    std::vector<std::wstring> CandidateNames(std::size_t limit) override
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = (temp_ / kStagingDirectoryPrefix).wstring() + L"*";
        const FindHandle find(
            FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories, nullptr, 0));
        if (!parent_ || !find) {
            return names;
        }
        do {
            names.emplace_back(found.cFileName);
        } while (names.size() < limit && FindNextFileW(find.get(), &found));
        return names;
    }
    std::unique_ptr<LeftoverDirectory> OpenToLook(const std::wstring& name) override
    {
        FileHandle look = OpenRelative(parent_.get(), name, READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       kShareAll, kOpenExisting, FILE_DIRECTORY_FILE)
                              .handle;
        if (!look) {
            return nullptr;
        }
        return std::make_unique<WindowsLeftover>(std::move(look));
    }
    std::uint64_t TickMs() override { return GetTickCount64(); }

private:
    std::filesystem::path temp_;
    FileHandle parent_;
};

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
