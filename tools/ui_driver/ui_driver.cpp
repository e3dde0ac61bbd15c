#include "tools/ui_driver/ui_driver.h"

#include <commctrl.h>

#include <cwchar>
#include <stdexcept>

#include "tools/utf8.h"

namespace lumivance::ui {
namespace {

constexpr UINT kReadTimeoutMs = 1000;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static control that holds a message box's text

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return name;
}

std::wstring TextOf(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReadTimeoutMs, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kReadTimeoutMs, &copied)) {
        return {};
    }
    text.resize(copied);
    return text;
}

BOOL CALLBACK CollectControl(HWND hwnd, LPARAM controls)
{
    Control control;
    control.hwnd = hwnd;
    control.className = ClassOf(hwnd);
    control.id = GetDlgCtrlID(hwnd);
    control.text = TextOf(hwnd);
    control.visible = IsWindowVisible(hwnd) != FALSE;
    control.enabled = IsWindowEnabled(hwnd) != FALSE;
    reinterpret_cast<std::vector<Control>*>(controls)->push_back(std::move(control));
    return TRUE;
}

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM search)
{
    auto& s = *reinterpret_cast<TopLevelSearch*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == s.processId && IsWindowVisible(hwnd)) {
        s.windows.push_back(hwnd);
    }
    return TRUE;
}

bool IsClass(const Control& control, const wchar_t* name)
{
    return CompareStringOrdinal(control.className.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

std::optional<ProgressDialogView> AsProgressDialog(const Window& window)
{
    ProgressDialogView view;
    view.hwnd = window.hwnd;
    view.title = window.title;
    bool hasBar = false;
    std::vector<std::wstring> texts;  // the visible static texts, top to bottom as created
    for (const Control& control : window.controls) {
        if (IsClass(control, PROGRESS_CLASSW)) {
            hasBar = true;
            view.progress = static_cast<int>(SendMessageW(control.hwnd, PBM_GETPOS, 0, 0));
        } else if (IsClass(control, WC_BUTTONW) && control.id == IDCANCEL) {
            view.cancel = control.hwnd;
            view.cancelEnabled = control.enabled;
        } else if (IsClass(control, WC_STATICW) && control.visible && !control.text.empty()) {
            texts.push_back(control.text);
        }
    }
    if (!hasBar) {
        return std::nullopt;
    }
    // A task dialog lays out its main instruction above its content.
    if (!texts.empty()) {
        view.mainInstruction = texts[0];
    }
    if (texts.size() > 1) {
        view.content = texts[1];
    }
    return view;
}

std::optional<MessageBoxView> AsMessageBox(const Window& window)
{
    MessageBoxView view;
    view.hwnd = window.hwnd;
    view.caption = window.title;
    bool hasText = false;
    for (const Control& control : window.controls) {
        if (IsClass(control, WC_STATICW) && control.id == kMessageBoxTextId) {
            hasText = true;
            view.text = control.text;
        } else if (IsClass(control, WC_BUTTONW) && control.visible) {
            view.buttons.push_back(control.id);
        } else if (IsClass(control, PROGRESS_CLASSW)) {
            return std::nullopt;
        }
    }
    if (!hasText) {
        return std::nullopt;
    }
    return view;
}

void PostKey(HWND window, UINT message, WPARAM key, bool alt)
{
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
    const LPARAM up = down | (1 << 30) | (static_cast<LPARAM>(1) << 31);
    PostMessageW(window, message, key, down);
    PostMessageW(window, message == WM_SYSKEYDOWN ? WM_SYSKEYUP : WM_KEYUP, key, up);
}

}  // namespace

std::wstring Screen::Describe() const
{
    std::wstring text;
    if (windows.empty()) {
        return L"(no visible window)";
    }
    for (const Window& window : windows) {
        text += L"window [" + window.className + L"] \"" + window.title + L"\"\n";
        for (const Control& control : window.controls) {
            text += L"  [" + control.className + L"] id=" + std::to_wstring(control.id) +
                    (control.visible ? L"" : L" hidden") + (control.enabled ? L"" : L" disabled") + L" \"" +
                    control.text + L"\"\n";
        }
    }
    return text;
}

Window ReadWindow(HWND hwnd)
{
    Window window;
    window.hwnd = hwnd;
    window.className = ClassOf(hwnd);
    window.title = TextOf(hwnd);
    EnumChildWindows(hwnd, CollectControl, reinterpret_cast<LPARAM>(&window.controls));
    return window;
}

PrivateDesktop::PrivateDesktop() : previous_(GetThreadDesktop(GetCurrentThreadId()))
{
    const std::wstring name =
        L"lumivance-ui-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    desktop_ = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop_ == nullptr || !SetThreadDesktop(desktop_)) {
        const DWORD error = GetLastError();
        if (desktop_ != nullptr) {
            CloseDesktop(desktop_);
        }
        throw std::runtime_error("could not switch to a desktop of its own (error " + std::to_string(error) + ")");
    }
}

PrivateDesktop::~PrivateDesktop()
{
    SetThreadDesktop(previous_);
    CloseDesktop(desktop_);
}

Program::Program(const std::filesystem::path& exe, const LaunchOptions& options)
{
    // The child inherits our environment with the options applied: set them here for the moment it takes
    // to copy the block, then put ours back.
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved;
    for (const auto& [name, value] : options.environment) {
        const DWORD needed = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        std::optional<std::wstring> old;
        if (needed != 0) {
            old.emplace(needed, L'\0');
            old->resize(GetEnvironmentVariableW(name.c_str(), old->data(), needed));
        }
        saved.emplace_back(name, std::move(old));
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    wchar_t* block = GetEnvironmentStringsW();
    std::wstring environment;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        environment.append(entry, std::wcslen(entry) + 1);
    }
    environment.push_back(L'\0');
    FreeEnvironmentStringsW(block);
    for (const auto& [name, old] : saved) {
        SetEnvironmentVariableW(name.c_str(), old ? old->c_str() : nullptr);
    }

    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // The program shows its windows on the calling thread's desktop, where Look() enumerates them.
    wchar_t desktop[256] = {};
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof(desktop), nullptr);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION info{};
    const std::wstring directory = options.workingDirectory.wstring();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        throw std::runtime_error("could not start " + Narrow(exe.wstring()) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

Program::Program(Program&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0))
{
}

Program::~Program()
{
    if (process_ != nullptr) {
        Terminate();
        CloseHandle(process_);
    }
}

bool Program::Running() const
{
    return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Program::WaitForExit(std::chrono::milliseconds timeout) const
{
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Program::Terminate()
{
    if (Running()) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 10000);
    }
}

Screen Program::Look() const
{
    TopLevelSearch search{id_, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    Screen screen;
    for (HWND hwnd : search.windows) {
        Window window = ReadWindow(hwnd);
        if (auto dialog = AsProgressDialog(window)) {
            ++screen.dialogCount;
            if (!screen.dialog) {
                screen.dialog = std::move(dialog);
            }
        } else if (auto box = AsMessageBox(window)) {
            ++screen.messageBoxCount;
            if (!screen.messageBox) {
                screen.messageBox = std::move(box);
            }
        }
        screen.windows.push_back(std::move(window));
    }
    return screen;
}

void Click(HWND button)
{
    if (IsWindowEnabled(button)) {
        PostMessageW(button, BM_CLICK, 0, 0);
    }
}

void PressCancel(const ProgressDialogView& dialog)
{
    Click(dialog.cancel);
}

void PressEscape(HWND window)
{
    PostKey(window, WM_KEYDOWN, VK_ESCAPE, false);
}

void PressAltF4(HWND window)
{
    PostKey(window, WM_SYSKEYDOWN, VK_F4, true);
}

void ClickCloseBox(HWND window)
{
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SendClose(HWND window)
{
    PostMessageW(window, WM_CLOSE, 0, 0);
}

bool Answer(const MessageBoxView& box, int buttonId)
{
    HWND button = GetDlgItem(box.hwnd, buttonId);
    if (button == nullptr) {
        return false;
    }
    Click(button);
    return true;
}

std::string Narrow(const std::wstring& text)
{
    return tools::ToUtf8(text);
}

}  // namespace lumivance::ui
