#include "download/download_installer_win.h"

#include <windows.h>
#include <winhttp.h>

#include "catalogue.h"
#include "download/download_progress.h"

namespace lumivance {
namespace {

using namespace download_facts;  // what release-check reads too: res/catalogue.json
constexpr DWORD kStatusOk = 200;

}  // namespace

std::uint64_t SystemTickClock::TickCount() const
{
    return GetTickCount64();
}

DownloadResponse OpenDownload(const ReleaseAsset& asset, const std::wstring& host, std::uint16_t port)
{
    DownloadResponse response;
    response.session_.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!response.session_) {
        throw std::runtime_error(kCouldNotConnect);
    }
    WinHttpSetTimeouts(response.session_.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);

    response.connection_.reset(WinHttpConnect(response.session_.get(), host.c_str(), port, 0));
    if (!response.connection_) {
        throw std::runtime_error(kCouldNotConnect);
    }
    response.request_.reset(WinHttpOpenRequest(response.connection_.get(), L"GET", asset.downloadPath, nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    const HINTERNET request = response.request_.get();
    if (!request) {
        throw std::runtime_error(kCouldNotConnect);
    }

    // A redirect could lead anywhere, including to plain HTTP: it is handed back as a status and refused.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof redirectPolicy)) {
        throw std::runtime_error(kCouldNotPrepareSecureDownload);
    }
    // The receive timeout above does not cover the wait for the response head everywhere (Wine waits for
    // ever); this bounds a server that accepts the request and never answers.
    DWORD responseTimeout = kTimeoutMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);

    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        throw std::runtime_error(kRequestInterrupted);
    }

    DWORD status = 0;
    DWORD statusLength = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusLength, WINHTTP_NO_HEADER_INDEX) ||
        status != kStatusOk) {
        throw std::runtime_error(kInstallerUnavailable);
    }
    return response;
}

namespace download {

BodyWriter::BodyWriter(const DownloadResponse& response, FileHandle file, const ReleaseAsset& asset)
    : request_(response.Request()), file_(std::move(file)), expected_(asset.sizeBytes)
{
    if (!file_) {
        throw std::runtime_error(kCouldNotSave);
    }
}

bool BodyWriter::WriteNextChunk()
{
    DWORD chunkLength = 0;
    if (!WinHttpReadData(request_, buffer_.data(), kReadBufferBytes, &chunkLength)) {
        throw std::runtime_error(kBodyInterrupted);
    }
    if (chunkLength == 0) {
        return false;
    }
    received_ += chunkLength;
    // Whatever the server announced, the file never holds more than the expected size.
    if (received_ > expected_) {
        throw std::runtime_error(kDownloadLongerThanExpected);
    }
    DWORD written = 0;
    if (!WriteFile(file_.get(), buffer_.data(), chunkLength, &written, nullptr) || written != chunkLength) {
        throw std::runtime_error(kCouldNotSave);
    }
    return true;
}

std::int32_t BodyWriter::ProgressPercent() const
{
    return DownloadProgressPercent(received_, expected_);
}

void BodyWriter::Finish()
{
    if (!CloseHandle(file_.release()) || received_ != expected_) {
        throw std::runtime_error(kDownloadIncomplete);
    }
}

}  // namespace download

void ReceiveDownload(const DownloadResponse& response, FileHandle file, const ReleaseAsset& asset, InstallState& state)
{
    SystemTickClock clock;
    ReceiveDownloadWith(response, std::move(file), asset, state, clock);
}

}  // namespace lumivance
