#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "staging/staging_sweep.h"

namespace lumivance {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

const SetupAccount kUser{L"S-1-5-21-1-2-3-1001", false};
const std::wstring kSystem = L"S-1-5-18";
const ListedEntry kFile{L"LumivanceSetup.exe", false, false};

// A temp folder of leftovers: each step the sweep takes is logged as "step name", each open costs the time
// the test gives it, and each call of any kind (listing, opens, reads, deletes) may cost some more; a call
// that begins after the sweep's time limit is counted.
struct FakeTemp {
    struct Leftover {
        ObservedSecurity security{kUser.userSid, {kSystem, kUser.userSid}};
        std::vector<ListedEntry> entries{kFile};
        bool heldBySetup = false;
        bool plain = true;
    };
    std::map<std::wstring, Leftover> leftovers;
    std::vector<std::wstring> names;
    std::vector<std::string> log;
    std::uint64_t now = 0;
    std::uint64_t msPerOpen = 0;
    std::uint64_t msPerCall = 0;
    std::size_t listed = 0;
    int callsAfterTheLimit = 0;

    void Call()
    {
        callsAfterTheLimit += now > static_cast<std::uint64_t>(kSweepTimeLimit.count());
        now += msPerCall;
    }

    struct Look {
        FakeTemp& temp;
        std::wstring name;
        Leftover& leftover;
        Look(FakeTemp& t, std::wstring n, Leftover& l) : temp(t), name(std::move(n)), leftover(l) {}
        void Log(const std::string& step) const { temp.log.push_back(step + " " + testing::PrintToString(name)); }
        bool IsPlainDirectory() const
        {
            temp.Call();
            return leftover.plain;
        }
        std::optional<ObservedSecurity> Security() const
        {
            temp.Call();
            Log("security");
            return leftover.security;
        }
        std::optional<std::vector<ListedEntry>> Entries() const
        {
            temp.Call();
            return leftover.entries;
        }
        bool HoldForRemoval()
        {
            temp.Call();
            Log("delete access");
            return !leftover.heldBySetup;
        }
        void RemoveHeld(const std::vector<ListedEntry>&)
        {
            temp.Call();
            Log("remove");
        }
    };

    std::optional<SetupAccount> Account() { return kUser; }
    std::optional<std::wstring> NextCandidate()
    {
        Call();
        if (listed == names.size()) {
            return std::nullopt;
        }
        return names[listed++];
    }
    std::optional<Look> OpenToLook(const std::wstring& name)
    {
        Call();
        now += msPerOpen;
        return Look(*this, name, leftovers.at(name));
    }
    std::uint64_t TickMs() { return now; }

    void Add(const std::wstring& name) { Add(name, Leftover()); }
    void Add(const std::wstring& name, Leftover leftover)
    {
        names.push_back(name);
        leftovers.emplace(name, std::move(leftover));
    }
};

static_assert(SweepSystem<FakeTemp>);

std::wstring StagingName(int n)
{
    std::wstring digits = std::to_wstring(n);
    return L"LumivanceSetup-{00000000-0000-4000-8000-" + std::wstring(12 - digits.size(), L'0') + digits + L"}";
}

std::string Logged(const std::string& step, int n)
{
    return step + " " + testing::PrintToString(StagingName(n));
}

// Delete access alone disturbs a directory's owner, so whose it is is read first, through the look-only handle.
TEST(StagingSweep, AsksForDeleteAccessOnlyToDirectoriesSetupsAccountMade)
{
    FakeTemp temp;
    temp.Add(StagingName(1));
    temp.Add(StagingName(2), {.security = {L"S-1-5-21-1-2-3-1002", {kSystem, L"S-1-5-21-1-2-3-1002"}}});
    temp.Add(StagingName(3), {.heldBySetup = true});
    temp.Add(StagingName(4), {.entries = {kFile, {L"notes.txt", false, false}}});
    temp.Add(StagingName(5), {.plain = false});
    SweepAbandonedStagingDirectories(temp);
    EXPECT_THAT(temp.log, ElementsAre(Logged("security", 1), Logged("delete access", 1), Logged("remove", 1),
                                      Logged("security", 2), Logged("security", 3), Logged("delete access", 3),
                                      Logged("security", 4)));
}

// It runs before any window, so it stops on time and after a bounded number of names, leaving the rest for
// the next setup.
TEST(StagingSweep, StopsAtItsTimeLimitAndItsNameLimit)
{
    {
        FakeTemp slow;
        slow.msPerOpen = 400;  // each open as slow as a look-alike on a stalled share
        for (int n = 1; n <= 10; ++n) {
            slow.Add(StagingName(n));
        }
        SweepAbandonedStagingDirectories(slow);
        EXPECT_LE(slow.now, static_cast<std::uint64_t>(kSweepTimeLimit.count()) + slow.msPerOpen);
        EXPECT_EQ(slow.log.back(), Logged("remove", 3)) << "the fourth's open ends after the limit: nothing more";
    }
    {
        FakeTemp crowded;
        for (int n = 1; n <= 200; ++n) {
            crowded.Add(StagingName(n));
        }
        SweepAbandonedStagingDirectories(crowded);
        EXPECT_EQ(crowded.log.size(), 3 * kSweepNameLimit);
    }
    {
        FakeTemp lookAlikes;
        lookAlikes.Add(L"LumivanceSetup-{0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9}");
        lookAlikes.leftovers.clear();  // never opened: OpenToLook would throw on an unknown name
        SweepAbandonedStagingDirectories(lookAlikes);
        EXPECT_THAT(lookAlikes.log, IsEmpty());
    }
}

// Every call counts against the time limit, the listing's and the deletes' as much as the opens': none
// begins once the limit has passed, however slow each is.
TEST(StagingSweep, BeginsNoCallOfAnyKindAfterItsTimeLimit)
{
    const FakeTemp::Leftover foreign{.security = {L"S-1-5-21-1-2-3-1002", {kSystem, L"S-1-5-21-1-2-3-1002"}}};
    for (const std::uint64_t msPerCall : {3u, 7u, 90u, 400u, 2000u}) {
        SCOPED_TRACE(msPerCall);
        FakeTemp slow;
        slow.msPerCall = msPerCall;
        for (int n = 1; n <= 200; ++n) {
            slow.Add(StagingName(n), n % 2 == 0 ? foreign : FakeTemp::Leftover());
        }
        SweepAbandonedStagingDirectories(slow);
        EXPECT_EQ(slow.callsAfterTheLimit, 0);
        EXPECT_LE(slow.now, static_cast<std::uint64_t>(kSweepTimeLimit.count()) + msPerCall);
        EXPECT_LT(slow.listed, 200u) << "the sweep did not stop";
    }
}

// Somebody else can make any number of directories with setup's names, listed before the real leftovers:
// they cost the sweep time, never its name limit.
TEST(StagingSweep, NamesOfOtherAccountsOrOtherShapesDoNotUseUpTheNameLimit)
{
    FakeTemp temp;
    const FakeTemp::Leftover foreign{.security = {L"S-1-5-21-1-2-3-1002", {kSystem, L"S-1-5-21-1-2-3-1002"}}};
    for (int n = 1; n <= 2 * static_cast<int>(kSweepNameLimit); ++n) {
        temp.Add(StagingName(n), foreign);
        temp.names.push_back(L"LumivanceSetup-{look-alike-" + std::to_wstring(n) + L"}");
    }
    temp.Add(StagingName(1000));
    SweepAbandonedStagingDirectories(temp);
    ASSERT_FALSE(temp.log.empty());
    EXPECT_EQ(temp.log.back(), Logged("remove", 1000));
}

}  // namespace
}  // namespace lumivance
