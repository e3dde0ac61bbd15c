// The staging directory's creation, hold and clean-up, and the start-up sweep, on the real file system, against
// another process that holds a directory or a file the way a running setup, an installer or a scanner would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_resource_win.h"
#include "staging/staging_directory_win.h"
#include "staging/staging_sweep.h"
#include "tests/windows/other_process.h"
#include "tests/windows/test_support.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::FileHeldByAnotherProcess;
using testing::Quoted;
using testing::RunFileTool;

enum class MadeBy { Setup, SomebodyElse };

// A directory as setup creates it (its own security descriptor), or as any other program would, inheriting
// from the temp folder; released at once, as by a setup that was killed.
path MakeLeftover(const path& temp, const std::wstring& name, const std::vector<std::wstring>& files = {},
                  MadeBy madeBy = MadeBy::Setup)
{
    const path directory = temp / name;
    if (madeBy == MadeBy::Setup) {
        EXPECT_NO_THROW(StagingDirectory::Create(temp, name)) << testing::ToUtf8(name);
    } else {
        std::filesystem::create_directory(directory);
    }
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
    // Setup holds its directory from the moment it makes it, so an empty one nobody holds goes however young.
    const path emptyAndYoung = MakeLeftover(temp, L"LumivanceSetup-{11111111-0000-4000-8000-000000000003}");

    const std::vector<path> kept{
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
        // Not made by setup: others may enter it (Wine shows the mode bits that let them in as an entry for
        // everyone), so whoever made it may still change it.
        MakeLeftover(temp, L"LumivanceSetup-{66666666-0000-4000-8000-000000000001}", {L"LumivanceSetup.exe"},
                     MadeBy::SomebodyElse),
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
    EXPECT_FALSE(std::filesystem::exists(emptyAndYoung));
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
    const path directory = scratch.path() / L"LumivanceSetup-{55555555-0000-4000-8000-000000000001}";
    const path aside = scratch.path() / L"aside";
    {
        const StagingDirectory staging = StagingDirectory::Create(scratch.path(), directory.filename().wstring());
        EXPECT_EQ(RunFileTool(L"rmdir " + Quoted(directory)), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(RunFileTool(L"rename " + Quoted(directory) + L" " + Quoted(aside)),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        // The download, the lock and the clean-up still work inside it.
        std::ofstream(directory / L"LumivanceSetup.exe") << "installer bytes";
        EXPECT_EQ(RunFileTool(L"delete " + Quoted(directory / L"LumivanceSetup.exe")), 0u);
    }
    // Released, the same requests succeed: the refusals above were the hold's doing.
    ASSERT_TRUE(std::filesystem::is_directory(directory));
    EXPECT_EQ(RunFileTool(L"rename " + Quoted(directory) + L" " + Quoted(aside)), 0u);
    EXPECT_EQ(RunFileTool(L"rmdir " + Quoted(aside)), 0u);
}

// Wine runs every process elevated, so only the elevated descriptor is ever used here: Windows must read
// both as a protected DACL of two entries, or an unelevated setup could make no staging directory at all.
TEST(StagingDirectoryOnWindows, BothDescriptorsAreProtectedDaclsWindowsAccepts)
{
    for (const bool elevated : {false, true}) {
        SCOPED_TRACE(elevated ? "elevated" : "unelevated");
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            StagingDirectorySecurity({L"S-1-5-21-1-2-3-1001", elevated}).c_str(), SDDL_REVISION_1, &descriptor,
            nullptr));
        const LocalMemory owned(descriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing may be inherited from the temp folder";
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl != nullptr);
        EXPECT_EQ(dacl->AceCount, 2u);
    }
}

TEST(StagingDirectoryOnWindows, IsMadeNewWithItsOwnRightsAndOthersLeftOut)
{
    const testing::ScratchDirectory scratch;
    const path directory = scratch.path() / L"LumivanceSetup-{77777777-0000-4000-8000-000000000001}";
    const std::wstring name = directory.filename().wstring();
    {
        const StagingDirectory staging = StagingDirectory::Create(scratch.path(), name);
        // Wine keeps no descriptor on a Unix drive: it turns the DACL into mode bits and reports those back,
        // so what can be seen here is that nobody but the owner's class got any bits.
        const std::wstring rights = testing::SecurityText(directory);
        EXPECT_EQ(rights.find(L";;;WD)"), std::wstring::npos) << testing::ToUtf8(rights);
        EXPECT_NE(rights.find(L";;;SY)"), std::wstring::npos) << testing::ToUtf8(rights);
        const std::optional<InstallerPaths> paths = staging.ExpectedInstallerPaths();
        ASSERT_TRUE(paths);
        EXPECT_EQ(paths->directory, directory.wstring()) << "the plain final path, no \\\\?\\ prefix";
        EXPECT_EQ(paths->file, (directory / L"LumivanceSetup.exe").wstring());
    }
    const auto refusal = [&scratch](const std::wstring& existing) {
        try {
            StagingDirectory::Create(scratch.path(), existing);
        } catch (const std::runtime_error& failure) {
            return std::string(failure.what());
        }
        return std::string("(created)");
    };
    EXPECT_EQ(refusal(name), "Could not prepare installation.") << "a name that exists is never taken over";
    // The same for a file or a link of that name: nothing is opened.
    const path file = scratch.path() / L"LumivanceSetup-{77777777-0000-4000-8000-000000000002}";
    std::ofstream(file) << "not a folder";
    EXPECT_EQ(refusal(file.filename().wstring()), "Could not prepare installation.");
    EXPECT_EQ(testing::ReadFileBytes(file), "not a folder");
}

// The attempt's clean-up: a Unix symbolic link to a folder, which Wine shows as a reparse point and would
// follow, planted beside the staging file.
TEST(StagingDirectoryOnWindows, CleanUpDeletesTheStagingFileAndNeverFollowsALink)
{
    const testing::ScratchDirectory scratch;
    const path target = scratch.path() / L"target";
    std::filesystem::create_directory(target);
    std::ofstream(target / L"precious.txt") << "keep me";
    const path directory = scratch.path() / L"LumivanceSetup-{77777777-0000-4000-8000-000000000003}";
    {
        StagingDirectory staging = StagingDirectory::Create(scratch.path(), directory.filename().wstring());
        std::ofstream(directory / L"LumivanceSetup.exe") << "installer bytes";
        ASSERT_EQ(testing::PlantUnixLink(target, directory / L"link"), "");
        EXPECT_TRUE(staging.Remove()) << "nothing to try again: the link is left alone";
    }
    EXPECT_EQ(testing::ReadFileBytes(target / L"precious.txt"), "keep me");
    EXPECT_FALSE(std::filesystem::exists(directory / L"LumivanceSetup.exe"));
    EXPECT_TRUE(std::filesystem::is_directory(directory)) << "what is not setup's keeps its directory";
    EXPECT_EQ(testing::RemoveUnixLink(directory / L"link"), "");
}

// An installer that starts the application leaves it running in the staging directory, its current directory,
// which it holds without delete sharing: the file must still go, and only the empty directory may stay.
TEST(StagingDirectoryOnWindows, CleanUpDeletesTheFileWhileAProgramKeepsTheDirectory)
{
    const testing::ScratchDirectory scratch;
    const path directory = scratch.path() / L"LumivanceSetup-{77777777-0000-4000-8000-000000000004}";
    {
        StagingDirectory staging = StagingDirectory::Create(scratch.path(), directory.filename().wstring());
        {
            const FileHandle file = staging.NewDownloadFile();
            ASSERT_TRUE(file);
        }
        ASSERT_TRUE(staging.LockFile());
        const FileHeldByAnotherProcess app(L"directory", directory);
        ASSERT_EQ(app.failure(), "");
        EXPECT_TRUE(staging.Remove()) << "nothing to wait for: the directory is the next sweep's";
        EXPECT_FALSE(std::filesystem::exists(directory / L"LumivanceSetup.exe"));
        EXPECT_TRUE(std::filesystem::is_empty(directory));
    }
    EXPECT_TRUE(std::filesystem::is_directory(directory));
}

}  // namespace
}  // namespace lumivance
