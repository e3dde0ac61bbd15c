#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue.h"
#include "staging/launch_path.h"
#include "staging/staging_names.h"
#include "staging/staging_policy.h"

namespace lumivance {
namespace {

using namespace std::chrono_literals;

TEST(StagingDirectory, OnlySetupsOwnNamesAreTakenForStagingDirectories)
{
    EXPECT_TRUE(IsStagingDirectoryName(L"LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}"));
    EXPECT_TRUE(IsStagingDirectoryName(L"LumivanceSetup-{00000000-0000-0000-0000-000000000000}"));
    const wchar_t* const lookAlikes[] = {
        L"LumivanceSetup-{0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9}",   // StringFromGUID2 writes capitals
        L"lumivancesetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}",   // another program's spelling
        L"LumivanceSetup-0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9",     // no braces
        L"LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}x",  // one more character
        L"LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F}",    // one digit short
        L"LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8FG}",   // not a hex digit
        L"LumivanceSetup-{0A1B2C3D4-E5F-4061-8293-A4B5C6D7E8F9}",   // a dash out of place
        L"LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}.old", L"LumivanceSetup-", L"LumivanceSetup.exe", L"",
    };
    for (const wchar_t* name : lookAlikes) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        EXPECT_FALSE(IsStagingDirectoryName(name));
    }
}

TEST(StagingDirectory, AnAbandonedDirectoryGoesOnlyWithNothingButSetupsFileInIt)
{
    const ListedEntry file{L"LumivanceSetup.exe", false, false};
    EXPECT_TRUE(MayRemoveAbandoned({file}));
    // Killed before the download began, or left by an app the installer started: however young, nobody holds it.
    EXPECT_TRUE(MayRemoveAbandoned({}));

    const std::vector<std::vector<ListedEntry>> foreign{
        {file, {L"notes.txt", false, false}},    {{L"notes.txt", false, false}},
        {{L"lumivancesetup.exe", false, false}}, {{L"LumivanceSetup.exe", true, false}},  // a folder of that name
        {{L"LumivanceSetup.exe", false, true}},                                           // a link to somewhere else
        {file, {L"sub", true, false}},
    };
    for (const std::vector<ListedEntry>& entries : foreign) {
        SCOPED_TRACE(testing::PrintToString(entries.size()) + " entries, the first " +
                     testing::PrintToString(entries.front().name));
        EXPECT_FALSE(MayRemoveAbandoned(entries));
    }
}

const SetupAccount kUser{L"S-1-5-21-1-2-3-1001", false};
const SetupAccount kElevatedUser{L"S-1-5-21-1-2-3-1001", true};
const SetupAccount kSystem{L"S-1-5-18", true};

TEST(StagingDirectory, IsCreatedWithAProtectedDaclForSetupsAccountOnly)
{
    // Elevated or SYSTEM: the user's unelevated processes, and every other user, get nothing.
    EXPECT_EQ(StagingDirectorySecurity(kElevatedUser),
              L"O:S-1-5-32-544D:P(A;OICI;FA;;;S-1-5-18)(A;OICI;FA;;;S-1-5-32-544)");
    EXPECT_EQ(StagingDirectorySecurity(kSystem), L"O:S-1-5-32-544D:P(A;OICI;FA;;;S-1-5-18)(A;OICI;FA;;;S-1-5-32-544)");
    EXPECT_EQ(StagingDirectorySecurity(kUser),
              L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;S-1-5-18)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)");
}

TEST(StagingDirectory, OnlyADirectoryOfSetupsAccountWithNoOtherRightsIsSetupsOwn)
{
    const std::wstring user = kUser.userSid, other = L"S-1-5-21-1-2-3-1002";
    const std::wstring system = L"S-1-5-18", administrators = L"S-1-5-32-544", everyone = L"S-1-1-0";
    struct Row {
        const char* what;
        ObservedSecurity security;
        SetupAccount account;
        bool own;
    };
    const Row rows[] = {
        {"as the user made it", {user, {system, user}}, kUser, true},
        {"as an elevated setup made it", {administrators, {system, administrators}}, kElevatedUser, true},
        {"as SYSTEM made it", {administrators, {system, administrators}}, kSystem, true},
        // Wine reports every file as the user's, with the DACL turned into mode bits and back.
        {"as Wine reports an elevated setup's", {user, {system, user}}, kElevatedUser, true},
        {"made by another user", {other, {system, other}}, kUser, false},
        {"made by another user, seen by SYSTEM", {other, {system, administrators}}, kSystem, false},
        {"made by an elevated setup, seen unelevated", {administrators, {system, administrators}}, kUser, false},
        {"setup's owner, but others let in", {user, {system, user, everyone}}, kUser, false},
        {"setup's owner, but another user let in", {administrators, {system, administrators, other}}, kSystem, false},
        {"setup's owner, an entry of another kind", {user, {system, user}, false}, kUser, false},
        {"no user known", {user, {system, user}}, {L"", false}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(IsSetupsOwnDirectory(row.security, row.account), row.own);
    }
}

// A directory setup has just made, read back through its own handle: as made, on a volume that keeps no
// permissions (its flags say so, or, under Wine, every entry reads back open to everyone), or not as made.
TEST(StagingDirectory, ADriveWithoutPermissionsIsRefusedOnlyWhenElevated)
{
    const std::wstring user = kUser.userSid, system = L"S-1-5-18", everyone = L"S-1-1-0";
    const std::wstring administrators = L"S-1-5-32-544";
    const ObservedSecurity asMade{user, {system, user}};
    const ObservedSecurity openToEveryone{user, {user, everyone}};
    const ObservedSecurity notAsMade{L"S-1-5-21-1-2-3-1002", {system, user}};
    const std::string noPermissions = kTempWithoutPermissions;
    struct Row {
        const char* what;
        ObservedSecurity observed;
        SetupAccount account;
        std::optional<bool> volumeKeepsPermissions;
        std::string refusal;  // empty: setup works there
    };
    const Row rows[] = {
        {"NTFS, as made", asMade, kUser, true, ""},
        {"NTFS, as made, elevated", {administrators, {system, administrators}}, kElevatedUser, true, ""},
        {"volume cannot say, as made", asMade, kElevatedUser, std::nullopt, ""},
        {"FAT32, unelevated", openToEveryone, kUser, false, ""},
        {"FAT32, elevated", openToEveryone, kElevatedUser, false, noPermissions},
        {"FAT32, as SYSTEM", openToEveryone, kSystem, false, noPermissions},
        {"flags say no permissions, whatever reads back", asMade, kElevatedUser, false, noPermissions},
        {"Wine's view of such a drive, unelevated", openToEveryone, kUser, true, ""},
        {"Wine's view of such a drive, elevated", openToEveryone, kElevatedUser, true, noPermissions},
        {"another owner", notAsMade, kUser, true, "Could not prepare installation."},
        {"another owner, elevated", notAsMade, kElevatedUser, true, "Could not prepare installation."},
        {"open to everyone and an entry of another kind",
         {user, {user, everyone}, false},
         kUser,
         true,
         "Could not prepare installation."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const char* refusal = StagingRefusal(row.observed, row.account, row.volumeKeepsPermissions);
        EXPECT_EQ(refusal == nullptr ? std::string() : std::string(refusal), row.refusal);
    }
    EXPECT_EQ(noPermissions,
              "Your TEMP folder is on a drive that cannot protect the installer. Set TEMP to a folder on an NTFS "
              "drive, then start Lumivance Setup again.");
}

// The installer is started by the path read from its handle; some installers cannot handle "\\?\".
TEST(StagingDirectory, FinalPathsBecomePlainPathsOrNothing)
{
    const std::pair<std::wstring, std::optional<std::wstring>> rows[] = {
        {L"\\\\?\\C:\\Temp\\x.exe", L"C:\\Temp\\x.exe"},
        {L"\\\\?\\z:\\x", L"z:\\x"},
        {L"\\\\?\\UNC\\server\\share\\x.exe", L"\\\\server\\share\\x.exe"},
        {L"\\\\?\\Volume{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}\\x", std::nullopt},
        {L"C:\\Temp\\x.exe", std::nullopt},  // not what the handle query gives: nothing to guess
        {L"\\\\?\\UNC\\", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& [finalPath, plain] : rows) {
        SCOPED_TRACE(testing::PrintToString(finalPath));
        EXPECT_EQ(PlainPath(finalPath), plain);
    }
}

// Win32 normalisation drops a dot or a space that ends a name, so "x." beside "x" would start the wrong one;
// on a network share, the server decides what the path and the locks mean, which only an elevated setup
// refuses. Whether a path really opens what setup holds is proved with the handles on top (Windows tests).
TEST(StagingDirectory, PlainPathsWindowsWouldRewriteOrANetworkDriveWhenElevatedAreRefused)
{
    const std::string rewritten = kTempPathNotStartable, network = kTempOnNetworkDrive;
    const std::wstring name = L"\\LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    struct Row {
        std::wstring temp;
        bool elevated;
        bool remoteVolume;
        std::string refusal;  // empty: may be started from
    };
    const Row rows[] = {
        {L"C:\\Users\\u\\AppData\\Local\\Temp", true, false, ""},
        {L"C:\\Users\\u\\x.y", true, false, ""},
        {L"C:\\Users\\u\\.x", true, false, ""},
        {L"C:\\Users\\J\u00FCrgen \u65E5\\Temp", true, false, ""},
        {L"C:\\Users\\u\\x.", false, false, rewritten},
        {L"C:\\Users\\u\\x.", true, false, rewritten},
        {L"C:\\Users\\u\\x..", true, false, rewritten},
        {L"C:\\Users\\u.\\Temp", true, false, rewritten},
        {L"C:\\Users\\u\\x ", true, false, rewritten},
        {L"C:\\Users\\u\\x. .", true, false, rewritten},
        {L"C:\\Users\\u\\.", true, false, rewritten},
        {L"C:\\Users\\u\\..\\v", true, false, rewritten},
        {L"C:\\Users\\\\u", true, false, rewritten},
        {L"\\\\server\\share\\Temp", false, false, ""},
        {L"\\\\server\\share\\Temp", true, false, network},
        {L"\\\\server\\share\\Temp.", false, false, rewritten},
        {L"Z:\\Temp", false, true, ""},  // a mapped drive letter
        {L"Z:\\Temp", true, true, network},
        {L"Z:\\Temp.", true, true, network},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.temp) + (row.elevated ? " elevated" : "") +
                     (row.remoteVolume ? " remote" : ""));
        const InstallerPaths paths{row.temp + name + L"\\LumivanceSetup.exe", row.temp + name};
        const char* refusal = LaunchPathRefusal(paths, row.elevated, row.remoteVolume);
        EXPECT_EQ(refusal == nullptr ? std::string() : std::string(refusal), row.refusal);
    }
    EXPECT_FALSE(WindowsTakesAsWritten(L"C:\\Temp\\LumivanceSetup.exe."));
    EXPECT_FALSE(WindowsTakesAsWritten(L"Temp\\LumivanceSetup.exe")) << "not a path the handle query gives";
    EXPECT_EQ(rewritten,
              "Your TEMP folder's path cannot be used to start the installer. Set TEMP to a folder whose names do not "
              "end in a dot or a space, then start Lumivance Setup again.");
    EXPECT_EQ(network,
              "Your TEMP folder is on a network drive that cannot protect the installer. Set TEMP to a folder on a "
              "local drive, then start Lumivance Setup again.");
}

}  // namespace
}  // namespace lumivance
