#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/cancelled.h"
#include "base/install_state.h"
#include "base/release_asset.h"
#include "base/unique_resource_win.h"
#include "catalogue.h"

namespace lumivance {

// The server's answer to the installer's GET once it has said 200, with the session, connection and request
// that carry it; they close in the reverse order, request first.
class DownloadResponse {
public:
    HINTERNET Request() const { return request_.get(); }

private:
    friend DownloadResponse OpenDownload(const ReleaseAsset& asset, const std::wstring& host, std::uint16_t port);
    DownloadResponse() = default;

    WinHttpHandle session_;
    WinHttpHandle connection_;
    WinHttpHandle request_;
};

// Asks host:port over HTTPS for asset.downloadPath and returns once the server has answered 200, before any of
// the body is read: the caller makes the file only then, so a refused request leaves none behind. Throws
// std::runtime_error with the user's sentence otherwise.
DownloadResponse OpenDownload(const ReleaseAsset& asset, const std::wstring& host, std::uint16_t port);

// The clock of the body's ten-minute limit: a millisecond tick count that never goes backwards. Tests pass
// their own to reach the limit at once.
template <typename Clock>
concept DownloadClock = requires(Clock& clock)
{
    requires std::same_as<decltype(clock.TickCount()), std::uint64_t>;
};

// GetTickCount64.
struct SystemTickClock {
    std::uint64_t TickCount() const;
};

namespace download {

// The body as it arrives, one read at a time, written through the file it is given.
class BodyWriter {
public:
    // Throws the user's sentence when there is no file (it could not be made).
    BodyWriter(const DownloadResponse& response, FileHandle file, const ReleaseAsset& asset);
    // Reads the next piece and writes it; false at the body's end. Throws the user's sentence.
    bool WriteNextChunk();
    std::int32_t ProgressPercent() const;
    // Closes the file; throws the user's sentence unless it holds exactly the expected size.
    void Finish();

private:
    static constexpr std::uint32_t kReadBufferBytes = 65'536;

    HINTERNET request_;
    FileHandle file_;
    std::uint64_t expected_;
    std::uint64_t received_ = 0;
    std::array<char, kReadBufferBytes> buffer_{};
};

}  // namespace download

// Receives the response's body into `file` (the staging file, made after OpenDownload returned) and returns
// only when the file holds exactly asset.sizeBytes bytes and is closed. Publishes progressPercent; throws
// Cancelled once it sees cancelRequested, std::runtime_error with the user's sentence on any failure.
template <DownloadClock Clock>
void ReceiveDownloadWith(const DownloadResponse& response, FileHandle file, const ReleaseAsset& asset,
                         InstallState& state, Clock& clock)
{
    download::BodyWriter body(response, std::move(file), asset);
    const std::uint64_t startTick = clock.TickCount();
    ThrowIfCancelled(state);
    for (;;) {
        if (clock.TickCount() - startTick > download_facts::kBodyTimeLimitMs) {
            throw std::runtime_error(kDownloadTookTooLong);
        }
        if (!body.WriteNextChunk()) {
            break;
        }
        state.progressPercent.exchange(body.ProgressPercent());
        ThrowIfCancelled(state);
    }
    body.Finish();
}

// The same on the system's clock.
void ReceiveDownload(const DownloadResponse& response, FileHandle file, const ReleaseAsset& asset, InstallState& state);

}  // namespace lumivance
