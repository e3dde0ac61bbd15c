#pragma once

// Drives a Windows GUI program from outside, the way a user would: it launches the program, reads what its
// windows show and acts on them with the messages that clicks and keys produce. Built for the Wine tests of
// setup's shell and of the whole program, and usable from any Windows-side gtest:
//
//   ui::PrivateDesktop desktop;                   // once, before the first window (see PrivateDesktop)
//   ui::Program setup(exePath, {.environment = {{L"NAME", L"value"}}});
//   const auto dialog = ui::WaitFor([&] { return setup.Look().dialog; });   // std::optional, see WaitFor
//   EXPECT_EQ(dialog->content, L"Downloading the right version for your PC\u2026");
//   ui::PressCancel(*dialog);
//   const auto box = ui::WaitFor([&] { return setup.Look().messageBox; });
//   ui::Answer(*box, IDCANCEL);
//   EXPECT_EQ(setup.WaitForExit(), 1u);                                      // all 32 bits
//
// Actions post their messages rather than using SendInput (which under Wine does not reliably reach a
// window of another process): a click is BM_CLICK on the button, a key is WM_KEYDOWN/WM_SYSKEYDOWN to the
// window, the close box is WM_SYSCOMMAND SC_CLOSE. Reads use SendMessageTimeout, so a hung program makes a
// read come back empty instead of hanging the test.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lumivance::ui {

// One child window (control) as read at one moment.
struct Control {
    HWND hwnd = nullptr;
    std::wstring className;
    int id = 0;
    std::wstring text;
    bool visible = false;
    bool enabled = false;
};

// A visible top-level window of the program with all its descendants.
struct Window {
    HWND hwnd = nullptr;
    std::wstring className;
    std::wstring title;
    std::vector<Control> controls;
};

// A task dialog with a progress bar, as the user sees it.
struct ProgressDialogView {
    HWND hwnd = nullptr;
    std::wstring title;
    std::wstring mainInstruction;
    std::wstring content;
    int progress = -1;  // the bar's position
    bool cancelEnabled = false;
    HWND cancel = nullptr;
};

// A message box: its caption, its text and the IDs of its buttons (IDOK, IDRETRY, IDCANCEL, ...).
struct MessageBoxView {
    HWND hwnd = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;
};

// Everything the program shows at one moment.
struct Screen {
    std::vector<Window> windows;
    std::optional<ProgressDialogView> dialog;  // the first progress dialog, if any
    std::optional<MessageBoxView> messageBox;  // the first message box, if any
    int dialogCount = 0;
    int messageBoxCount = 0;

    // One line per window and control, for failure messages.
    std::wstring Describe() const;
};

struct LaunchOptions {
    // Added to (or replacing in) the test's own environment, which the program inherits.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    std::filesystem::path workingDirectory;  // empty: the test's own
};

// A launched program. The destructor ends it if it still runs, so a failing test leaves nothing behind.
class Program {
public:
    explicit Program(const std::filesystem::path& exe, const LaunchOptions& options = {});
    ~Program();
    Program(Program&& other) noexcept;
    Program& operator=(Program&&) = delete;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    DWORD Id() const { return id_; }
    bool Running() const;
    // The full 32-bit exit code once the program has ended, or nothing when it still runs after timeout.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    Screen Look() const;
    void Terminate();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// A desktop of its own for the calling thread and the programs it launches from now on. Wine draws a
// desktop's windows with the display of the process that first used it: on the shared default desktop
// that may be a process without any display, and then no window ever appears. Programs launched here
// start on this desktop, and Look() sees its windows.
class PrivateDesktop {
public:
    PrivateDesktop();
    ~PrivateDesktop();
    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

private:
    HDESK previous_ = nullptr;
    HDESK desktop_ = nullptr;
};

// Reads one window of any process.
Window ReadWindow(HWND hwnd);

// Calls probe() until it returns a value that tests true (an engaged optional, true, a non-null pointer),
// and returns that value; after timeout it returns the last (empty) result.
template <typename Probe>
auto WaitFor(Probe probe, std::chrono::milliseconds timeout = std::chrono::seconds(10),
             std::chrono::milliseconds every = std::chrono::milliseconds(20)) -> decltype(probe())
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto result = probe();
        if (result || std::chrono::steady_clock::now() >= deadline) {
            return result;
        }
        std::this_thread::sleep_for(every);
    }
}

// Presses a button as a click does (nothing happens when it is disabled, as for a user).
void Click(HWND button);
// Presses the progress dialog's Cancel button.
void PressCancel(const ProgressDialogView& dialog);
// The Escape key in a window.
void PressEscape(HWND window);
// Alt+F4 in a window.
void PressAltF4(HWND window);
// A click on the window's close box (title bar X): the system command SC_CLOSE.
void ClickCloseBox(HWND window);
// WM_CLOSE, as another program or the taskbar sends it.
void SendClose(HWND window);
// Chooses a message box's button by ID (IDRETRY, IDCANCEL, IDOK, ...); false when the box has no such button.
bool Answer(const MessageBoxView& box, int buttonId);

// UTF-16 to UTF-8, for gtest messages.
std::string Narrow(const std::wstring& text);

}  // namespace lumivance::ui
