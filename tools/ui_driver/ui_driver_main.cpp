// ui_driver run [--cancel-boxes] EXE
// Runs EXE on a desktop of its own (so that its windows appear on this process's display, whatever else
// runs in the Wine prefix), prints one line whenever what it shows changes, and at the end "exit <code>"
// with all 32 bits of its exit code, which a Linux caller of wine cannot otherwise see (it gets code & 0xFF).
// Lines:
//   dialog "<title>" "<main instruction>" "<content>" <progress>% cancel=<enabled|disabled>
//   box "<caption>" "<text>" buttons=<IDs>
//   none
//   exit <code>
// The driver only watches; the user (or a script with xdotool) answers the windows. With --cancel-boxes it
// answers every message box as Cancel once it has printed it, as a user would who cannot be asked: for a
// display nobody sees, where a box would otherwise wait for ever.
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
    const bool cancelBoxes = argc == 4 && std::wstring(argv[2]) == L"--cancel-boxes";
    if (argc != 3 + (cancelBoxes ? 1 : 0) || std::wstring(argv[1]) != L"run") {
        std::fputs("usage: ui_driver run [--cancel-boxes] EXE\n", stderr);
        return 2;
    }
    try {
        const ui::PrivateDesktop desktop;
        ui::Program program(argv[argc - 1]);
        std::string shown;
        ULONGLONG answeredAt = 0;
        while (program.Running()) {
            const ui::Screen screen = program.Look();
            const std::string line = Line(screen);
            if (line != shown) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
                shown = line;
            }
            // Again each second while the box stays, in case a click came before it took input; a box
            // without a Cancel button is closed, which is how its user declines it.
            if (cancelBoxes && screen.messageBox && GetTickCount64() - answeredAt >= 1000) {
                answeredAt = GetTickCount64();
                if (!ui::Answer(*screen.messageBox, IDCANCEL)) {
                    ui::ClickCloseBox(screen.messageBox->hwnd);
                }
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
