// Installer verification on the real file system, CNG and WinTrust under Wine, with installers signed by
// osslsigncode with the test code-signing certificate (whose root the test prefix trusts).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tests/windows/other_process.h"
#include "tests/windows/test_support.h"
#include "tests/windows/verify_test_files.h"
#include "verify/verify_installer_win.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::FileHeldByAnotherProcess;
using testing::PinnedRow;
using testing::ScratchDirectory;
using testing::TestInstaller;

constexpr char kMismatch[] = "The download could not be verified. Nothing was installed. Please try again.";
constexpr char kSignature[] =
    "Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, then try "
    "again.";

std::string VerifyFailure(const path& file, const ReleaseAsset& row)
{
    try {
        VerifyInstaller(testing::OpenForReading(file).get(), file.wstring(), row);
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(verified)";
}

path CopyInto(const ScratchDirectory& scratch, const path& file)
{
    const path copy = scratch.path() / L"LumivanceSetup.exe";
    std::filesystem::copy_file(file, copy);
    return copy;
}

TEST(VerifyInstaller, SignedInstallerWithPinnedSizeAndDigestPasses)
{
    const PinnedRow pinned(TestInstaller(L"signed.exe"));
    EXPECT_EQ(VerifyFailure(TestInstaller(L"signed.exe"), pinned.row), "(verified)");
}

TEST(VerifyInstaller, SizeOneByteOffIsRefusedWithoutReadingTheFile)
{
    const ScratchDirectory scratch;
    const path file = CopyInto(scratch, TestInstaller(L"signed.exe"));
    const PinnedRow pinned(TestInstaller(L"signed.exe"));
    // A handle that may not read the file: had the size check read it, the failure would say so.
    const FileHandle attributesOnly(CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(attributesOnly);
    const auto outcome = [&](const ReleaseAsset& row) -> std::string {
        try {
            VerifyInstaller(attributesOnly.get(), file.wstring(), row);
        } catch (const std::exception& failure) {
            return failure.what();
        }
        return "(verified)";
    };
    const PinnedRow shorter(pinned.sha256Hex, pinned.row.sizeBytes + 1);  // the file is one byte short
    const PinnedRow longer(pinned.sha256Hex, pinned.row.sizeBytes - 1);   // the file is one byte long
    EXPECT_EQ(outcome(shorter.row), kMismatch);
    EXPECT_EQ(outcome(longer.row), kMismatch);
    EXPECT_EQ(outcome(pinned.row), "Could not read the downloaded installer.")
        << "with the right size the digest pass must read, and here it cannot";
}

TEST(VerifyInstaller, OneChangedByteIsADigestMismatch)
{
    const ScratchDirectory scratch;
    const path file = CopyInto(scratch, TestInstaller(L"signed.exe"));
    const PinnedRow pinned(TestInstaller(L"signed.exe"));
    {
        std::fstream edit(file, std::ios::in | std::ios::out | std::ios::binary);
        edit.seekp(4096);
        edit.put('\x5A');
    }
    ASSERT_NE(testing::ReadFileBytes(file), testing::ReadFileBytes(TestInstaller(L"signed.exe")));
    EXPECT_EQ(std::filesystem::file_size(file), pinned.row.sizeBytes);
    EXPECT_EQ(VerifyFailure(file, pinned.row), kMismatch);
}

TEST(VerifyInstaller, PinnedDigestMatchesOnlyExactlyAsWritten)
{
    const path file = TestInstaller(L"signed.exe");
    const PinnedRow pinned(file);
    std::string upper = pinned.sha256Hex;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    ASSERT_NE(upper, pinned.sha256Hex) << "the digest has letters";

    for (const std::string& wrong :
         {upper, pinned.sha256Hex.substr(0, 63), pinned.sha256Hex + "0", pinned.sha256Hex + " ", std::string()}) {
        SCOPED_TRACE(wrong);
        const PinnedRow row(wrong, pinned.row.sizeBytes);
        EXPECT_EQ(VerifyFailure(file, row.row), kMismatch);
    }
}

TEST(VerifyInstaller, UnsignedOrPatchedInstallerIsRefusedBySignature)
{
    // Both pass size and digest (pinned to their own bytes), so only the signature can refuse them.
    for (const wchar_t* name : {L"unsigned.exe", L"patched.exe"}) {
        SCOPED_TRACE(testing::ToUtf8(name));
        const PinnedRow pinned(TestInstaller(name));
        EXPECT_EQ(VerifyFailure(TestInstaller(name), pinned.row), kSignature);
    }
}

TEST(VerifyInstaller, PatchedInstallerDiffersFromTheSignedOneInOneCodeByte)
{
    // Guards the fixture above: a patch in the headers or the signature would test something else.
    const std::string signedBytes = testing::ReadFileBytes(TestInstaller(L"signed.exe"));
    const std::string patchedBytes = testing::ReadFileBytes(TestInstaller(L"patched.exe"));
    ASSERT_EQ(signedBytes.size(), patchedBytes.size());
    std::size_t differing = 0;
    std::size_t where = 0;
    for (std::size_t i = 0; i < signedBytes.size(); ++i) {
        if (signedBytes[i] != patchedBytes[i]) {
            ++differing;
            where = i;
        }
    }
    const std::string unsignedBytes = testing::ReadFileBytes(TestInstaller(L"unsigned.exe"));
    EXPECT_EQ(differing, 1u);
    EXPECT_GT(where, 0x400u) << "past the headers";
    ASSERT_LT(where, unsignedBytes.size()) << "the signature is appended after the program's own bytes";
    EXPECT_EQ(signedBytes[where], unsignedBytes[where]) << "a byte that signing left alone";
}

// The workflow hands over the file it holds; one that cannot be read is never taken for verified.
TEST(VerifyInstaller, FileThatCannotBeReadIsNotVerified)
{
    const ScratchDirectory scratch;
    const PinnedRow pinned(TestInstaller(L"signed.exe"));
    EXPECT_EQ(VerifyFailure(scratch.path() / L"LumivanceSetup.exe", pinned.row), kMismatch) << "no such file";
    const FileHandle writeOnly(CreateFileW(CopyInto(scratch, TestInstaller(L"signed.exe")).c_str(), GENERIC_WRITE, 0,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writeOnly);
    try {
        VerifyInstaller(writeOnly.get(), L"LumivanceSetup.exe", pinned.row);
        ADD_FAILURE() << "a file that cannot be read verified";
    } catch (const std::runtime_error& failure) {
        EXPECT_EQ(std::string(failure.what()), "Could not read the downloaded installer.");
    }
}

}  // namespace
}  // namespace lumivance
