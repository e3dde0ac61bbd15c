// DLL planting over everything setup's process loads. Setup runs from a folder (also its current directory)
// that holds a fake of every DLL a complete successful run of setup loads, KnownDLLs aside, with Wine told
// to prefer a DLL found beside the program for every one of those names, as Windows does for any DLL that
// is not a KnownDLL. The names come from a loader trace of setup itself (trace-and-plant-dlls, this suite's
// fixture), never from a list here. Each fake exports every name and ordinal of the module it replaces and
// leaves "<name>.loaded" beside itself when loaded.
//
// Through a successful install, a failed attempt and its Retry, a Cancel, and a second copy's "already
// running" box (which comes before any attempt, and loads the common controls itself): no fake may be loaded, the
// outcomes must be the usual ones, and every module setup loads on these paths must be a KnownDLL or one of
// the planted names (from the same loader trace, WINEDEBUG=+pid,+loaddll): a DLL loaded only on a failure
// path would otherwise never be planted, and this suite could not see it.
#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/end_to_end_fixture.h"

namespace lumivance::e2e {
namespace {

using std::filesystem::path;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// Where the fixture left the fakes, the control and the lists.
path ClosureDirectory()
{
    return testing::ExecutableDirectory() / L"planted_dll_closure";
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::set<std::string> ReadNames(const path& file)
{
    std::set<std::string> names;
    std::ifstream input(file);
    for (std::string line; std::getline(input, line);) {
        if (!line.empty()) {
            names.insert(Lower(line));
        }
    }
    return names;
}

// A Downloads folder: a fresh copy of every fake.
class PlantedFolder {
public:
    PlantedFolder()
    {
        for (const auto& fake : std::filesystem::directory_iterator(ClosureDirectory() / L"fakes")) {
            std::filesystem::copy_file(fake.path(), scratch_.path() / fake.path().filename());
        }
    }
    const std::filesystem::path& path() const { return scratch_.path(); }
    // The fakes that have been loaded, by their markers.
    std::set<std::string> Loaded() const
    {
        std::set<std::string> loaded;
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
            const std::string name = Lower(testing::ToUtf8(entry.path().filename().wstring()));
            if (name.ends_with(".loaded")) {
                loaded.insert(name.substr(0, name.size() - 7));
            }
        }
        return loaded;
    }

private:
    testing::ScratchDirectory scratch_{L"lumivance-downloads"};
};

// Wine's loader trace of the processes this test starts, from the moment the object is made: tools/wine-run
// sends it, with everything the test prints, to the file named by LUMIVANCE_WINE_OUTPUT.
class LoaderTrace {
public:
    LoaderTrace() : file_(L"Z:" + testing::EnvironmentValue(L"LUMIVANCE_WINE_OUTPUT"))
    {
        std::ifstream input(file_, std::ios::binary | std::ios::ate);
        start_ = input.tellg();
    }

    // The modules (full Windows paths) the process loaded since then.
    std::vector<std::string> LoadedBy(DWORD processId) const
    {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%04lx:", static_cast<unsigned long>(processId));
        static const std::regex loaded(R"re(:trace:loaddll:\w+ Loaded L"(.*)" at )re");
        std::vector<std::string> paths;
        std::ifstream input(file_, std::ios::binary);
        input.seekg(start_);
        for (std::string line; std::getline(input, line);) {
            std::smatch match;
            if (line.starts_with(prefix) && std::regex_search(line, match, loaded)) {
                paths.push_back(std::regex_replace(match[1].str(), std::regex(R"(\\\\)"), "\\"));
            }
        }
        return paths;
    }

private:
    path file_;
    std::streamoff start_ = 0;
};

class PlantedDllClosure : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        planted_ = ReadNames(ClosureDirectory() / L"planted.txt");
        knownDlls_ = ReadNames(ClosureDirectory() / L"known_dlls.txt");
        ASSERT_FALSE(planted_.empty())
            << "nothing to plant in " << ClosureDirectory().string()
            << ": PlantedDllClosure.TraceASuccessfulRunAndFakeEveryDllItLoads, this suite's fixture, makes it";
        // Wine reads the overrides from the Unix environment only, so they come from tools/wine-run.
        std::string overrides;
        std::getline(std::ifstream(ClosureDirectory() / L"overrides"), overrides);
        ASSERT_NE(testing::ToUtf8(testing::EnvironmentValue(L"WINEDLLOVERRIDES")).find(overrides), std::string::npos)
            << "run this test with LUMIVANCE_WINEDLLOVERRIDES_FILE naming the fixture's overrides (tools/wine-run)";
        ASSERT_NE(testing::EnvironmentValue(L"WINEDEBUG").find(L"+loaddll"), std::wstring::npos)
            << "run this test with LUMIVANCE_WINEDEBUG=+pid,+loaddll (tools/wine-run)";
    }

    // Nothing planted was loaded, and everything setup loaded could have been planted or is a KnownDLL.
    void ExpectNoDllFromTheFolder(const PlantedFolder& folder, const LoaderTrace& trace, DWORD setupId) const
    {
        EXPECT_THAT(folder.Loaded(), IsEmpty()) << "setup loaded DLLs planted beside it";
        const std::vector<std::string> loaded = trace.LoadedBy(setupId);
        EXPECT_FALSE(loaded.empty()) << "no loader trace of setup's process";
        const std::string folderPath = Lower(testing::ToUtf8(folder.path().wstring()) + "\\");
        for (const std::string& module : loaded) {
            const std::string name = Lower(module.substr(module.find_last_of('\\') + 1));
            if (name.ends_with(".exe")) {
                continue;  // setup itself
            }
            EXPECT_FALSE(Lower(module).starts_with(folderPath)) << module << " came from setup's folder";
            EXPECT_TRUE(planted_.contains(name) || knownDlls_.contains(name))
                << module << " is loaded on this path but not by a successful run, so nothing planted a fake of it";
        }
    }

    std::set<std::string> planted_;
    std::set<std::string> knownDlls_;
};

// The positive control: were a fake not loaded by a program bound to it at load time, planting it beside
// setup would prove nothing.
TEST_F(PlantedDllClosure, EveryFakeIsLoadedByAProgramBoundToItAtLoadTime)
{
    const PlantedFolder folder;
    const path control = folder.path() / L"import_every_fake.exe";
    std::filesystem::copy_file(ClosureDirectory() / L"import_every_fake.exe", control);
    ui::Program program(control, {.workingDirectory = folder.path()});
    EXPECT_EQ(program.WaitForExit(), 0u);
    const std::set<std::string> loaded = folder.Loaded();
    for (const std::string& name : planted_) {
        EXPECT_TRUE(loaded.contains(name)) << name << " was not loaded: the rig cannot see it planted";
    }
}

TEST_F(PlantedDllClosure, ASuccessfulInstallLoadsNothingFromSetupsFolder)
{
    const PlantedFolder folder;
    const LoaderTrace trace;
    Serve("exact signed");
    SetupRun setup({.folder = folder.path()});
    EXPECT_EQ(setup.WaitForExit(), 0u);
    EXPECT_EQ(setup.program().Look().messageBoxCount, 0);
    EXPECT_FALSE(setup.InstallerReport().empty()) << "the installer never ran";
    ExpectNothingLeft(setup);
    ExpectNoDllFromTheFolder(folder, trace, setup.program().Id());
}

// The signature check fails, Retry runs a whole new attempt, whose download is refused; then Cancel.
TEST_F(PlantedDllClosure, FailedAttemptsAndRetryLoadNothingFromSetupsFolder)
{
    const PlantedFolder folder;
    const LoaderTrace trace;
    Serve("exact unsigned");
    SetupRun setup({.pinned = Pinned::Unsigned, .folder = folder.path()});
    const auto box = setup.WaitForBox();
    ASSERT_TRUE(box) << "no Retry/Cancel box after the first attempt";
    EXPECT_EQ(box->text, L"Windows could not verify Lumivance's signature. Check your internet connection and "
                         L"Windows updates, then try again.");
    Serve("notfound");
    ui::Answer(*box, IDRETRY);
    ASSERT_TRUE(setup.WaitForDialog([](const auto&) { return true; })) << "Retry started no new attempt";
    EXPECT_EQ(ExpectBoxThenCancel(setup, L"The installer is temporarily unavailable. Please try again shortly."), 1u);
    EXPECT_TRUE(setup.InstallerReport().empty());
    ExpectNothingLeft(setup);
    ExpectNoDllFromTheFolder(folder, trace, setup.program().Id());
}

TEST_F(PlantedDllClosure, CancelDuringTheDownloadLoadsNothingFromSetupsFolder)
{
    const PlantedFolder folder;
    const LoaderTrace trace;
    Serve("drip 20000000");
    SetupRun setup({.folder = folder.path()});
    const auto downloading =
        setup.WaitForDialog([](const auto& d) { return d.content == kDownloading && d.progress > 0; });
    ASSERT_TRUE(downloading) << "the download never showed progress";
    ui::PressCancel(*downloading);
    EXPECT_EQ(setup.WaitForExit(), 1223u);
    EXPECT_EQ(setup.program().Look().messageBoxCount, 0);
    ExpectNothingLeft(setup);
    ExpectNoDllFromTheFolder(folder, trace, setup.program().Id());
}

// The box of a second copy, started while the first holds the mutex, comes before any attempt: whatever
// it loads must have been bound from System32 already. Before the common controls were bound ahead of it,
// its theming loaded msimg32.dll from the folder.
TEST_F(PlantedDllClosure, ASecondCopysAlreadyRunningBoxLoadsNothingFromItsFolder)
{
    const PlantedFolder firstFolder;
    const PlantedFolder secondFolder;
    const LoaderTrace trace;
    Serve("drip 20000000");
    SetupRun first({.folder = firstFolder.path()});
    ASSERT_TRUE(first.WaitForDialog([](const auto& d) { return d.content == kDownloading; }));
    SetupRun second({.folder = secondFolder.path()});
    const auto box = second.WaitForBox();
    ASSERT_TRUE(box) << "the second copy showed no box";
    EXPECT_EQ(box->caption, L"Lumivance");
    EXPECT_EQ(box->text, L"Lumivance setup is already running.");
    ui::Answer(*box, IDOK);
    EXPECT_EQ(second.WaitForExit(), 1u);
    ExpectNoDllFromTheFolder(secondFolder, trace, second.program().Id());

    const auto downloading = first.WaitForDialog([](const auto& d) { return d.content == kDownloading; }, 2s);
    ASSERT_TRUE(downloading) << "the first setup was disturbed";
    ui::PressCancel(*downloading);
    EXPECT_EQ(first.WaitForExit(), 1223u);
    ExpectNoDllFromTheFolder(firstFolder, trace, first.program().Id());
}

}  // namespace
}  // namespace lumivance::e2e
