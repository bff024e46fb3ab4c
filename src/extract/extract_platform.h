#pragma once
// What extraction needs from the outside world besides the archiver libraries.
// Names stay clear of the Win32 A/W macros (DeleteFile, MessageBox...), since the
// implementations see <windows.h> and this header must mean the same to both sides.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "startup/module.h"

namespace dexalo {

class ExtractFiles {
public:
    virtual ~ExtractFiles() = default;
    // Name (no folder) of the first file matching path, wildcards allowed. Normal, read-only,
    // archive and hidden files match; folders and system files do not. nullopt when none does.
    virtual std::optional<std::wstring> LookUpFile(const std::wstring& path) = 0;
    virtual bool MakeFolder(const std::wstring& path) = 0;
    virtual std::optional<std::int64_t> FileLength(const std::wstring& path) = 0;
    virtual bool RemoveFile(const std::wstring& path) = 0;
    // The scripting runtime's FileExists: true for files only.
    virtual bool FileExists(const std::wstring& path) = 0;
    // True for an existing folder (an empty path is the current folder).
    virtual bool FolderExists(const std::wstring& path) = 0;
    // Up to count bytes from the start of the file; empty when it cannot be read.
    virtual std::string ReadHead(const std::wstring& path, std::size_t count) = 0;
};

// The archiver and LZ libraries only take ANSI text.
class AnsiPaths {
public:
    virtual ~AnsiPaths() = default;
    // True when text survives conversion to the ANSI code page unchanged.
    virtual bool FitsAnsi(const std::wstring& text) = 0;
    // The short (8.3) form of an existing path; the path itself where the volume keeps
    // no short names; nullopt when it cannot be had.
    virtual std::optional<std::wstring> ShortForm(const std::wstring& path) = 0;
};

// The platform's LZ expansion library.
class LzLibrary {
public:
    virtual ~LzLibrary() = default;
    static constexpr std::uint16_t kRead = 0;
    static constexpr std::uint16_t kCreate = 4096;
    // Handle, negative on failure; nullopt when the library cannot be called.
    virtual std::optional<std::int32_t> LzOpen(const std::wstring& name, std::uint16_t style) = 0;
    // Bytes written, negative on failure.
    virtual std::optional<std::int32_t> LzCopy(std::int32_t source, std::int32_t target) = 0;
    virtual void LzClose(std::int32_t handle) = 0;
};

class ExtractShell {
public:
    virtual ~ExtractShell() = default;
    // Starts a program by command line with a normal, focused window; does not wait.
    virtual bool StartProgram(const std::wstring& commandLine) = 0;
    virtual void ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& title,
                             std::uint32_t style) = 0;
};

} // namespace dexalo
