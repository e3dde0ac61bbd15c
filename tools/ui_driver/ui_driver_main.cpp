// ui_driver run EXE
// Runs EXE on a desktop of its own (so that its windows appear on this process's display, whatever else
// runs in the Wine prefix), prints one line whenever what it shows changes, and at the end "exit <code>"
// with all 32 bits of its exit code, which a Linux caller of wine cannot otherwise see (it gets code & 0xFF).
// Lines:
//   dialog "<title>" "<main instruction>" "<content>" <progress>% cancel=<enabled|disabled>
//   box "<caption>" "<text>" buttons=<IDs>
//   none
//   exit <code>
// The driver only watches; the user (or a script with xdotool) answers the windows.
#include <cstdio>
#include <string>

#include "tools/ui_driver/ui_driver.h"

namespace {

using namespace lumivance;

std::string Line(const ui::Screen& screen)
{
    std::string line;
    if (screen.dialog) {
        const auto& d = *screen.dialog;
        line += "dialog \"" + ui::Narrow(d.title) + "\" \"" + ui::Narrow(d.mainInstruction) + "\" \"" +
                ui::Narrow(d.content) + "\" " + std::to_string(d.progress) +
                "% cancel=" + (d.cancelEnabled ? "enabled" : "disabled");
    }
    if (screen.messageBox) {
        const auto& b = *screen.messageBox;
        std::string buttons;
        for (const int id : b.buttons) {
            buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
        }
        line += (line.empty() ? "" : " ") + std::string("box \"") + ui::Narrow(b.caption) + "\" \"" +
                ui::Narrow(b.text) + "\" buttons=" + buttons;
    }
    return line.empty() ? "none" : line;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || std::wstring(argv[1]) != L"run") {
        std::fputs("usage: ui_driver run EXE\n", stderr);
        return 2;
    }
    try {
        const ui::PrivateDesktop desktop;
        ui::Program program(argv[2]);
        std::string shown;
        while (program.Running()) {
            const std::string line = Line(program.Look());
            if (line != shown) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
                shown = line;
            }
            Sleep(50);
        }
        const DWORD code = program.WaitForExit().value_or(0);
        std::printf("exit %lu\n", static_cast<unsigned long>(code));
        std::fflush(stdout);
        return static_cast<int>(code);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "ui_driver: %s\n", failure.what());
        return 2;
    }
}
