// The unsafe binding, as a control for the planting tests: this program imports winhttp.dll and
// version.dll at load time (plain import libraries, no delay-loading), so DLLs planted beside it are loaded
// before its code runs. If the planted DLLs' markers do not appear for it, the test rig cannot see
// planting at all, and setup's clean result would prove nothing.
#include <windows.h>
#include <winhttp.h>
#include <winver.h>

int wmain(int argc, wchar_t**)
{
    if (argc > 1) {  // never in the tests: the imports are what matters, not the calls
        DWORD ignored = 0;
        return static_cast<int>(WinHttpCheckPlatform()) + static_cast<int>(GetFileVersionInfoSizeW(L"x", &ignored));
    }
    return 0;
}
