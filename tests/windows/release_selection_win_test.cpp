// Release selection on the real system: setup is a 32-bit program, and this test too, so both run under
// Wine's WOW64 on an x64 machine, where the emulated view (GetSystemInfo: x86) differs from the native one
// (GetNativeSystemInfo: x64; IsWow64Process2: process 0x14c, native 0x8664). The run shows what the real
// calls report there and that they reach the x64 row; a 32-bit Windows is tests/e2e/windows_32bit_test.cpp,
// and the rest of the decision table is covered natively.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "base/loaded_function_win.h"
#include "worker/release_selection.h"
#include "worker/release_table.h"

namespace lumivance {
namespace {

TEST(SelectReleaseAsset, ChoosesTheX64RowUnderWow64OnAnX64System)
{
    static_assert(sizeof(void*) == 4, "this test shows what a 32-bit setup sees");
    SYSTEM_INFO emulated{};
    GetSystemInfo(&emulated);
    EXPECT_EQ(emulated.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL) << "not the WOW64 view";
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    ASSERT_EQ(system.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64) << "these tests expect an x86-64 host";
    using Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 = LoadedFunction<Function>(L"kernel32.dll", "IsWow64Process2");
    ASSERT_NE(isWow64Process2, nullptr);
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    ASSERT_TRUE(isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine));
    EXPECT_EQ(processMachine, IMAGE_FILE_MACHINE_I386) << "not running under WOW64";
    ASSERT_EQ(nativeMachine, IMAGE_FILE_MACHINE_AMD64);

    EXPECT_EQ(&SelectReleaseAsset(), &kX64Release);
    EXPECT_EQ(&SelectReleaseAsset(), &kX64Release) << "every attempt decides afresh";
}

// The functions this executable imports by name, as "module!function".
std::vector<std::string> ImportedFunctions()
{
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.VirtualAddress != 0 && module->Name != 0; ++module) {
        const std::string moduleName = reinterpret_cast<const char*>(base + module->Name);
        const DWORD lookup = module->OriginalFirstThunk != 0 ? module->OriginalFirstThunk : module->FirstThunk;
        for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup); thunk->u1.AddressOfData != 0;
             ++thunk) {
            if (!IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) {
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
                names.push_back(moduleName + "!" + reinterpret_cast<const char*>(byName->Name));
            }
        }
    }
    return names;
}

// Importing IsWow64Process2 would keep setup from loading at all on Windows versions that lack it.
TEST(SelectReleaseAsset, LooksUpIsWow64Process2AtRunTimeInsteadOfImportingIt)
{
    bool importsSystemInfo = false;
    for (const std::string& name : ImportedFunctions()) {
        EXPECT_EQ(name.find("IsWow64Process2"), std::string::npos) << name;
        importsSystemInfo = importsSystemInfo || name.ends_with("!GetNativeSystemInfo");
    }
    EXPECT_TRUE(importsSystemInfo) << "the import table was not read";
}

}  // namespace
}  // namespace lumivance
