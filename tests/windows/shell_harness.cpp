#include "tests/windows/shell_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace lumivance::testing {

void RequireDisplay()
{
    ASSERT_FALSE(EnvironmentValue(L"DISPLAY").empty())
        << "this test needs an X display (Xvfb), and there is none: without one Wine shows no dialog at all";
    // Once per test process, before any window: every setup the tests start shows its windows here.
    static const ui::PrivateDesktop desktop;
}

std::filesystem::path FakeWorkerShellPath()
{
    return ExecutableDirectory() / L"setup_shell_fake_worker.exe";
}

std::vector<std::pair<std::wstring, std::wstring>> WorkerEnvironment(const std::wstring& script,
                                                                     const std::filesystem::path& directory)
{
    return {{L"LUMIVANCE_FAKE_WORKER", script}, {L"LUMIVANCE_FAKE_WORKER_DIR", directory.wstring()}};
}

ShellRun::ShellRun(const std::wstring& script, const std::filesystem::path& exe,
                   std::vector<std::pair<std::wstring, std::wstring>> environment)
    : scratch_(L"lumivance-shell"), program_(exe, [&] {
          auto all = WorkerEnvironment(script, scratch_.path());
          all.insert(all.end(), environment.begin(), environment.end());
          return ui::LaunchOptions{.environment = all};
      }())
{
}

void ShellRun::Release(const std::wstring& name) const
{
    std::ofstream(scratch_.path() / name).put('1');
}

std::vector<WorkerEvent> ShellRun::Events() const
{
    return ReadWorkerLog(scratch_.path());
}

std::vector<WorkerEvent> ShellRun::Events(const std::string& name) const
{
    std::vector<WorkerEvent> matching;
    for (WorkerEvent& event : Events()) {
        if (event.name == name) {
            matching.push_back(std::move(event));
        }
    }
    return matching;
}

std::vector<WorkerEvent> ReadWorkerLog(const std::filesystem::path& directory)
{
    std::vector<WorkerEvent> events;
    std::istringstream lines(ReadFileBytes(directory / L"worker.log"));
    for (std::string line; std::getline(lines, line);) {
        WorkerEvent event;
        std::istringstream words(line);
        words >> event.tick >> event.name;
        std::string rest;
        std::getline(words, rest);
        // key=value pairs separated by spaces; the error text, last, may contain spaces itself.
        std::size_t at = rest.find_first_not_of(' ');
        while (at != std::string::npos && at < rest.size()) {
            const std::size_t equals = rest.find('=', at);
            if (equals == std::string::npos) {
                break;
            }
            const std::string key = rest.substr(at, equals - at);
            const std::size_t end = key == "error" ? std::string::npos : rest.find(' ', equals);
            event.fields[key] = rest.substr(equals + 1, end == std::string::npos ? end : end - equals - 1);
            at = end == std::string::npos ? end : rest.find_first_not_of(' ', end);
        }
        events.push_back(std::move(event));
    }
    return events;
}

}  // namespace lumivance::testing
