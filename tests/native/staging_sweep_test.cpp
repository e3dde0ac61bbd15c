#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "worker/staging_sweep.h"

namespace lumivance {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

const SetupAccount kUser{L"S-1-5-21-1-2-3-1001", false};
const std::wstring kSystem = L"S-1-5-18";
const ListedEntry kFile{L"LumivanceSetup.exe", false, false};

// A temp folder of leftovers: each step the sweep takes is logged as "step name", and each open costs the
// time the test gives it.
struct FakeTemp final : SweepSystem {
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

    struct Look final : LeftoverDirectory {
        FakeTemp& temp;
        std::wstring name;
        Leftover& leftover;
        Look(FakeTemp& t, std::wstring n, Leftover& l) : temp(t), name(std::move(n)), leftover(l) {}
        void Log(const std::string& step) const { temp.log.push_back(step + " " + testing::PrintToString(name)); }
        bool IsPlainDirectory() const override { return leftover.plain; }
        std::optional<ObservedSecurity> Security() const override
        {
            Log("security");
            return leftover.security;
        }
        std::chrono::seconds Age() const override { return 3600s; }
        std::optional<std::vector<ListedEntry>> Entries() const override { return leftover.entries; }
        bool HoldForRemoval() override
        {
            Log("delete access");
            return !leftover.heldBySetup;
        }
        void RemoveHeld(const std::vector<ListedEntry>&) override { Log("remove"); }
    };

    std::optional<SetupAccount> Account() override { return kUser; }
    std::vector<std::wstring> CandidateNames(std::size_t limit) override
    {
        return {names.begin(), names.begin() + static_cast<std::ptrdiff_t>(std::min(limit, names.size()))};
    }
    std::unique_ptr<LeftoverDirectory> OpenToLook(const std::wstring& name) override
    {
        now += msPerOpen;
        return std::make_unique<Look>(*this, name, leftovers.at(name));
    }
    std::uint64_t TickMs() override { return now; }

    void Add(const std::wstring& name) { Add(name, Leftover()); }
    void Add(const std::wstring& name, Leftover leftover)
    {
        names.push_back(name);
        leftovers.emplace(name, std::move(leftover));
    }
};

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
        EXPECT_EQ(slow.log.back(), Logged("remove", 4)) << "the fifth would begin after the limit";
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

}  // namespace
}  // namespace lumivance
