#include "win32/extract/extract_files.h"

#include <lzexpand.h>
#include <oleauto.h>

#include <vector>

#include "common/win32/ansi_text.h"
#include "common/win32/quiet_errors.h"
#include "win32/extract/extract_ansi.h"
#include "common/win32/handles.h"
#include "win32/window/window_handles.h"

namespace dexalo::win32 {

namespace {

constexpr DWORD kSkippedByLookup = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE;

// COM for the current call; the window thread may hold it already (S_FALSE), or in
// another mode (RPC_E_CHANGED_MODE), which still lets us create in-process objects.
class ComScope {
public:
    ComScope() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

class UniqueVariant {
public:
    UniqueVariant() { ::VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(&value_); }
    VARIANT* get() { return &value_; }

private:
    VARIANT value_;
};

} // namespace

std::optional<std::wstring> Win32ExtractFiles::LookUpFile(const std::wstring& path) {
    if (path.empty()) return std::nullopt;
    // An empty drive answers "not found" here, so our own message comes first, not "no disk".
    const QuietSystemErrors quiet;
    WIN32_FIND_DATAW data{};
    UniqueFindHandle find(::FindFirstFileW(path.c_str(), &data));
    if (!find) return std::nullopt;
    do {
        if (!(data.dwFileAttributes & kSkippedByLookup)) return std::wstring(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    return std::nullopt;
}

bool Win32ExtractFiles::MakeFolder(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr); }

std::optional<std::int64_t> Win32ExtractFiles::FileLength(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32ExtractFiles::FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.empty() ? L"." : path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32ExtractFiles::RemoveFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()); }

std::optional<bool> ScriptingFileExists(const std::wstring& path) {
    ComScope com;
    if (!com.usable()) return std::nullopt;
    CLSID clsid{};
    if (FAILED(::CLSIDFromProgID(L"Scripting.FileSystemObject", &clsid))) return std::nullopt;
    IDispatch* raw = nullptr;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&raw))))
        return std::nullopt;
    ComPtr<IDispatch> fso(raw);

    wchar_t method[] = L"FileExists";
    LPOLESTR names[] = {method};
    DISPID id = 0;
    if (FAILED(fso->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return std::nullopt;

    UniqueBstr name(::SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!name) return std::nullopt;
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = name.get();
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    UniqueVariant result;
    if (FAILED(fso->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result.get(), nullptr,
                           nullptr)))
        return std::nullopt;
    if (FAILED(::VariantChangeType(result.get(), result.get(), 0, VT_BOOL))) return std::nullopt;
    return result.get()->boolVal != VARIANT_FALSE;
}

bool Win32ExtractFiles::FileExists(const std::wstring& path) {
    if (const auto answer = ScriptingFileExists(path)) return *answer;
    // The object can be removed by policy; the attribute test answers the same question.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Win32ExtractFiles::ReadHead(const std::wstring& path, std::size_t count) {
    UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string head(count, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), head.data(), static_cast<DWORD>(count), &read, nullptr)) return {};
    head.resize(read);
    return head;
}

bool Win32ExtractShell::StartProgram(const std::wstring& commandLine) {
    // No application name: the program is searched for as CreateProcess does, starting
    // with this program's own folder.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    return true;
}

void Win32ExtractShell::ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& title,
                                    std::uint32_t style) {
    ::MessageBoxW(reinterpret_cast<HWND>(owner), text.c_str(), title.c_str(), style);
}

namespace {

// The longest name lz32 takes whole: its OFSTRUCT holds 128 bytes with the terminating zero.
constexpr std::size_t kLzLongestName = sizeof(OFSTRUCT{}.szPathName) - 1;

// The name in a form lz32 takes whole: as it is, or its short form; never a cut one.
std::optional<std::string> LzName(const std::wstring& name) {
    std::string ansi = AnsiFromWide(name);
    if (ansi.size() <= kLzLongestName) return ansi;
    const auto shortForm = Win32AnsiPaths().ShortForm(name);
    if (!shortForm) return std::nullopt;
    auto shortAnsi = ExactAnsi(*shortForm);
    if (!shortAnsi || shortAnsi->size() > kLzLongestName) return std::nullopt;
    return shortAnsi;
}

} // namespace

std::optional<std::int32_t> Win32LzLibrary::LzOpen(const std::wstring& name, std::uint16_t style) {
    // A file to be created has no short form until it exists: it is created empty first, and
    // removed again when even its short form is too long.
    bool placed = false;
    if (style == kCreate && AnsiFromWide(name).size() > kLzLongestName) {
        UniqueKernelHandle file(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return -1;
        placed = true;
    }
    auto ansi = LzName(name);
    if (!ansi) {
        if (placed) ::DeleteFileW(name.c_str());
        return -1; // reported like any other LZ failure
    }
    const INT handle = ::LZOpenFileA(ansi->data(), &record_, style);
    if (handle < 0 && placed) ::DeleteFileW(name.c_str());
    return handle;
}

std::optional<std::int32_t> Win32LzLibrary::LzCopy(std::int32_t source, std::int32_t target) {
    return ::LZCopy(source, target);
}

void Win32LzLibrary::LzClose(std::int32_t handle) { ::LZClose(handle); }

} // namespace dexalo::win32
