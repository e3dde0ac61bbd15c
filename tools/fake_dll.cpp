// A stand-in for a system DLL, planted beside a program to find out whether the program loads it. Built by
// tools/make-fake-dlls once per DLL, with a .def file that gives it every name and ordinal of the module it
// replaces, all bound to FakeDllExport. Being loaded is all it takes: DllMain leaves a marker file beside
// the DLL ("<dll path>.loaded"). No C runtime (-nostdlib): only KERNEL32, which is bound before any DLL a
// program could have planted.
#include <windows.h>

extern "C" {

// Nothing calls an export of a fake unless the fake was loaded, and then the marker already tells.
void FakeDllExport()
{
    ExitProcess(0xFA4E);
}

BOOL WINAPI FakeDllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t marker[MAX_PATH * 2 + 8] = {};
        const DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH * 2);
        if (length > 0 && length < MAX_PATH * 2) {
            lstrcatW(marker, L".loaded");
            const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}

}  // extern "C"
