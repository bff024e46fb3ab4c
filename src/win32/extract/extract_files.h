#pragma once
// Files, folders, programs and message boxes as extraction uses them.
#include <windows.h>

#include "extract/extract_platform.h"

namespace dexalo::win32 {

class Win32ExtractFiles final : public ExtractFiles {
public:
    std::optional<std::wstring> LookUpFile(const std::wstring& path) override;
    bool MakeFolder(const std::wstring& path) override;
    std::optional<std::int64_t> FileLength(const std::wstring& path) override;
    bool RemoveFile(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    bool FolderExists(const std::wstring& path) override;
    std::string ReadHead(const std::wstring& path, std::size_t count) override;
};

// The scripting runtime's FileSystemObject.FileExists; nullopt when the object or the
// call is not available.
std::optional<bool> ScriptingFileExists(const std::wstring& path);

class Win32ExtractShell final : public ExtractShell {
public:
    bool StartProgram(const std::wstring& commandLine) override;
    void ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& title,
                     std::uint32_t style) override;
};

// lz32, with the names converted to the ANSI code page.
class Win32LzLibrary final : public LzLibrary {
public:
    std::optional<std::int32_t> LzOpen(const std::wstring& name, std::uint16_t style) override;
    std::optional<std::int32_t> LzCopy(std::int32_t source, std::int32_t target) override;
    void LzClose(std::int32_t handle) override;

private:
    OFSTRUCT record_{}; // shared by both opens, as the library allows
};

} // namespace dexalo::win32
