// The running-application check against real processes under Wine: copies of a do-nothing program started
// under the application's name from inside and outside the install folder. LOCALAPPDATA is pointed at a
// scratch folder for each test, so the prefix's own profile is never touched.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "base/loaded_function_win.h"
#include "base/unique_resource_win.h"
#include "tests/windows/running_copy.h"
#include "tests/windows/test_support.h"
#include "worker/app_running.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::RunningCopy;
using testing::ScopedEnvironment;
using testing::ScratchDirectory;

// Removes a folder created outside the scratch area, such as one below Program Files.
struct RemovedOnExit {
    path folder;
    ~RemovedOnExit()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// Removes a tree whose paths are longer than MAX_PATH, given in the \\?\ form: std::filesystem under
// MinGW cannot reach such paths (remove_all fails with ENOENT), the Win32 calls can.
void RemoveLongTree(const std::wstring& directory)
{
    {
        WIN32_FIND_DATAW found{};
        const FindHandle search(FindFirstFileW((directory + L"\\*").c_str(), &found));
        for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &found)) {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = directory + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveLongTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        }
    }
    RemoveDirectoryW(directory.c_str());
}

struct LongTreeRemovedOnExit {
    path folder;
    ~LongTreeRemovedOnExit() { RemoveLongTree(L"\\\\?\\" + folder.wstring()); }
};

// A profile folder of its own for one test: LOCALAPPDATA points at <scratch>\Local while it lives.
class ScratchProfile {
public:
    ScratchProfile() : local_(scratch_.path() / L"Local"), environment_(L"LOCALAPPDATA", local_.wstring())
    {
        std::filesystem::create_directories(local_);
    }
    const path& local() const { return local_; }
    const path& scratch() const { return scratch_.path(); }

private:
    ScratchDirectory scratch_;
    path local_;
    ScopedEnvironment environment_;
};

TEST(IsAppRunningOnWindows, FindsTheAppInTheInstallFolderAndBelowIt)
{
    const ScratchProfile profile;
    {
        const RunningCopy app(profile.local() / L"Lumivance" / L"Lumivance.exe");
        EXPECT_TRUE(IsAppRunning());
    }
    EXPECT_FALSE(IsAppRunning()) << "the copy has ended";
    {
        const RunningCopy app(profile.local() / L"Lumivance" / L"app-0.3.20" / L"bin" / L"Lumivance.exe");
        EXPECT_TRUE(IsAppRunning());
    }
}

TEST(IsAppRunningOnWindows, FindsTheAppUnderUpperCaseNames)
{
    const ScratchProfile profile;
    const RunningCopy app(profile.local() / L"LUMIVANCE" / L"LUMIVANCE.EXE");
    EXPECT_TRUE(IsAppRunning());
}

TEST(IsAppRunningOnWindows, IgnoresTheAppOutsideTheInstallFolderAndOtherProgramsInsideIt)
{
    const ScratchProfile profile;
    const path programFiles = testing::EnvironmentValue(L"ProgramFiles");
    ASSERT_FALSE(programFiles.empty()) << "ProgramFiles is not set in this prefix";
    const RemovedOnExit machineWide{programFiles / L"Lumivance"};

    const path elsewhere[] = {
        profile.local() / L"LumivanceBeta" / L"Lumivance.exe",
        profile.local() / L"Lumivance.exe",
        profile.scratch() / L"Lumivance.exe",  // the scratch folder lies in the temp folder
        machineWide.folder / L"Lumivance.exe",
        profile.local() / L"Lumivance" / L"LumivanceHelper.exe",
        profile.local() / L"Lumivance" / L"Lumivance.exe.old",
    };
    for (const path& image : elsewhere) {
        SCOPED_TRACE(testing::ToUtf8(image.wstring()));
        const RunningCopy other(image);
        EXPECT_FALSE(IsAppRunning());
    }
}

TEST(IsAppRunningOnWindows, ComparesLocalAppDataLiterallyExceptForATrailingBackslash)
{
    const ScratchProfile profile;
    const RunningCopy app(profile.local() / L"Lumivance" / L"Lumivance.exe");
    {
        const ScopedEnvironment trailing(L"LOCALAPPDATA", profile.local().wstring() + L"\\");
        EXPECT_TRUE(IsAppRunning());
    }
    {
        std::wstring forward = profile.local().wstring();
        std::replace(forward.begin(), forward.end(), L'\\', L'/');
        const ScopedEnvironment slashes(L"LOCALAPPDATA", forward);
        EXPECT_FALSE(IsAppRunning()) << "the Win32 image path uses backslashes";
    }
}

// The process list is not even consulted then; that half is shown by the native tests, which can count
// snapshots.
TEST(IsAppRunningOnWindows, AnswersFalseWhenLocalAppDataIsUnsetOrEmpty)
{
    const ScratchProfile profile;
    const RunningCopy app(profile.local() / L"Lumivance" / L"Lumivance.exe");
    ASSERT_TRUE(IsAppRunning());
    {
        const ScopedEnvironment empty(L"LOCALAPPDATA", L"");
        EXPECT_FALSE(IsAppRunning());
    }
    {
        const ScopedEnvironment restoredAfterwards(L"LOCALAPPDATA", L"");
        SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
        EXPECT_FALSE(IsAppRunning());
    }
}

// A fixed MAX_PATH buffer would hold no value at all here and the check would quietly answer false.
TEST(IsAppRunningOnWindows, ReadsALocalAppDataLongerThanMaxPathWhole)
{
    ScratchDirectory scratch;
    const std::size_t base = scratch.path().wstring().size() + 1;
    ASSERT_LT(base, 250u);
    const path outer = scratch.path() / std::wstring(200 - base, L'a');
    const LongTreeRemovedOnExit removed{outer};
    const path local = outer / std::wstring(99, L'b');
    ASSERT_EQ(local.wstring().size(), 300u);
    std::filesystem::create_directories(local);
    const ScopedEnvironment environment(L"LOCALAPPDATA", local.wstring());

    const RunningCopy app(local / L"Lumivance" / L"Lumivance.exe");
    EXPECT_TRUE(IsAppRunning());
}

// This process's open handles, as the kernel lists them (GetProcessHandleCount reports 0 under Wine).
std::size_t OpenHandleCount()
{
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = NTSTATUS(NTAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    const auto query = LoadedFunction<Query>(L"ntdll.dll", "NtQuerySystemInformation");
    for (std::vector<ULONG_PTR> buffer(1 << 16);; buffer.resize(buffer.size() * 2)) {
        ULONG written = 0;
        const auto bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        const NTSTATUS status = query(kExtendedHandleInformation, buffer.data(), bytes, &written);
        if (status == kLengthMismatch) {
            continue;
        }
        if (status != 0) {
            throw std::runtime_error("the handle list cannot be read: " + std::to_string(status));
        }
        const auto* table = reinterpret_cast<const Table*>(buffer.data());
        return static_cast<std::size_t>(
            std::count_if(table->entries, table->entries + table->count,
                          [](const Entry& entry) { return entry.processId == GetCurrentProcessId(); }));
    }
}

TEST(IsAppRunningOnWindows, LeavesNoHandleOpenWhetherOrNotTheAppIsFound)
{
    const ScratchProfile profile;
    // Opened and queried, then not counted: the process-handle path that goes on walking.
    const RunningCopy elsewhere(profile.local() / L"LumivanceBeta" / L"Lumivance.exe");
    IsAppRunning();  // anything a first call allocates for good is allocated now
    const std::size_t beforeMisses = OpenHandleCount();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(IsAppRunning());
    }
    EXPECT_EQ(OpenHandleCount(), beforeMisses);

    const RunningCopy app(profile.local() / L"Lumivance" / L"Lumivance.exe");
    const std::size_t beforeMatches = OpenHandleCount();
    EXPECT_GT(beforeMatches, beforeMisses) << "the count does not see the test's own process handle";
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(IsAppRunning());
    }
    EXPECT_EQ(OpenHandleCount(), beforeMatches);
}

}  // namespace
}  // namespace lumivance
