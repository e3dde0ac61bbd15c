#include "tests/windows/download_test_support.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/cancelled.h"
#include "download/download_installer_win.h"
#include "tests/windows/test_support.h"

namespace lumivance::testing {
namespace {

std::uint16_t PortFrom(const wchar_t* variable)
{
    const std::wstring text = EnvironmentValue(variable);
    if (text.empty()) {
        throw std::runtime_error("no " + ToUtf8(variable) +
                                 ": this test must run inside tools/download_host.py (see tools/wine-run)");
    }
    return static_cast<std::uint16_t>(std::stoul(text));
}

// The host hands out Unix paths; inside Wine they are reached through drive Z:.
std::filesystem::path HostFile(const wchar_t* variable)
{
    const std::wstring unixPath = EnvironmentValue(variable);
    if (unixPath.empty() || unixPath.front() != L'/') {
        throw std::runtime_error("no absolute " + ToUtf8(variable) + " from tools/download_host.py");
    }
    return std::filesystem::path(L"Z:" + unixPath).make_preferred();
}

}  // namespace

std::uint16_t TrustedPort()
{
    return PortFrom(L"LUMIVANCE_DOWNLOAD_PORT");
}
std::uint16_t UntrustedPort()
{
    return PortFrom(L"LUMIVANCE_UNTRUSTED_PORT");
}
std::uint16_t ClosedPort()
{
    return PortFrom(L"LUMIVANCE_CLOSED_PORT");
}

std::vector<LoggedRequest> ReadRequestLog()
{
    const std::filesystem::path log = HostFile(L"LUMIVANCE_REQUEST_LOG");
    if (!std::filesystem::exists(log)) {
        throw std::runtime_error("the host's request log is missing: " + log.string());
    }
    std::vector<LoggedRequest> requests;
    std::istringstream lines(ReadFileBytes(log));
    bool inBlock = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            inBlock = false;
        } else if (!inBlock) {
            requests.push_back({line, {}});
            inBlock = true;
        } else {
            const auto colon = line.find(": ");
            requests.back().headers.emplace_back(line.substr(0, colon),
                                                 colon == std::string::npos ? "" : line.substr(colon + 2));
        }
    }
    return requests;
}

bool HoldsGeneratedBytes(const std::filesystem::path& file, std::uint64_t count)
{
    const std::string bytes = ReadFileBytes(file);
    if (bytes.size() != count) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != i % 251) {
            return false;
        }
    }
    return true;
}

DownloadOutcome RunDownload(const TestAsset& asset, const std::filesystem::path& file, InstallState& state,
                            std::uint16_t port, TestClock* clock)
{
    const ReleaseAsset row = asset.Row();
    try {
        const DownloadResponse response = OpenDownload(row, L"localhost", port);
        // As the workflow makes it once the server has answered, and as the staging directory makes it: new,
        // never an existing file opened.
        FileHandle made(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (clock != nullptr) {
            ReceiveDownloadWith(response, std::move(made), row, state, *clock);
        } else {
            ReceiveDownload(response, std::move(made), row, state);
        }
        return {DownloadOutcome::Kind::Returned, {}};
    } catch (const Cancelled&) {
        return {DownloadOutcome::Kind::Cancelled, {}};
    } catch (const std::runtime_error& error) {
        return {DownloadOutcome::Kind::Failed, error.what()};
    }
}

ProgressWatcher::ProgressWatcher(const InstallState& state)
    : state_(state), seen_{state.progressPercent.load()}, thread_([this] {
          while (!stop_.load()) {
              const std::int32_t value = state_.progressPercent.load();
              if (value != seen_.back()) {
                  seen_.push_back(value);
              }
              std::this_thread::yield();
          }
      })
{
}

ProgressWatcher::~ProgressWatcher()
{
    if (thread_.joinable()) {
        Stop();
    }
}

std::vector<std::int32_t> ProgressWatcher::Stop()
{
    stop_.store(true);
    thread_.join();
    if (const std::int32_t last = state_.progressPercent.load(); last != seen_.back()) {
        seen_.push_back(last);
    }
    return seen_;
}

}  // namespace lumivance::testing
