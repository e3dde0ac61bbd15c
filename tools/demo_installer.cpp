// The demo's stand-in for the real Lumivance installer: a signed Windows program that shows its own window
// "Lumivance Installer (demo)" for a few seconds (or until the user closes it) and exits 0, which is what
// setup expects of an installer that succeeded.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"LumivanceDemoInstaller";
constexpr wchar_t kTitle[] = L"Lumivance Installer (demo)";
// The release the demo pretends to install: the project's own version, from the build.
constexpr wchar_t kText[] = L"Installing Lumivance " LUMIVANCE_VERSION " (demo)\u2026";
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kShowMilliseconds = 4000;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            DestroyWindow(window);
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        FillRect(dc, &area, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
        DrawTextW(dc, kText, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 420, 160, nullptr, nullptr, instance, nullptr);
    if (!window) {
        return 1;
    }
    ShowWindow(window, show);
    SetTimer(window, kCloseTimer, kShowMilliseconds, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
