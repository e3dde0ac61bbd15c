#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "worker/app_running.h"
#include "worker/name_comparison.h"

namespace lumivance {
namespace {

constexpr const wchar_t* kLocal = L"C:\\Users\\ann\\AppData\\Local";

TEST(ExpectedInstallDirectory, AppendsTheFolderByThePathRuleAndAlwaysEndsInABackslash)
{
    EXPECT_EQ(ExpectedInstallDirectory(kLocal), L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"C:\\Users\\ann\\AppData\\Local\\"),
              L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"C:/Users/ann/AppData/Local/"), L"C:/Users/ann/AppData/Local/Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"\\\\server\\profiles\\ann"), L"\\\\server\\profiles\\ann\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"C:"), L"C:Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"z:"), L"z:Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"C:\\"), L"C:\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L""), L"Lumivance\\");
    // Only a letter makes a drive; anything else of that shape is an ordinary folder name.
    EXPECT_EQ(ExpectedInstallDirectory(L"1:"), L"1:\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"\u00C4:"), L"\u00C4:\\Lumivance\\");
    EXPECT_EQ(ExpectedInstallDirectory(L"CD:"), L"CD:\\Lumivance\\");

    const std::wstring longProfile = L"D:\\" + std::wstring(300, L'p');
    EXPECT_EQ(ExpectedInstallDirectory(longProfile), longProfile + L"\\Lumivance\\");
}

TEST(NameComparison, FoldsOnlyTheAsciiCapitals)
{
    EXPECT_TRUE(EqualFoldingAsciiCase(L"LUMIVANCE.EXE", L"Lumivance.exe"));
    EXPECT_TRUE(EqualFoldingAsciiCase(L"lumivance.exe", L"LuMiVaNcE.ExE"));
    EXPECT_TRUE(EqualFoldingAsciiCase(L"", L""));
    // The neighbours of A-Z and a-z in ASCII are not letters.
    EXPECT_FALSE(EqualFoldingAsciiCase(L"@", L"`"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"[", L"{"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"{", L"["));
    // No Unicode or locale folding: accented capitals, the Turkish dotted I and the Kelvin sign stay apart.
    EXPECT_FALSE(EqualFoldingAsciiCase(L"\u00C9lodie", L"\u00E9lodie"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"LUM\u0130VANCE.EXE", L"lumivance.exe"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"\u212A", L"k"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"a\\b", L"a/b"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"Lumivance.exe", L"Lumivance.ex"));
    EXPECT_FALSE(EqualFoldingAsciiCase(L"Lumivance.ex", L"Lumivance.exe"));
    EXPECT_FALSE(EqualFoldingAsciiCase(std::wstring_view(L"Lumivance.exe\0x", 15), L"Lumivance.exe"));

    EXPECT_TRUE(StartsWithFoldingAsciiCase(L"C:\\LUMIVANCE\\Lumivance.exe", L"c:\\lumivance\\"));
    EXPECT_TRUE(StartsWithFoldingAsciiCase(L"C:\\Lumivance\\", L"C:\\Lumivance\\"));
    EXPECT_FALSE(StartsWithFoldingAsciiCase(L"C:\\Lumivance", L"C:\\Lumivance\\"));
    EXPECT_FALSE(StartsWithFoldingAsciiCase(L"", L"C:\\"));
}

// A process list on demand: each process has a name and, unless it cannot be opened or queried, an image.
struct FakeProcess {
    std::wstring exeFileName;
    std::optional<std::wstring> image;
};

struct WalkLog {
    int snapshotsTaken = 0;
    int snapshotsReleased = 0;
    std::size_t entriesListed = 0;
    std::vector<std::uint32_t> imagesAsked;
};

constexpr std::uint32_t kFirstProcessId = 100;

struct FakeSystem {
    std::vector<FakeProcess> processes;
    bool snapshotFails = false;
    WalkLog log;
    std::wstring localAppData;

    // The walk's position, counted as released when the check lets go of it.
    class Snapshot {
    public:
        explicit Snapshot(FakeSystem& system) : system_(&system) {}
        Snapshot(Snapshot&& other) noexcept : system_(std::exchange(other.system_, nullptr)), next_(other.next_) {}
        Snapshot& operator=(Snapshot&&) = delete;
        ~Snapshot()
        {
            if (system_ != nullptr) {
                ++system_->log.snapshotsReleased;
            }
        }
        std::optional<ProcessEntry> Next()
        {
            if (next_ == system_->processes.size()) {
                return std::nullopt;
            }
            ++system_->log.entriesListed;
            const std::size_t index = next_++;
            return ProcessEntry{system_->processes[index].exeFileName,
                                kFirstProcessId + static_cast<std::uint32_t>(index)};
        }

    private:
        FakeSystem* system_;
        std::size_t next_ = 0;
    };

    std::wstring LocalAppData() { return localAppData; }
    std::optional<Snapshot> TakeSnapshot()
    {
        ++log.snapshotsTaken;
        if (snapshotFails) {
            return std::nullopt;
        }
        return Snapshot(*this);
    }
    std::optional<std::wstring> ImagePath(std::uint32_t processId)
    {
        log.imagesAsked.push_back(processId);
        return processes.at(processId - kFirstProcessId).image;
    }

    bool Check(std::wstring_view value)
    {
        localAppData = value;
        return IsAppRunningWith(*this);
    }
};

const FakeProcess kExplorer{L"explorer.exe", L"C:\\windows\\explorer.exe"};
const FakeProcess kHelperInInstallFolder{L"LumivanceHelper.exe",
                                         L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\LumivanceHelper.exe"};

bool RunningFrom(const std::wstring& image, std::wstring_view localAppData = kLocal,
                 const std::wstring& exeFileName = L"Lumivance.exe")
{
    FakeSystem system{{kExplorer, {exeFileName, image}}};
    return system.Check(localAppData);
}

TEST(IsAppRunning, CountsTheAppAnywhereBelowTheInstallFolderInAnyAsciiCase)
{
    EXPECT_TRUE(RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\Lumivance.exe"));
    EXPECT_TRUE(RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\app-0.3.19\\bin\\Lumivance.exe"));
    EXPECT_TRUE(RunningFrom(L"C:\\USERS\\ANN\\APPDATA\\LOCAL\\LUMIVANCE\\LUMIVANCE.EXE", kLocal, L"LUMIVANCE.EXE"));
    EXPECT_TRUE(
        RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\Lumivance.exe", L"C:\\Users\\ann\\AppData\\Local\\"))
        << "a trailing backslash must not double the separator";
    EXPECT_TRUE(RunningFrom(L"C:\\Users\\\u00C9lodie\\AppData\\Local\\Lumivance\\Lumivance.exe",
                            L"C:\\Users\\\u00C9lodie\\AppData\\Local"));
}

TEST(IsAppRunning, IgnoresTheAppEverywhereElse)
{
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\LumivanceBeta\\Lumivance.exe"));
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance.exe"));
    EXPECT_FALSE(RunningFrom(L"C:\\Program Files\\Lumivance\\Lumivance.exe"));
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\ann\\Downloads\\Lumivance.exe"));
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\bob\\AppData\\Local\\Lumivance\\Lumivance.exe"))
        << "another user's installation is theirs";
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance"));
    // Literal apart from ASCII case: no slash equivalence, no short names, no Unicode case folding.
    EXPECT_FALSE(
        RunningFrom(L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\Lumivance.exe", L"C:/Users/ann/AppData/Local"));
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\annsmith\\AppData\\Local\\Lumivance\\Lumivance.exe",
                             L"C:\\Users\\ANNSMI~1\\AppData\\Local"));
    EXPECT_FALSE(RunningFrom(L"C:\\Users\\\u00E9lodie\\AppData\\Local\\Lumivance\\Lumivance.exe",
                             L"C:\\Users\\\u00C9lodie\\AppData\\Local"));
}

TEST(IsAppRunning, OpensOnlyProcessesWithTheAppsNameAndSkipsThoseItCannotQuery)
{
    FakeSystem system{{kExplorer,
                       kHelperInInstallFolder,
                       {L"Lumivance.exe", std::nullopt},  // protected, or gone since the snapshot
                       {L"lumivance.exe", L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\Lumivance.exe"}}};
    EXPECT_TRUE(system.Check(kLocal));
    EXPECT_EQ(system.log.imagesAsked, (std::vector<std::uint32_t>{kFirstProcessId + 2, kFirstProcessId + 3}));

    FakeSystem others{{kExplorer, kHelperInInstallFolder}};
    EXPECT_FALSE(others.Check(kLocal));
    EXPECT_TRUE(others.log.imagesAsked.empty());
    EXPECT_EQ(others.log.entriesListed, 2u);
}

TEST(IsAppRunning, StopsAtTheFirstMatchAndReleasesTheSnapshotOnEveryPath)
{
    const FakeProcess app{L"Lumivance.exe", L"C:\\Users\\ann\\AppData\\Local\\Lumivance\\Lumivance.exe"};
    FakeSystem system{{app, app, kExplorer}};
    EXPECT_TRUE(system.Check(kLocal));
    EXPECT_EQ(system.log.entriesListed, 1u);
    EXPECT_EQ(system.log.imagesAsked.size(), 1u);
    EXPECT_EQ(system.log.snapshotsReleased, 1);

    FakeSystem empty;
    EXPECT_FALSE(empty.Check(kLocal));
    EXPECT_EQ(empty.log.snapshotsTaken, 1);
    EXPECT_EQ(empty.log.snapshotsReleased, 1);
}

TEST(IsAppRunning, WithoutLocalAppDataAnswersFalseWithoutTakingASnapshot)
{
    FakeSystem system{{{L"Lumivance.exe", L"Lumivance\\Lumivance.exe"}}};
    EXPECT_FALSE(system.Check(L""));
    EXPECT_EQ(system.log.snapshotsTaken, 0);
}

TEST(IsAppRunning, AFailedSnapshotBecomesTheUsersSentence)
{
    FakeSystem system;
    system.snapshotFails = true;
    try {
        system.Check(kLocal);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Could not check whether Lumivance is running. Please try again.");
    }
}

}  // namespace
}  // namespace lumivance
