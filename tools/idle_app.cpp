// Stands in for the installed Lumivance application in the running-application tests, which copy it under
// the names and folders they need. It does nothing until it is terminated, and ends by itself after the
// number of milliseconds given as its argument (a minute by default), so a test that dies half-way never
// leaves it behind for long.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    constexpr DWORD kDefaultLifetimeMs = 60'000;
    const DWORD lifetime = (arguments != nullptr && *arguments != L'\0')
                               ? static_cast<DWORD>(std::wcstoul(arguments, nullptr, 10))
                               : kDefaultLifetimeMs;
    Sleep(lifetime);
    return 0;
}
