// Setup's resources read back from the built executables: the manifest (through Windows' own manifest
// parser), the version block and the icon group. Wine runs a program whose manifest is missing or wrong
// without complaint, so only reading the resource itself shows that it is there and right.
#include <gtest/gtest.h>

#include <windows.h>
#include <winver.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/windows/test_support.h"

namespace lumivance {
namespace {

using std::filesystem::path;

// The shipped exe and the shell's test build share their resources; both are checked.
std::vector<path> SetupExecutables()
{
    const path build = testing::ExecutableDirectory().parent_path().parent_path();
    return {build / L"LumivanceWebSetup.exe", testing::ExecutableDirectory() / L"setup_shell_fake_worker.exe"};
}

class ResourceImage {
public:
    explicit ResourceImage(const path& exe)
        : module_(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~ResourceImage()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ResourceImage(const ResourceImage&) = delete;
    ResourceImage& operator=(const ResourceImage&) = delete;

    explicit operator bool() const { return module_ != nullptr; }

    // The bytes of one resource (empty when it does not exist).
    std::string Bytes(LPCWSTR type, LPCWSTR name) const
    {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) {
            return {};
        }
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    std::vector<std::wstring> Names(LPCWSTR type) const
    {
        std::vector<std::wstring> names;
        EnumResourceNamesW(module_, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
        return names;
    }

private:
    // A callback of Windows' own calling convention, which on x86 no lambda converts to.
    static BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out)
    {
        reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(
            IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name);
        return TRUE;
    }

    HMODULE module_;
};

struct ActivationContext {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit ActivationContext(const path& exe)
    {
        const std::wstring source = exe.wstring();
        ACTCTXW context{};
        context.cbSize = sizeof(context);
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = source.c_str();
        context.lpResourceName = MAKEINTRESOURCEW(1);
        handle = CreateActCtxW(&context);
    }
    ~ActivationContext()
    {
        if (handle != INVALID_HANDLE_VALUE) {
            ReleaseActCtx(handle);
        }
    }
    std::wstring Setting(const wchar_t* ns, const wchar_t* name) const
    {
        wchar_t value[256] = {};
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, handle, ns, name, value, std::size(value), &written)) {
            return L"(none)";
        }
        return value;
    }
};

TEST(SetupResources, ManifestAsksForTheInvokersRightsAndTheVersion6CommonControls)
{
    for (const path& exe : SetupExecutables()) {
        SCOPED_TRACE(exe.string());
        const ResourceImage image(exe);
        ASSERT_TRUE(image) << "cannot open the exe";
        // Exactly one manifest, for the process (ID 1): no second one from the toolchain.
        EXPECT_EQ(image.Names(RT_MANIFEST), std::vector<std::wstring>{L"#1"});

        const ActivationContext context(exe);
        ASSERT_NE(context.handle, INVALID_HANDLE_VALUE)
            << "Windows' parser rejects the manifest, error " << GetLastError();
        ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
        SIZE_T needed = 0;
        ASSERT_TRUE(QueryActCtxW(0, context.handle, nullptr, RunlevelInformationInActivationContext, &runLevel,
                                 sizeof(runLevel), &needed));
        EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
        EXPECT_EQ(runLevel.UiAccess, 0u);

        // The dependency, as the parser resolved it: the second assembly of the context.
        std::vector<char> buffer(4096);
        DWORD index = 2;
        ASSERT_TRUE(QueryActCtxW(0, context.handle, &index, AssemblyDetailedInformationInActivationContext,
                                 buffer.data(), buffer.size(), &needed))
            << "no dependent assembly";
        const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
        const std::wstring identity = assembly->lpAssemblyEncodedAssemblyIdentity;
        EXPECT_NE(identity.find(L"Microsoft.Windows.Common-Controls"), std::wstring::npos) << testing::ToUtf8(identity);
        EXPECT_NE(identity.find(L"6595b64144ccf1df"), std::wstring::npos) << testing::ToUtf8(identity);

        EXPECT_EQ(context.Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
                  L"PerMonitorV2, PerMonitor");
        EXPECT_EQ(context.Setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), L"true/pm");

        const std::string text = image.Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
        for (const char* wanted :
             {R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
              R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" )"
              R"(publicKeyToken="6595b64144ccf1df" language="*")",
              // Windows refuses to start an exe whose own identity names another machine (its side-by-side
              // configuration is "incorrect"); Wine does not check it.
              sizeof(void*) == 4 ? R"(name="Lumivance.WebSetup" version="0.3.20.0" processorArchitecture="x86"/>)"
                                 : R"(name="Lumivance.WebSetup" version="0.3.20.0" processorArchitecture="amd64"/>)"}) {
            EXPECT_NE(text.find(wanted), std::string::npos) << "the manifest lacks " << wanted;
        }
    }
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name)
{
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) {
        return L"(missing)";
    }
    return static_cast<const wchar_t*>(value);
}

TEST(SetupResources, VersionBlockNamesLumivanceSetup0_3_20)
{
    for (const path& exe : SetupExecutables()) {
        SCOPED_TRACE(exe.string());
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version block";
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, 0x00000003u);  // 0.3
        EXPECT_EQ(fixed->dwFileVersionLS, 0x00140000u);  // .20.0
        EXPECT_EQ(fixed->dwProductVersionMS, 0x00000003u);
        EXPECT_EQ(fixed->dwProductVersionLS, 0x00140000u);
        EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
        EXPECT_EQ(fixed->dwFileOS, 0x40004u);
        EXPECT_EQ(fixed->dwFileType, 1u);
        EXPECT_EQ(fixed->dwFileSubtype, 0u);

        WORD* translations = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                                   &length));
        ASSERT_EQ(length, 4u) << "exactly one translation";
        EXPECT_EQ(translations[0], 0x0409);
        EXPECT_EQ(translations[1], 0x04B0);

        EXPECT_EQ(VersionString(block, L"FileDescription"), L"Lumivance Setup");
        EXPECT_EQ(VersionString(block, L"FileVersion"), L"0.3.20");
        EXPECT_EQ(VersionString(block, L"ProductName"), L"Lumivance");
        EXPECT_EQ(VersionString(block, L"ProductVersion"), L"0.3.20");
        EXPECT_EQ(VersionString(block, L"CompanyName"), L"Lumivance");
    }
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconGroupEntry) == 14);

TEST(SetupResources, OneIconGroupWithSix32BitImagesFrom256Down)
{
    for (const path& exe : SetupExecutables()) {
        SCOPED_TRACE(exe.string());
        const ResourceImage image(exe);
        ASSERT_TRUE(image);
        EXPECT_EQ(image.Names(RT_GROUP_ICON), std::vector<std::wstring>{L"#1"});

        const std::string group = image.Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
        ASSERT_GE(group.size(), 6u);
        WORD header[3];
        std::memcpy(header, group.data(), sizeof(header));
        EXPECT_EQ(header[1], 1) << "an icon group, not a cursor group";
        ASSERT_EQ(header[2], 6);
        ASSERT_EQ(group.size(), 6 + 6 * sizeof(IconGroupEntry));

        const int sizes[] = {256, 128, 64, 48, 32, 16};
        for (int i = 0; i < 6; ++i) {
            IconGroupEntry entry;
            std::memcpy(&entry, group.data() + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
            const int size = sizes[i];
            SCOPED_TRACE(size);
            EXPECT_EQ(entry.width == 0 ? 256 : entry.width, size);
            EXPECT_EQ(entry.height == 0 ? 256 : entry.height, size);
            EXPECT_EQ(entry.bitCount, 32);
            EXPECT_EQ(entry.planes, 1);

            const std::string bits = image.Bytes(RT_ICON, MAKEINTRESOURCEW(entry.id));
            ASSERT_EQ(bits.size(), entry.bytesInResource);
            if (bits.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
                // PNG: 8-bit RGBA (colour type 6) of the stated size.
                const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bits[at]); };
                const auto be32 = [&](std::size_t at) {
                    return (byte(at) << 24) | (byte(at + 1) << 16) | (byte(at + 2) << 8) | byte(at + 3);
                };
                EXPECT_EQ(be32(16), size);
                EXPECT_EQ(be32(20), size);
                EXPECT_EQ(byte(24), 8);
                EXPECT_EQ(byte(25), 6);
            } else {
                BITMAPINFOHEADER header{};
                ASSERT_GE(bits.size(), sizeof(header));
                std::memcpy(&header, bits.data(), sizeof(header));
                EXPECT_EQ(header.biWidth, size);
                EXPECT_EQ(header.biHeight, 2 * size);  // colour and mask
                EXPECT_EQ(header.biBitCount, 32);
            }
            // And Windows can make an icon of it.
            HICON icon = CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char*>(bits.data())),
                                                  static_cast<DWORD>(bits.size()), TRUE, 0x00030000, size, size,
                                                  LR_DEFAULTCOLOR);
            EXPECT_NE(icon, nullptr);
            if (icon != nullptr) {
                DestroyIcon(icon);
            }
        }
    }
}

}  // namespace
}  // namespace lumivance
