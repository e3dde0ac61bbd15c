// A DLL planted beside setup, as an attacker would leave one in the Downloads folder: built as
// winhttp.dll and as version.dll. Loading it is all it takes, so DllMain leaves a marker file beside it
// ("<dll>.loaded") for the test to find. It exports the one function the control program imports.
#include <windows.h>

#include <string>

#if defined(PLANTED_WINHTTP)
extern "C" __declspec(dllexport) BOOL WinHttpCheckPlatform()
{
    return FALSE;
}
#else
extern "C" __declspec(dllexport) DWORD GetFileVersionInfoSizeW(const wchar_t*, DWORD*)
{
    return 0;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH * 2] = {};
        GetModuleFileNameW(instance, path, static_cast<DWORD>(std::size(path)));
        const std::wstring marker = std::wstring(path) + L".loaded";
        HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    return TRUE;
}
