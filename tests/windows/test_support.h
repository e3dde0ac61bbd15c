#pragma once

// Small helpers shared by the Windows-side tests.

#include <windows.h>
#include <objbase.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/unique_resource_win.h"
#include "tools/utf8.h"

namespace lumivance::testing {

// The value of an environment variable, or "" when it is unset.
std::wstring EnvironmentValue(const wchar_t* name);

// The directory holding the running test executable (the build tree's bin layout puts tools beside it).
std::filesystem::path ExecutableDirectory();

// A tool built into the tools/ folder of this build tree, e.g. ToolPath(L"fake_installer.exe").
std::filesystem::path ToolPath(const wchar_t* fileName);

// The file opened for reading, sharing reading and writing, as a verification is handed it; empty when it
// cannot be opened.
FileHandle OpenForReading(const std::filesystem::path& file);

// Reads a whole file as bytes ("" when it cannot be opened).
std::string ReadFileBytes(const std::filesystem::path& file);

// UTF-8 to wide text and back (the fake installer's reports are UTF-8; so is gtest's output).
using tools::FromUtf8;
using tools::ToUtf8;

// The fake installer's report ("key=value" lines, UTF-8); empty when the file is missing.
std::map<std::string, std::wstring> ReadInstallerReport(const std::filesystem::path& file);

// The owner and DACL of a file or directory as Windows reports them, in SDDL ("" when they cannot be read).
std::wstring SecurityText(const std::filesystem::path& file);

// Makes `link` a Unix symbolic link to `target`, as a program outside Wine could, and removes it again;
// "" on success, else what went wrong.
std::string PlantUnixLink(const std::filesystem::path& target, const std::filesystem::path& link);
std::string RemoveUnixLink(const std::filesystem::path& link);
// Points an existing Unix link at another target in one step (ln -sfn); "" once Windows sees it there.
std::string RepointUnixLink(const std::filesystem::path& target, const std::filesystem::path& link);

// Where Windows resolves a file or folder to, links followed, in plain form ("C:\...", no "\\?\"); empty
// when it cannot be opened.
std::filesystem::path FinalPathOf(const std::filesystem::path& file);

// Sets an environment variable for this process for the lifetime of the object, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_;
};

// A fresh directory below the user's temp folder, removed with everything in it at the end of the test.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::wstring& stem = L"lumivance-test");
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace lumivance::testing
