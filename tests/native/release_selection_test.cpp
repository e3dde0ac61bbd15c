#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "worker/release_selection.h"
#include "worker/release_table.h"

namespace lumivance {
namespace {

constexpr std::uint16_t kX86 = 0;                // PROCESSOR_ARCHITECTURE_INTEL
constexpr std::uint16_t kArm = 5;                // PROCESSOR_ARCHITECTURE_ARM
constexpr std::uint16_t kIa64 = 6;               // PROCESSOR_ARCHITECTURE_IA64
constexpr std::uint16_t kUnknown = 0xFFFF;       // PROCESSOR_ARCHITECTURE_UNKNOWN
constexpr std::uint16_t kMachineI386 = 0x014C;   // IMAGE_FILE_MACHINE_I386
constexpr std::uint16_t kMachineArmNt = 0x01C4;  // IMAGE_FILE_MACHINE_ARMNT
constexpr std::uint16_t kMachineUnknown = 0;     // what a failed or odd call leaves behind

const std::uint16_t kEveryArchitecture[] = {12, 9, kX86, kArm, kIa64, kUnknown};
const std::uint16_t kIndecisiveMachines[] = {kMachineUnknown, kMachineI386, kMachineArmNt, 0x0200, 0xFFFF};

const char* RowName(const ReleaseAsset& row)
{
    return &row == &kX64Release ? "x64" : &row == &kArm64Release ? "arm64" : "a copy, not a table row";
}

std::string Choose(ArchitectureObservations observed)
{
    try {
        return RowName(ChooseRelease(observed));
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

constexpr const char* kRefusal = "Lumivance requires 64-bit Windows on an Intel, AMD, or ARM processor.";

TEST(ChooseRelease, ADecisiveNativeMachineWinsOverWhateverTheSystemInfoSays)
{
    for (const std::uint16_t architecture : kEveryArchitecture) {
        SCOPED_TRACE(architecture);
        EXPECT_EQ(Choose({architecture, 0xAA64}), "arm64");
        EXPECT_EQ(Choose({architecture, 0x8664}), "x64");
    }
}

TEST(ChooseRelease, FallsBackToTheProcessorArchitectureWhenTheNativeMachineIsMissingOrIndecisive)
{
    EXPECT_EQ(Choose({12, std::nullopt}), "arm64");
    EXPECT_EQ(Choose({9, std::nullopt}), "x64");
    for (const std::uint16_t machine : kIndecisiveMachines) {
        SCOPED_TRACE(machine);
        EXPECT_EQ(Choose({12, machine}), "arm64");
        EXPECT_EQ(Choose({9, machine}), "x64");
    }
}

TEST(ChooseRelease, RefusesEveryOtherMachineWithTheUsersSentence)
{
    // 10 and 13: the IA32 and ARM32 "on Win64" values, which a native query never reports for a 64-bit OS.
    for (const std::uint16_t architecture : {kX86, kArm, kIa64, kUnknown, std::uint16_t{10}, std::uint16_t{13}}) {
        SCOPED_TRACE(architecture);
        EXPECT_EQ(Choose({architecture, std::nullopt}), kRefusal);
        for (const std::uint16_t machine : kIndecisiveMachines) {
            EXPECT_EQ(Choose({architecture, machine}), kRefusal);
        }
    }
}

}  // namespace
}  // namespace lumivance
