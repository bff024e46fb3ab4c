#include "win32/startup/startup_win32.h"

#include <string>
#include <vector>

#include "common/win32/ansi_text.h"
#include "common/win32/handles.h"

namespace dexalo::win32 {

std::string AnsiCodePage::ToAnsi(std::wstring_view text) const { return AnsiFromWide(text); }

std::wstring AnsiCodePage::FromAnsi(std::string_view bytes) const { return WideFromAnsi(bytes); }

bool AnsiCodePage::Holds(std::wstring_view text) const { return ExactAnsi(text).has_value(); }

std::optional<std::string> FileSettingsStorage::ReadAll(const std::wstring& path) {
    UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    // Two short lines; anything huge was not written by us.
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return std::nullopt;
    return bytes;
}

bool FileSettingsStorage::WriteAll(const std::wstring& path, const std::string& bytes) {
    // Written beside the old file and put in its place only when complete: a failure half-way
    // leaves the old file whole, never a cut one that would read as the defaults.
    const std::wstring temporary = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    UniqueKernelHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && ::FlushFileBuffers(file.get());
    file.reset();
    ok = ok && ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) ::DeleteFileW(temporary.c_str());
    return ok;
}

ProgramLocation LocationFromPath(const std::wstring& modulePath) {
    const auto slash = modulePath.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash);
    std::wstring file = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\'; // drive root keeps its backslash
    const auto dot = file.find_last_of(L'.');
    if (dot != std::wstring::npos) file.erase(dot);
    return {folder, file};
}

std::wstring ArgumentTextFrom(std::wstring_view commandLine) {
    std::size_t i = 0;
    if (i < commandLine.size() && commandLine[i] == L'"') {
        const auto close = commandLine.find(L'"', 1);
        i = close == std::wstring_view::npos ? commandLine.size() : close + 1;
    }
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t') ++i;
    while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
    return std::wstring(commandLine.substr(i));
}

} // namespace dexalo::win32
