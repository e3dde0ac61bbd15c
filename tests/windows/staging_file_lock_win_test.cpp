// The staging object's lock on the staging file under Wine: while it is held, no other process can change
// what was verified, yet the digest pass and WinVerifyTrust read it through the lock and CreateProcessW
// starts it by the path read from the lock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "staging/staging_directory_win.h"
#include "tests/windows/other_process.h"
#include "tests/windows/test_support.h"
#include "tests/windows/verify_test_files.h"
#include "verify/file_digest_win.h"
#include "verify/verify_installer_win.h"
#include "worker/install_system_win.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::FileHeldByAnotherProcess;
using testing::PinnedRow;
using testing::Quoted;
using testing::RunFileTool;
using testing::ScratchDirectory;
using testing::TestInstaller;

// The signed test installer, downloaded (copied) through the staging object into its staging file.
struct StagedInstaller {
    ScratchDirectory scratch;
    StagingDirectory staging =
        StagingDirectory::Create(scratch.path(), L"LumivanceSetup-{88888888-0000-4000-8000-000000000001}");
    path file = scratch.path() / L"LumivanceSetup-{88888888-0000-4000-8000-000000000001}" / L"LumivanceSetup.exe";
    path other = scratch.path() / L"other.exe";  // what an attacker would put in its place
    path aside = scratch.path() / L"aside.exe";

    StagedInstaller()
    {
        const std::string bytes = testing::ReadFileBytes(TestInstaller(L"signed.exe"));
        const FileHandle written = staging.NewDownloadFile();
        DWORD count = 0;
        EXPECT_TRUE(written &&
                    WriteFile(written.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr));
        std::filesystem::copy_file(TestInstaller(L"unsigned.exe"), other);
    }
};

TEST(StagingFileLock, NoOtherProcessCanOverwriteRenameReplaceOrDeleteTheLockedFile)
{
    StagedInstaller staged;
    const std::string verified = testing::ReadFileBytes(staged.file);
    const std::wstring attacks[] = {
        L"write " + Quoted(staged.file),
        L"rename " + Quoted(staged.file) + L" " + Quoted(staged.aside),
        L"replace " + Quoted(staged.other) + L" " + Quoted(staged.file),
        L"delete " + Quoted(staged.file),
    };
    {
        ASSERT_TRUE(staged.staging.LockFile());
        for (const std::wstring& attack : attacks) {
            SCOPED_TRACE(testing::ToUtf8(attack));
            // Windows answers a replace of a file in use with "access denied", the rest with a sharing violation.
            EXPECT_THAT(RunFileTool(attack), ::testing::AnyOf(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
                                                              static_cast<DWORD>(ERROR_ACCESS_DENIED)));
            EXPECT_EQ(testing::ReadFileBytes(staged.file), verified);
            EXPECT_FALSE(std::filesystem::exists(staged.aside));
        }
        ASSERT_TRUE(staged.staging.Remove());
        std::filesystem::create_directory(staged.file.parent_path());
    }
    // Without the lock the same process manages each of them, so the refusals above were the lock's doing.
    for (const std::wstring& attack : attacks) {
        SCOPED_TRACE(testing::ToUtf8(attack));
        if (!std::filesystem::exists(staged.file)) {
            std::filesystem::copy_file(TestInstaller(L"signed.exe"), staged.file);
        }
        if (!std::filesystem::exists(staged.other)) {
            std::filesystem::copy_file(TestInstaller(L"unsigned.exe"), staged.other);
        }
        std::filesystem::remove(staged.aside);
        EXPECT_EQ(RunFileTool(attack), 0u);
    }
}

TEST(StagingFileLock, DigestSignatureCheckAndLaunchStillOpenTheLockedFile)
{
    StagedInstaller staged;
    const PinnedRow pinned(TestInstaller(L"signed.exe"));
    ASSERT_TRUE(staged.staging.LockFile());

    EXPECT_EQ(ComputeFileSha256(staged.staging.LockedFile()), pinned.sha256Hex);
    WindowsInstallSystem system;
    EXPECT_NO_THROW(system.Verify(staged.staging, pinned.row));

    const testing::ScopedEnvironment exitWith(L"LUMIVANCE_FAKE_INSTALLER_EXIT", L"7");
    std::uint32_t exitCode = 0;
    ASSERT_TRUE(system.LaunchAndWait(staged.staging, exitCode));
    EXPECT_EQ(exitCode, 7u) << "the locked installer itself ran";
}

TEST(StagingFileLock, IsRefusedWhileAnotherProcessCanStillWrite)
{
    // A writer that got in before the lock could change the bytes after verification: no lock then.
    StagedInstaller staged;
    const FileHeldByAnotherProcess writer(L"writer", staged.file);
    ASSERT_EQ(writer.failure(), "");
    EXPECT_FALSE(staged.staging.LockFile());
}

}  // namespace
}  // namespace lumivance
