// The staging directory's hold and the start-up sweep on the real file system, against another process that
// holds a directory or a file the way a running setup, an installer or a scanner would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/unique_resource_win.h"
#include "tests/windows/other_process.h"
#include "tests/windows/test_support.h"
#include "worker/staging_directory.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::FileHeldByAnotherProcess;
using testing::Quoted;
using testing::RunFileTool;

path MakeLeftover(const path& temp, const std::wstring& name, const std::vector<std::wstring>& files = {})
{
    const path directory = temp / name;
    std::filesystem::create_directory(directory);
    for (const std::wstring& file : files) {
        std::ofstream(directory / file, std::ios::binary) << "installer bytes";
    }
    return directory;
}

// Dates the directory back, as if it had been left there by a setup killed some time ago.
void MakeOld(const path& directory)
{
    const FileHandle handle(CreateFileW(directory.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(handle);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart -= 10'000'000ULL * 3600;  // an hour
    const FILETIME then{ticks.LowPart, ticks.HighPart};
    ASSERT_TRUE(SetFileTime(handle.get(), &then, &then, &then));
}

TEST(StagingSweep, RemovesWhatKilledSetupsLeftAndNothingElse)
{
    const testing::ScratchDirectory scratch;
    const path& temp = scratch.path();
    const testing::ScopedEnvironment tmp(L"TMP", temp.wstring()), tempVariable(L"TEMP", temp.wstring());

    const path killedMidDownload =
        MakeLeftover(temp, L"LumivanceSetup-{11111111-0000-4000-8000-000000000001}", {L"LumivanceSetup.exe"});
    const path killedBeforeTheBody = MakeLeftover(temp, L"LumivanceSetup-{11111111-0000-4000-8000-000000000002}");
    MakeOld(killedBeforeTheBody);

    const std::vector<path> kept{
        // Just made by a setup in another session that has yet to hold it.
        MakeLeftover(temp, L"LumivanceSetup-{22222222-0000-4000-8000-000000000001}"),
        // Names that only look like setup's.
        MakeLeftover(temp, L"LumivanceSetup-{22222222-0000-4000-8000-00000000000a}", {L"LumivanceSetup.exe"}),
        MakeLeftover(temp, L"LumivanceSetup-{22222222-0000-4000-8000-000000000003}.old", {L"LumivanceSetup.exe"}),
        MakeLeftover(temp, L"LumivanceSetup-22222222-0000-4000-8000-000000000004", {L"LumivanceSetup.exe"}),
        MakeLeftover(temp, L"Lumivance-{22222222-0000-4000-8000-000000000005}", {L"LumivanceSetup.exe"}),
        // Something besides setup's file, or something else in its place.
        MakeLeftover(temp, L"LumivanceSetup-{33333333-0000-4000-8000-000000000001}",
                     {L"LumivanceSetup.exe", L"notes.txt"}),
        MakeLeftover(temp, L"LumivanceSetup-{33333333-0000-4000-8000-000000000002}", {L"notes.txt"}),
        MakeLeftover(temp, L"LumivanceSetup-{33333333-0000-4000-8000-000000000003}", {L"Setup.exe"}),
    };
    const path folderInPlaceOfTheFile = MakeLeftover(temp, L"LumivanceSetup-{33333333-0000-4000-8000-000000000004}");
    std::filesystem::create_directory(folderInPlaceOfTheFile / L"LumivanceSetup.exe");
    MakeOld(folderInPlaceOfTheFile);
    const path fileWithAStagingName = temp / L"LumivanceSetup-{33333333-0000-4000-8000-000000000005}";
    std::ofstream(fileWithAStagingName) << "not a folder";

    // In use: a running setup holds its directory; an installer or a scanner has the file open.
    const path heldBySetup =
        MakeLeftover(temp, L"LumivanceSetup-{44444444-0000-4000-8000-000000000001}", {L"LumivanceSetup.exe"});
    const FileHeldByAnotherProcess runningSetup(L"directory", heldBySetup);
    ASSERT_EQ(runningSetup.failure(), "");
    const path fileInUse =
        MakeLeftover(temp, L"LumivanceSetup-{44444444-0000-4000-8000-000000000002}", {L"LumivanceSetup.exe"});
    const FileHeldByAnotherProcess scanner(L"exclusive", fileInUse / L"LumivanceSetup.exe");
    ASSERT_EQ(scanner.failure(), "");

    RemoveAbandonedStagingDirectories();

    EXPECT_FALSE(std::filesystem::exists(killedMidDownload));
    EXPECT_FALSE(std::filesystem::exists(killedBeforeTheBody));
    for (const path& directory : kept) {
        SCOPED_TRACE(testing::ToUtf8(directory.filename().wstring()));
        EXPECT_TRUE(std::filesystem::is_directory(directory));
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            EXPECT_EQ(testing::ReadFileBytes(entry.path()), "installer bytes") << "foreign content was touched";
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(folderInPlaceOfTheFile / L"LumivanceSetup.exe"));
    EXPECT_TRUE(std::filesystem::is_regular_file(fileWithAStagingName));
    EXPECT_TRUE(std::filesystem::exists(heldBySetup / L"LumivanceSetup.exe")) << "another setup is using it";
    EXPECT_TRUE(std::filesystem::exists(fileInUse / L"LumivanceSetup.exe")) << "somebody is using the file";
}

TEST(StagingSweep, AHeldStagingDirectoryCanBeUsedButNotDeletedOrRenamed)
{
    const testing::ScratchDirectory scratch;
    const path directory = MakeLeftover(scratch.path(), L"LumivanceSetup-{55555555-0000-4000-8000-000000000001}");
    const path aside = scratch.path() / L"aside";
    {
        const StagingDirectoryHold hold = HoldStagingDirectory(directory);
        ASSERT_TRUE(hold);
        EXPECT_EQ(RunFileTool(L"rmdir " + Quoted(directory)), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(RunFileTool(L"rename " + Quoted(directory) + L" " + Quoted(aside)),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        // The download, the lock and the clean-up still work inside it.
        std::ofstream(directory / L"LumivanceSetup.exe") << "installer bytes";
        EXPECT_EQ(RunFileTool(L"delete " + Quoted(directory / L"LumivanceSetup.exe")), 0u);
    }
    // Released, the same requests succeed: the refusals above were the hold's doing.
    EXPECT_EQ(RunFileTool(L"rename " + Quoted(directory) + L" " + Quoted(aside)), 0u);
    EXPECT_EQ(RunFileTool(L"rmdir " + Quoted(aside)), 0u);
}

}  // namespace
}  // namespace lumivance
