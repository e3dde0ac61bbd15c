// download_bench MODE SIZE OUTPUT [NAME]: one timed download from the test host (tools/download_host.py, port
// in LUMIVANCE_DOWNLOAD_PORT) of its generated SIZE-byte body, or of the SIZE-byte file it serves as NAME
// (--file NAME=PATH), then one result line:
//   mode=<product|bare> bytes=<n> ms=<elapsed> peak_working_set=<bytes>
// product: OpenDownload and ReceiveDownload as the program calls them. bare: the least a WinHTTP client can
// do, a read loop handing each chunk straight to WriteFile, as the yardstick.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <array>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "base/unique_resource_win.h"
#include "download/download_installer_win.h"

namespace {

using lumivance::WinHttpHandle;

std::uint64_t BareDownload(const std::wstring& path, const std::filesystem::path& output, std::uint16_t port)
{
    const WinHttpHandle session(
        WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    const WinHttpHandle connection(session ? WinHttpConnect(session.get(), L"localhost", port, 0) : nullptr);
    const WinHttpHandle request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                WINHTTP_FLAG_SECURE)
                                           : nullptr);
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        throw std::runtime_error("bare: request failed");
    }
    const lumivance::FileHandle file(
        CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw std::runtime_error("bare: cannot create the output");
    }
    static std::array<char, 65'536> buffer;
    std::uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), buffer.size(), &got)) {
            throw std::runtime_error("bare: read failed");
        }
        if (got == 0) {
            return total;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
            throw std::runtime_error("bare: write failed");
        }
        total += got;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4 && argc != 5) {
        std::fwprintf(stderr, L"usage: download_bench product|bare SIZE OUTPUT [NAME]\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    const std::uint64_t size = std::wcstoull(argv[2], nullptr, 10);
    const std::filesystem::path output = argv[3];
    wchar_t portText[16] = {};
    if (GetEnvironmentVariableW(L"LUMIVANCE_DOWNLOAD_PORT", portText, 16) == 0) {
        std::fwprintf(stderr, L"download_bench: run me inside tools/download_host.py\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::wcstoul(portText, nullptr, 10));
    const std::wstring path = L"/exact/" + (argc == 5 ? std::wstring(argv[4]) : std::to_wstring(size));

    LARGE_INTEGER frequency{}, started{}, ended{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    std::uint64_t bytes = 0;
    try {
        if (mode == L"product") {
            lumivance::InstallState state;
            const lumivance::ReleaseAsset asset{path.c_str(), "", size};
            const lumivance::DownloadResponse response = lumivance::OpenDownload(asset, L"localhost", port);
            lumivance::FileHandle file(CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            lumivance::ReceiveDownload(response, std::move(file), asset, state);
            bytes = std::filesystem::file_size(output);
        } else if (mode == L"bare") {
            bytes = BareDownload(path, output, port);
        } else {
            std::fwprintf(stderr, L"download_bench: unknown mode %ls\n", mode.c_str());
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "download_bench: %s\n", error.what());
        return 1;
    }
    QueryPerformanceCounter(&ended);

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    const double ms =
        1000.0 * static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("mode=%ls bytes=%llu ms=%.1f peak_working_set=%llu\n", mode.c_str(),
                static_cast<unsigned long long>(bytes), ms, static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    return bytes == size ? 0 : 1;
}
