#include "tests/e2e/setup_run.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace lumivance::e2e {
namespace {

std::filesystem::path SetupExe(const SetupOptions& options)
{
    switch (options.pinned) {
    case Pinned::Unsigned:
        return testing::ExecutableDirectory() / L"setup_e2e_unsigned.exe";
    case Pinned::Patched:
        return testing::ExecutableDirectory() / L"setup_e2e_patched.exe";
    case Pinned::Large:
        return testing::ExecutableDirectory() / L"setup_e2e_large.exe";
    case Pinned::Signed:
        break;
    }
    return testing::ExecutableDirectory() /
           (options.publisherSigned ? L"setup_e2e_publisher_signed.exe" : L"setup_e2e_signed.exe");
}

// The host's Unix paths, reached through Wine's drive Z:.
std::filesystem::path HostFile(const wchar_t* variable)
{
    const std::wstring unixPath = testing::EnvironmentValue(variable);
    if (unixPath.empty()) {
        throw std::runtime_error("no download host around this test: " + testing::ToUtf8(variable) + " is unset");
    }
    return std::filesystem::path(L"Z:" + unixPath);
}

// The exe to start: the built variant, or a copy of it in the options' folder.
std::filesystem::path PlaceSetup(const SetupOptions& options)
{
    const std::filesystem::path built = SetupExe(options);
    if (options.folder.empty()) {
        return built;
    }
    const std::filesystem::path copy = options.folder / built.filename();
    std::filesystem::copy_file(built, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

std::filesystem::path MakeDirectory(const std::filesystem::path& directory)
{
    std::filesystem::create_directories(directory);
    return directory;
}

}  // namespace

void Serve(const std::string& scenario)
{
    std::ofstream(HostFile(L"LUMIVANCE_SCENARIO_FILE"), std::ios::binary | std::ios::trunc) << scenario << '\n';
}

std::vector<std::string> RequestLines()
{
    std::vector<std::string> lines;
    std::istringstream log(testing::ReadFileBytes(HostFile(L"LUMIVANCE_REQUEST_LOG")));
    bool atBlockStart = true;
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            atBlockStart = true;
        } else if (atBlockStart) {
            lines.push_back(line);
            atBlockStart = false;
        }
    }
    return lines;
}

bool BodyEndHeld()
{
    return testing::ReadFileBytes(HostFile(L"LUMIVANCE_GATE_FILE")) == "held\n";
}

void ReleaseBodyEnd()
{
    std::ofstream(HostFile(L"LUMIVANCE_GATE_FILE"), std::ios::binary | std::ios::trunc) << "open\n";
}

SetupRun::SetupRun(const SetupOptions& options)
    : scratch_(L"lumivance-e2e"),
      temp_(options.temp.empty() ? MakeDirectory(scratch_.path() / options.tempName) : options.temp),
      localAppData_(MakeDirectory(scratch_.path() / L"Local")), report_(scratch_.path() / L"installer-report.txt"),
      lookalikeReport_(scratch_.path() / L"lookalike-report.txt"),
      program_(
          PlaceSetup(options),
          ui::LaunchOptions{.environment =
                                {
                                    {L"TMP", temp_.wstring()},
                                    {L"TEMP", temp_.wstring()},
                                    {L"LOCALAPPDATA", localAppData_.wstring()},
                                    {L"LUMIVANCE_FAKE_INSTALLER_REPORT", report_.wstring()},
                                    {L"LUMIVANCE_FAKE_INSTALLER_EXIT", std::to_wstring(options.installerExitCode)},
                                    {L"LUMIVANCE_FAKE_INSTALLER_WAIT_MS", std::to_wstring(options.installerWaitMs)},
                                    {L"LUMIVANCE_FAKE_INSTALLER_ECHO", L"from the test"},
                                    {L"LUMIVANCE_FAKE_INSTALLER_STARTS", options.installerStarts},
                                    {L"LUMIVANCE_LOOKALIKE_REPORT", lookalikeReport_.wstring()},
                                },
                            .workingDirectory = options.folder})
{
}

void SetupRun::Record(const ui::Screen& screen)
{
    if (screen.dialog && (contents_.empty() || contents_.back() != screen.dialog->content) &&
        !screen.dialog->content.empty()) {
        contents_.push_back(screen.dialog->content);
    }
    boxOverlappedDialog_ |= screen.dialog.has_value() && screen.messageBox.has_value();
}

std::optional<ui::Screen> SetupRun::Watch(const std::function<bool(const ui::Screen&)>& until,
                                          std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const bool running = program_.Running();
        const ui::Screen screen = program_.Look();
        Record(screen);
        if (until(screen)) {
            return screen;
        }
        if (!running || std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

std::optional<ui::MessageBoxView> SetupRun::WaitForBox(std::chrono::milliseconds timeout)
{
    const auto screen = Watch([](const ui::Screen& s) { return s.messageBox.has_value(); }, timeout);
    return screen ? screen->messageBox : std::nullopt;
}

std::optional<ui::ProgressDialogView>
SetupRun::WaitForDialog(const std::function<bool(const ui::ProgressDialogView&)>& until,
                        std::chrono::milliseconds timeout)
{
    const auto screen = Watch([&](const ui::Screen& s) { return s.dialog && until(*s.dialog); }, timeout);
    return screen ? screen->dialog : std::nullopt;
}

std::optional<DWORD> SetupRun::WaitForExit(std::chrono::milliseconds timeout)
{
    Watch([](const ui::Screen&) { return false; }, timeout);
    return program_.WaitForExit(std::chrono::milliseconds(0));
}

bool SetupRun::Saw(const std::wstring& content) const
{
    return std::find(contents_.begin(), contents_.end(), content) != contents_.end();
}

std::map<std::string, std::wstring> SetupRun::InstallerReport() const
{
    return testing::ReadInstallerReport(report_);
}

std::map<std::string, std::wstring> SetupRun::LookalikeReport() const
{
    return testing::ReadInstallerReport(lookalikeReport_);
}

std::vector<std::filesystem::path> SetupRun::StagingDirectories() const
{
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(temp_)) {
        if (entry.path().filename().wstring().starts_with(L"LumivanceSetup-")) {
            found.push_back(entry.path());
        }
    }
    return found;
}

}  // namespace lumivance::e2e
