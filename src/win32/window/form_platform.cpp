#include "win32/window/form_platform.h"

#include <shlobj.h>

#include <array>
#include <vector>

#include "common/win32/quiet_errors.h"

namespace dexalo::win32 {

void Win32FormPlatform::SetWindowPos(WindowHandle window, std::intptr_t insertAfter) {
    ::SetWindowPos(reinterpret_cast<HWND>(window), reinterpret_cast<HWND>(insertAfter), 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
}

std::uint32_t Win32FormPlatform::ProbeDrive(const std::wstring& drive) {
    const std::string ansi = codec_.ToAnsi(drive);
    // An empty drive must come back as an error code, not as the system's own dialog.
    const QuietSystemErrors quiet;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD attributes = ::GetFileAttributesA(ansi.c_str());
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
    // A failure that left no error code is still a failure, of no known kind.
    return attributes == INVALID_FILE_ATTRIBUTES && error == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : error;
}

std::optional<std::wstring> Win32FormPlatform::ResolveFolder(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    full.resize(length);
    const DWORD attributes = [&] {
        const QuietSystemErrors quiet;
        return ::GetFileAttributesW(full.c_str());
    }();
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    const bool driveRoot = full.size() == 3 && full[1] == L':';
    while (!driveRoot && full.size() > 3 && full.back() == L'\\') {
        full.pop_back();
    }
    return full;
}

std::wstring Win32FormPlatform::CurrentFolder() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, folder.data());
    folder.resize(length < needed ? length : 0);
    return folder;
}

std::wstring Win32FormPlatform::TempPath() {
    std::array<char, 517> buffer{};
    const DWORD length = ::GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) {
        return {}; // no path, or one that did not fit
    }
    return codec_.FromAnsi(std::string(buffer.data()));
}

wchar_t Win32FormPlatform::DecimalSeparator() {
    std::array<wchar_t, 8> buffer{};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer.data(), static_cast<int>(buffer.size())) > 1) {
        return buffer[0];
    }
    return L'.';
}

void Win32FormPlatform::MessageBox(const std::wstring& text, const std::wstring& title, std::uint32_t style) {
    HWND form = host_.FormWindow();
    HWND owner = form != nullptr && ::IsWindowVisible(form) ? form : nullptr;
    ::MessageBoxW(owner, text.c_str(), title.c_str(), style);
}

std::int32_t Win32FormPlatform::GetSpecialFolderLocation(WindowHandle owner, int folder, ItemIdList& list) {
    PIDLIST_ABSOLUTE idList = nullptr;
    const HRESULT result = ::SHGetSpecialFolderLocation(reinterpret_cast<HWND>(owner), folder, &idList);
    list = reinterpret_cast<ItemIdList>(idList);
    return static_cast<std::int32_t>(result);
}

bool Win32FormPlatform::GetPathFromIDList(ItemIdList list, std::wstring& path) {
    std::array<wchar_t, 261> buffer{};
    if (list == 0 || !::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(list), buffer.data())) {
        return false;
    }
    path.assign(buffer.data());
    return true;
}

void Win32FormPlatform::Free(ItemIdList list) { ::CoTaskMemFree(reinterpret_cast<void*>(list)); }

} // namespace dexalo::win32
