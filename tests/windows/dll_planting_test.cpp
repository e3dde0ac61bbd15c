// DLL planting: setup is run from a folder that also holds a planted winhttp.dll and version.dll, with Wine
// told to prefer DLLs found beside the program (WINEDLLOVERRIDES=winhttp,version=n,b), which is what
// Windows does for any DLL that is not a KnownDLL. Setup binds only KERNEL32 and msvcrt at load time and loads
// everything else after wWinMain has restricted the search to System32, so the planted DLLs must never be loaded.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/windows/shell_harness.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::ShellRun;

const wchar_t* const kPlanted[] = {L"winhttp.dll", L"version.dll"};

// A folder with the given program and the planted DLLs beside it, like a Downloads folder.
class PlantedFolder {
public:
    explicit PlantedFolder(const path& program) : program_(scratch_.path() / program.filename())
    {
        std::filesystem::copy_file(program, program_);
        for (const wchar_t* dll : kPlanted) {
            std::filesystem::copy_file(testing::ExecutableDirectory() / L"planted" / dll, scratch_.path() / dll);
        }
    }
    const path& program() const { return program_; }
    bool Loaded(const wchar_t* dll) const
    {
        return std::filesystem::exists(scratch_.path() / (std::wstring(dll) + L".loaded"));
    }

private:
    testing::ScratchDirectory scratch_{L"lumivance-downloads"};
    path program_;
};

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::RequireDisplay();
        // Wine takes the override from the environment the test process was started with (a program
        // started from here inherits it; setting it here would not reach the program's loader).
        ASSERT_NE(testing::EnvironmentValue(L"WINEDLLOVERRIDES").find(L"winhttp,version=n,b"), std::wstring::npos)
            << "run this test with WINEDLLOVERRIDES=winhttp,version=n,b";
    }
};

TEST_F(DllPlanting, AProgramBindingTheDllsAtLoadTimeLoadsThePlantedOnes)
{
    const PlantedFolder folder(testing::ExecutableDirectory() / L"planting_control.exe");
    ui::Program control(folder.program());
    EXPECT_EQ(control.WaitForExit(), 0u);
    for (const wchar_t* dll : kPlanted) {
        EXPECT_TRUE(folder.Loaded(dll)) << testing::ToUtf8(dll) << " was not loaded: the rig cannot see planting";
    }
}

TEST_F(DllPlanting, TheShellLoadsItsDllsFromSystem32Only)
{
    const PlantedFolder folder(testing::FakeWorkerShellPath());
    ShellRun run(L"load-dlls,exit=0", folder.program());
    EXPECT_EQ(run.program().WaitForExit(), 0u);

    const auto loaded = run.Events("loaded");
    ASSERT_EQ(loaded.size(), 1u) << "the worker never reached the DLLs";
    for (const char* dll : {"winhttp", "version"}) {
        std::string where = loaded[0].fields.at(dll);
        for (char& c : where) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_NE(where.find("\\windows\\system32\\"), std::string::npos) << dll << " came from " << where;
    }
    for (const wchar_t* dll : kPlanted) {
        EXPECT_FALSE(folder.Loaded(dll)) << "the planted " << testing::ToUtf8(dll) << " was loaded";
    }
}

TEST_F(DllPlanting, SetupLoadsNothingPlantedBesideIt)
{
    // The real program, run until its first attempt fails (nothing serves the download here) and the user
    // chooses Cancel: by then it has used WinHTTP and every other DLL of an attempt.
    const PlantedFolder folder(testing::ExecutableDirectory().parent_path().parent_path() / L"LumivanceWebSetup.exe");
    ui::Program setup(folder.program());
    ui::Screen last;
    const auto box = ui::WaitFor(
        [&] {
            last = setup.Look();
            return last.messageBox;
        },
        std::chrono::seconds(60));
    ASSERT_TRUE(box) << "setup never reported its failed attempt; the screen:\n" << ui::Narrow(last.Describe());
    EXPECT_EQ(box->caption, L"Lumivance Setup");
    ui::Answer(*box, IDCANCEL);
    EXPECT_EQ(setup.WaitForExit(), 1u);
    for (const wchar_t* dll : kPlanted) {
        EXPECT_FALSE(folder.Loaded(dll)) << "the planted " << testing::ToUtf8(dll) << " was loaded";
    }
}

}  // namespace
}  // namespace lumivance
