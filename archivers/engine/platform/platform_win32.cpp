// The Windows side of the platform seam: ANSI text of the library calls, wide file paths.
#include "engine/platform/platform.h"

#include <windows.h>
#include <bcrypt.h>

#include <archive.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "common/win32/ansi_text.h"
#include "common/win32/handles.h"

namespace dexalo::archivers::platform {

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

FILETIME ToFileTime(std::int64_t seconds) {
    const std::int64_t ticks = seconds * 10000000LL + kEpochDifference;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return ft;
}

std::int64_t FromFileTime(const FILETIME& ft, std::int64_t* nanos) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
        kEpochDifference;
    std::int64_t seconds = ticks / 10000000LL;
    std::int64_t rest = ticks % 10000000LL;
    if (rest < 0) {
        rest += 10000000LL;
        --seconds;
    }
    if (nanos) *nanos = rest * 100;
    return seconds;
}

using win32::UniqueKernelHandle;

// The form of a path that the wide file calls take at any length. Paths that fit keep their
// ordinary form; longer ones are made absolute and normalised (as the system would) and get
// the \\?\ prefix, which lifts the MAX_PATH limit.
std::wstring Long(const Path& path) {
    const std::wstring& p = path.native();
    constexpr std::size_t kShortEnough = MAX_PATH - 12;  // CreateDirectoryW's own limit
    if (p.rfind(L"\\\\?\\", 0) == 0 || p.rfind(L"\\\\.\\", 0) == 0) return p;
    if (p.size() < kShortEnough && path.is_absolute()) return p;
    std::wstring full(p.size() + MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(p.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(p.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size() || n < kShortEnough) return p;  // a relative path that stays short
    full.resize(n);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    return L"\\\\?\\" + full;
}

FileInfo Describe(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
    FileInfo info;
    // Junctions and symbolic links alike are reparse points: never walk through them.
    info.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? Kind::Link
              : (attributes & FILE_ATTRIBUTE_DIRECTORY)     ? Kind::Directory
              : (attributes & FILE_ATTRIBUTE_DEVICE)        ? Kind::Other
                                                            : Kind::File;
    info.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
    info.mtime = FromFileTime(written, &info.mtimeNanos);
    return info;
}

} // namespace

std::wstring FromAnsi(std::string_view text) { return win32::WideFromAnsi(text); }
std::string ToAnsi(std::wstring_view text) { return win32::AnsiFromWide(text); }

std::wstring FromOem(std::string_view text) { return win32::WideFromCodePage(CP_OEMCP, text); }

// The system's own normaliser (normaliz). A lone surrogate is refused, and kept.
std::u16string ToUtf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::wstring ToNfc(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    int estimate = NormalizeString(NormalizationC, text.data(), size, nullptr, 0);
    for (int attempt = 0; attempt < 3 && estimate > 0; ++attempt) {
        std::wstring out(static_cast<std::size_t>(estimate), L'\0');
        const int n = NormalizeString(NormalizationC, text.data(), size, out.data(), estimate);
        if (n > 0) {
            out.resize(static_cast<std::size_t>(n));
            return out;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        estimate = -n;  // a better estimate
    }
    return std::wstring(text);
}

std::wstring UpperCase(std::wstring_view text) {
    std::wstring out(text);
    if (!out.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()), out.data(),
                      static_cast<int>(out.size()), nullptr, nullptr, 0);
    return out;
}

std::string OemCharset() {
    char name[16];
    std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(GetOEMCP()));
    return name;
}

std::string AnsiCharset() {
    char name[16];
    std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(GetACP()));
    return name;
}

// The C runtime's locale belongs to the program that loaded us, so it is left alone.
// Instead every name reaches the engine in a code page named explicitly (hdrcharset),
// as UTF-8/UTF-16 by a flag, or as raw bytes that FromAnsi decodes.
void PrepareLocale() {}

Path ToPath(const std::wstring& path) { return Path(path); }
Path SystemPath(const Path& path) { return Path(Long(path)); }
std::wstring FromPath(const Path& path) { return path.native(); }

FileInfo Inspect(const Path& path) {
    FileInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Long(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        info.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::Missing : Kind::Other;
        return info;
    }
    return Describe(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

FileInfo InspectTarget(const Path& path) {
    const FileInfo own = Inspect(path);
    if (own.kind != Kind::Link) return own;
    // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is the link's target.
    UniqueKernelHandle target(CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION data;
    if (!target || !GetFileInformationByHandle(target.get(), &data)) return FileInfo{};
    return Describe(data.dwFileAttributes & ~FILE_ATTRIBUTE_REPARSE_POINT, data.nFileSizeHigh, data.nFileSizeLow,
                    data.ftLastWriteTime);
}

bool MakeDirectory(const Path& path) {
    if (CreateDirectoryW(Long(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && Inspect(path).kind == Kind::Directory;
}

bool RemoveFile(const Path& path) {
    if (DeleteFileW(Long(path).c_str())) return true;
    // A read-only file: the user's copy, which only a newer entry may replace.
    return false;
}

bool RenameOver(const Path& from, const Path& to) {
    const std::wstring source = Long(from), target = Long(to);
    // A read-only file cannot be replaced: only the one being replaced loses the mark, and gets
    // it back when the replacement fails.
    const DWORD old = GetFileAttributesW(target.c_str());
    const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) &&
                          !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    const DWORD cleared = old & ~FILE_ATTRIBUTE_READONLY;
    if (readOnly) SetFileAttributesW(target.c_str(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
    // Virus scanners and indexers hold a new file for a moment: try again for about a second.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == 10) break;
        Sleep(100);
    }
    if (readOnly) SetFileAttributesW(target.c_str(), old);
    return false;
}

bool RenameNew(const Path& from, const Path& to) {
    const std::wstring source = Long(from), target = Long(to);
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == 10) return false;
        Sleep(100);
    }
}

bool SetModified(const Path& path, std::int64_t mtime) {
    UniqueKernelHandle file(CreateFileW(Long(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    if (!file) return false;
    const FILETIME ft = ToFileTime(mtime);
    return SetFileTime(file.get(), nullptr, nullptr, &ft) != 0;
}

bool MarkReadOnly(const Path& path) {
    const std::wstring p = Long(path);
    const DWORD attributes = GetFileAttributesW(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesW(p.c_str(), (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY);
}

bool MakeSymlink(const std::wstring&, const Path&) {
    // Links need a privilege most users lack; such entries are skipped.
    return false;
}

bool SameFile(const Path& a, const Path& b) {
    auto identify = [](const Path& p, BY_HANDLE_FILE_INFORMATION& info) {
        UniqueKernelHandle file(CreateFileW(Long(p).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return file && GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

namespace {

class WinOutputFile final : public OutputFile {
public:
    explicit WinOutputFile(UniqueKernelHandle file) : file_(std::move(file)) {}

    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
        if (offset != position_) {
            LARGE_INTEGER to;
            to.QuadPart = static_cast<LONGLONG>(offset);
            if (!SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN)) return false;
            position_ = offset;
        }
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(file_.get(), p, chunk, &written, nullptr) || written == 0) return false;
            p += written;
            size -= written;
            position_ += written;
        }
        return true;
    }

    bool Finish(std::uint64_t size, std::int64_t mtime) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(size);
        bool ok = SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) && SetEndOfFile(file_.get());
        const FILETIME ft = ToFileTime(mtime);
        ok = SetFileTime(file_.get(), nullptr, nullptr, &ft) && ok;
        // Closed here, not later: a failed close (a full disk, a network share) fails the file.
        ok = CloseHandle(file_.release()) && ok;
        return ok;
    }

private:
    UniqueKernelHandle file_;
    std::uint64_t position_ = 0;
};

} // namespace

std::unique_ptr<OutputFile> CreateExclusive(const Path& path) {
    UniqueKernelHandle file(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinOutputFile>(std::move(file));
}

class WinInputFile final : public InputFile {
public:
    explicit WinInputFile(UniqueKernelHandle file) : file_(std::move(file)) {}

    // Each read names its offset, so threads sharing the handle never race on its position.
    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) const override {
        std::size_t done = 0;
        while (done < size) {
            const std::uint64_t at = offset + done;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const DWORD chunk = size - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - done);
            DWORD read = 0;
            if (!ReadFile(file_.get(), static_cast<char*>(data) + done, chunk, &read, &where) || read == 0) break;
            done += read;
        }
        return done;
    }

private:
    UniqueKernelHandle file_;
};

std::unique_ptr<InputFile> OpenInput(const Path& path) {
    UniqueKernelHandle file(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinInputFile>(std::move(file));
}

std::wstring LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t text[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             512, nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
    if (n == 0) return L"エラー " + std::to_wstring(code);
    return std::wstring(text, n);
}

namespace {

void CloseProvider(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
void DestroyHash(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
void DestroyKey(BCRYPT_KEY_HANDLE h) { ::BCryptDestroyKey(h); }
using UniqueProvider = win32::UniqueResource<win32::NullHandleTraits<BCRYPT_ALG_HANDLE, &CloseProvider>>;
using UniqueHash = win32::UniqueResource<win32::NullHandleTraits<BCRYPT_HASH_HANDLE, &DestroyHash>>;
using UniqueKey = win32::UniqueResource<win32::NullHandleTraits<BCRYPT_KEY_HANDLE, &DestroyKey>>;

// Opened once: opening a provider costs far more than a hash or a block of data.
UniqueProvider OpenProvider(const wchar_t* algorithm, const wchar_t* chaining, ULONG flags = 0) {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, algorithm, nullptr, flags))) return UniqueProvider();
    UniqueProvider provider(h);
    if (chaining != nullptr &&
        !BCRYPT_SUCCESS(::BCryptSetProperty(h, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chaining)),
                                            static_cast<ULONG>((wcslen(chaining) + 1) * sizeof(wchar_t)), 0)))
        return UniqueProvider();
    return provider;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const UniqueProvider provider = OpenProvider(BCRYPT_SHA256_ALGORITHM, nullptr);
    return provider.get();
}

BCRYPT_ALG_HANDLE AesCbcProvider() {
    static const UniqueProvider provider = OpenProvider(BCRYPT_AES_ALGORITHM, BCRYPT_CHAIN_MODE_CBC);
    return provider.get();
}

BCRYPT_ALG_HANDLE HmacSha256Provider() {
    static const UniqueProvider provider = OpenProvider(BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    return provider.get();
}

} // namespace

std::optional<std::array<std::uint8_t, 32>> Pbkdf2Sha256(std::string_view password, const std::uint8_t* salt,
                                                         std::size_t saltSize, std::uint32_t iterations) {
    std::array<std::uint8_t, 32> key{};
    if (HmacSha256Provider() == nullptr || password.size() > 0xFFFFFFFFu || saltSize > 0xFFFFFFFFu || iterations == 0 ||
        !BCRYPT_SUCCESS(::BCryptDeriveKeyPBKDF2(HmacSha256Provider(),
                                                reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
                                                static_cast<ULONG>(password.size()), const_cast<PUCHAR>(salt),
                                                static_cast<ULONG>(saltSize), iterations, key.data(), 32, 0)))
        return std::nullopt;
    return key;
}

struct Sha256::State {
    UniqueHash hash;
    bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    BCRYPT_HASH_HANDLE h = nullptr;
    state_->ok = Sha256Provider() != nullptr && BCRYPT_SUCCESS(::BCryptCreateHash(Sha256Provider(), &h, nullptr, 0, nullptr, 0, 0));
    state_->hash.reset(h);
}
Sha256::~Sha256() = default;

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    while (state_->ok && size > 0) {
        const auto n = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        state_->ok = BCRYPT_SUCCESS(::BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(data), n, 0));
        data += n;
        size -= n;
    }
}

std::optional<std::array<std::uint8_t, 32>> Sha256::Finish() {
    std::array<std::uint8_t, 32> digest{};
    if (!state_->ok || !BCRYPT_SUCCESS(::BCryptFinishHash(state_->hash.get(), digest.data(), 32, 0))) return std::nullopt;
    return digest;
}

bool DecryptAes256Cbc(const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv,
                      const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
    if (size % 16 != 0 || size > 0x7FFFFFF0u || AesCbcProvider() == nullptr) return false;
    if (size == 0) return true;
    BCRYPT_KEY_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptGenerateSymmetricKey(AesCbcProvider(), &h, nullptr, 0, const_cast<PUCHAR>(key.data()), 32, 0)))
        return false;
    const UniqueKey handle(h);
    std::array<std::uint8_t, 16> chain = iv;  // CNG updates it
    ULONG written = 0;
    return BCRYPT_SUCCESS(::BCryptDecrypt(h, const_cast<PUCHAR>(in), static_cast<ULONG>(size), nullptr, chain.data(), 16, out,
                                          static_cast<ULONG>(size), &written, 0)) &&
           written == size;
}

} // namespace dexalo::archivers::platform
