// The file digest on the real CNG provider under Wine, against sha256sum's digests made on the Linux side.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/unique_resource_win.h"
#include "tests/windows/other_process.h"
#include "tests/windows/test_support.h"
#include "tests/windows/verify_test_files.h"
#include "verify/file_digest_win.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::DigestSample;
using testing::FileHeldByAnotherProcess;
using testing::ScratchDirectory;
using testing::Sha256sumOf;

constexpr DWORD kPipeBufferBytes = 4096;

std::string DigestOf(const path& file)
{
    return ComputeFileSha256(testing::OpenForReading(file).get());
}

std::string DigestFailure(const path& file)
{
    try {
        DigestOf(file);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "(no failure)";
}

TEST(FileDigest, EqualsSha256sumAroundTheChunkSizeAndForSeveralMegabytes)
{
    for (const std::uint64_t length : {0ull, 1ull, 65535ull, 65536ull, 65537ull, 5255225ull}) {
        SCOPED_TRACE(length);
        const path sample = DigestSample(length);
        ASSERT_EQ(std::filesystem::file_size(sample), length);
        EXPECT_EQ(DigestOf(sample), Sha256sumOf(sample));
    }
}

TEST(FileDigest, ReadsThroughNonAsciiFolders)
{
    // The staging file lives below the user's temp folder, which carries the user's name.
    const ScratchDirectory folder(L"J\u00FCrgen \u65E5\u672C \u2603");
    const path copy = folder.path() / L"LumivanceSetup.exe";
    std::filesystem::copy_file(DigestSample(65537), copy);
    EXPECT_EQ(DigestOf(copy), Sha256sumOf(DigestSample(65537)));
}

TEST(FileDigest, FileThatCannotBeOpenedCannotBeRead)
{
    const ScratchDirectory scratch;
    EXPECT_EQ(DigestFailure(scratch.path() / L"missing.exe"), "Could not read the downloaded installer.");
    EXPECT_EQ(DigestFailure(scratch.path()), "Could not read the downloaded installer.") << "a directory";

    const path held = scratch.path() / L"held.exe";
    std::filesystem::copy_file(DigestSample(65537), held);
    const FileHeldByAnotherProcess other(L"exclusive", held);
    ASSERT_EQ(other.failure(), "");
    EXPECT_EQ(DigestFailure(held), "Could not read the downloaded installer.")
        << "another process opened it without read sharing";
}

TEST(FileDigest, ReadThatFailsBeforeTheEndIsNotADigest)
{
    // Wine lets reads through byte-range locks, so a disk failing half way is played by a pipe whose writer
    // goes away after more than one chunk: the chunks already fed must never come out as a digest.
    const std::wstring name = L"\\\\.\\pipe\\lumivance-digest-" + std::to_wstring(GetCurrentProcessId());
    const FileHandle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                           kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
    ASSERT_TRUE(pipe) << GetLastError();
    std::thread writer([&pipe] {
        if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            const std::string bytes(100000, 'x');
            DWORD written = 0;
            WriteFile(pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            FlushFileBuffers(pipe.get());
        }
        DisconnectNamedPipe(pipe.get());
    });
    const std::string failure = DigestFailure(name);
    // Should the digest never have connected, this does, so that the writer can finish.
    const FileHandle unblock(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    writer.join();
    EXPECT_EQ(failure, "Could not read the downloaded installer.");
}

// WinVerifyTrust reads the same handle after the digest and moves its file pointer; so may anyone else.
TEST(FileDigest, StartsAtTheFirstByteWhereverTheHandlesPointerStands)
{
    const path sample = DigestSample(65537);
    const FileHandle file = testing::OpenForReading(sample);
    LARGE_INTEGER middle{};
    middle.QuadPart = 1000;
    ASSERT_TRUE(SetFilePointerEx(file.get(), middle, nullptr, FILE_BEGIN));
    EXPECT_EQ(ComputeFileSha256(file.get()), Sha256sumOf(sample));
    EXPECT_EQ(ComputeFileSha256(file.get()), Sha256sumOf(sample)) << "a second pass over the same handle";
}

}  // namespace
}  // namespace lumivance
