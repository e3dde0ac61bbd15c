#include "download/download_installer_win.h"

#include <windows.h>
#include <winhttp.h>

#include <array>
#include <stdexcept>

#include "base/cancelled.h"
#include "base/unique_resource_win.h"
#include "catalogue.h"
#include "download/download_progress.h"

namespace lumivance {
namespace {

using namespace download_facts;  // what release-check reads too: res/catalogue.json
constexpr DWORD kReadBufferBytes = 65'536;
constexpr DWORD kStatusOk = 200;

[[noreturn]] void Fail(const char* sentence)
{
    throw std::runtime_error(sentence);
}

void ThrowIfCancelled(const InstallState& state)
{
    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
}

}  // namespace

DownloadCalls RealDownloadCalls()
{
    return {.tickCount = [] { return static_cast<std::uint64_t>(GetTickCount64()); }};
}

void DownloadInstallerWith(const ReleaseAsset& asset, const CreateDownloadFile& createFile, InstallState& state,
                           const std::wstring& host, std::uint16_t port, const DownloadCalls& calls)
{
    // Declared in creation order, so every path closes request, connection, session in that order.
    const WinHttpHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        Fail(kCouldNotConnect);
    }
    WinHttpSetTimeouts(session.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);

    const WinHttpHandle connection(WinHttpConnect(session.get(), host.c_str(), port, 0));
    if (!connection) {
        Fail(kCouldNotConnect);
    }
    const WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", asset.downloadPath, nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                   WINHTTP_FLAG_SECURE));
    if (!request) {
        Fail(kCouldNotConnect);
    }

    // A redirect could lead anywhere, including to plain HTTP: it is handed back as a status and refused.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof redirectPolicy)) {
        Fail(kCouldNotPrepareSecureDownload);
    }
    // The receive timeout above does not cover the wait for the response head everywhere (Wine waits for
    // ever); this bounds a server that accepts the request and never answers.
    DWORD responseTimeout = kTimeoutMs;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);

    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        Fail(kRequestInterrupted);
    }

    DWORD status = 0;
    DWORD statusLength = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusLength, WINHTTP_NO_HEADER_INDEX) ||
        status != kStatusOk) {
        Fail(kInstallerUnavailable);
    }

    // Only now is anything written: a refused request leaves no staging file behind.
    FileHandle file = createFile();
    if (!file) {
        Fail(kCouldNotSave);
    }

    std::array<char, kReadBufferBytes> buffer{};
    std::uint64_t received = 0;
    const std::uint64_t startTick = calls.tickCount();
    ThrowIfCancelled(state);

    for (;;) {
        if (calls.tickCount() - startTick > kBodyTimeLimitMs) {
            Fail(kDownloadTookTooLong);
        }
        DWORD chunkLength = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), kReadBufferBytes, &chunkLength)) {
            Fail(kBodyInterrupted);
        }
        if (chunkLength == 0) {
            break;
        }
        received += chunkLength;
        // Whatever the server announced, the file never holds more than the expected size.
        if (received > asset.sizeBytes) {
            Fail(kDownloadLongerThanExpected);
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), chunkLength, &written, nullptr) || written != chunkLength) {
            Fail(kCouldNotSave);
        }
        state.progressPercent.exchange(DownloadProgressPercent(received, asset.sizeBytes));
        ThrowIfCancelled(state);
    }

    if (!CloseHandle(file.release()) || received != asset.sizeBytes) {
        Fail(kDownloadIncomplete);
    }
}

void DownloadInstaller(const ReleaseAsset& asset, const CreateDownloadFile& createFile, InstallState& state,
                       const std::wstring& host, std::uint16_t port)
{
    DownloadInstallerWith(asset, createFile, state, host, port, RealDownloadCalls());
}

}  // namespace lumivance
