#pragma once

// What the download tests share: the test host's ports and request log, a download run that reports how
// it ended, and a watcher of progressPercent on its own thread.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/install_state.h"
#include "base/release_asset.h"
#include "download/download_installer_win.h"
#include "tests/windows/test_support.h"

namespace lumivance::testing {

// A body of three full 65,536-byte reads and a short one.
constexpr std::uint64_t kBodySize = 200'000;

// Each test downloads into its own staging file, "LumivanceSetup.exe" in a fresh folder.
class StagingFileTest : public ::testing::Test {
protected:
    ScratchDirectory scratch_;
    std::filesystem::path file_ = scratch_.path() / L"LumivanceSetup.exe";
};

// Ports the test host put into the environment (the test fails when the host is not there).
std::uint16_t TrustedPort();
std::uint16_t UntrustedPort();
std::uint16_t ClosedPort();

// One request as the host received it.
struct LoggedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
};
std::vector<LoggedRequest> ReadRequestLog();

// Byte i of a generated body of the test host is i % 251.
bool HoldsGeneratedBytes(const std::filesystem::path& file, std::uint64_t count);

struct DownloadOutcome {
    enum class Kind { Returned, Failed, Cancelled } kind;
    std::string message;  // of a failure
};

// A release row of `sizeBytes` bytes at `downloadPath` (e.g. L"/short/1000").
struct TestAsset {
    TestAsset(std::wstring path, std::uint64_t size) : downloadPath(std::move(path)), sizeBytes(size) {}
    ReleaseAsset Row() const { return ReleaseAsset{downloadPath.c_str(), "", sizeBytes}; }
    std::wstring downloadPath;
    std::uint64_t sizeBytes;
};

// A clock the test scripts: each reading is what `reading` answers.
struct TestClock {
    std::function<std::uint64_t()> reading;
    std::uint64_t TickCount() { return reading(); }
};

// The download as the workflow runs it, from localhost:port over TLS: OpenDownload, then the file made new,
// then ReceiveDownload (or, given a clock, ReceiveDownloadWith on it).
DownloadOutcome RunDownload(const TestAsset& asset, const std::filesystem::path& file, InstallState& state,
                            std::uint16_t port, TestClock* clock = nullptr);

// Samples progressPercent from another thread for as long as it lives: the values in the order seen,
// each once (the first is the value before the download began).
class ProgressWatcher {
public:
    explicit ProgressWatcher(const InstallState& state);
    ~ProgressWatcher();
    ProgressWatcher(const ProgressWatcher&) = delete;
    ProgressWatcher& operator=(const ProgressWatcher&) = delete;
    std::vector<std::int32_t> Stop();

private:
    const InstallState& state_;
    std::atomic<bool> stop_{false};
    std::vector<std::int32_t> seen_;
    std::thread thread_;
};

}  // namespace lumivance::testing
