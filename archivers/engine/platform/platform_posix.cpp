// The native side of the platform seam: UTF-8 text (or a code page a test chose) and
// POSIX file calls.
// Used by the unit tests and the benchmarks.
#include "engine/platform/platform.h"
#include "engine/platform/platform_posix.h"

#include <archive.h>
#include <fcntl.h>
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <iconv.h>
#include <langinfo.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace dexalo::archivers::platform {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += '?';
    }
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || (extra > 0 && i + static_cast<std::size_t>(extra) >= text.size())) {
            // Not UTF-8: keep the byte as the Latin-1 character so that nothing is lost silently.
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : (b & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (n & 0x3F);
        }
        if (!ok) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

struct CodePages {
    std::string ansi, oem;
};
CodePages gCodePages;

// Converts with iconv. At a sequence the target cannot take, `bad` appends a stand-in
// and says how many bytes it covers.
template <typename Bad>
std::string Convert(const std::string& to, const std::string& from, std::string_view text, Bad bad) {
    const iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    char buffer[256];
    std::size_t at = 0;
    while (at < text.size()) {
        char* in = const_cast<char*>(text.data() + at);
        std::size_t inLeft = text.size() - at;
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        at = text.size() - inLeft;
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            at += bad(out, text.substr(at));
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(cd);
    return out;
}

} // namespace

void UseCodePages(std::string ansi, std::string oem) { gCodePages = {std::move(ansi), std::move(oem)}; }

std::wstring FromAnsi(std::string_view text) {
    if (gCodePages.ansi.empty()) return FromUtf8(text);
    // An undecodable byte stays a Latin-1 character, as without a code page.
    return FromUtf8(Convert("UTF-8", gCodePages.ansi, text, [](std::string& out, std::string_view rest) {
        AppendUtf8(out, static_cast<unsigned char>(rest[0]));
        return std::size_t{1};
    }));
}

std::wstring FromOem(std::string_view text) {
    if (gCodePages.oem.empty()) return FromUtf8(text);
    return FromUtf8(Convert("UTF-8", gCodePages.oem, text, [](std::string& out, std::string_view rest) {
        AppendUtf8(out, static_cast<unsigned char>(rest[0]));
        return std::size_t{1};
    }));
}

std::string ToAnsi(std::wstring_view text) {
    const std::string utf8 = ToUtf8(text);
    if (gCodePages.ansi.empty()) return utf8;
    return Convert(gCodePages.ansi, "UTF-8", utf8, [](std::string& out, std::string_view rest) {
        out += '?';
        std::size_t n = 1;
        while (n < rest.size() && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80) ++n;
        return n;
    });
}

std::u16string ToUtf16(std::wstring_view text) {
    std::u16string out;
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

// Natively the names are compared as Windows would: one code point at a time, by ICU.
std::wstring UpperCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(u_toupper(static_cast<UChar32>(c)));
    return out;
}

// ICU, as the one normaliser kept up with each Unicode version; it works in UTF-16.
std::wstring ToNfc(std::wstring_view text) {
    const auto invalid = [](wchar_t w) {
        const auto c = static_cast<char32_t>(w);
        return c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF);
    };
    if (std::any_of(text.begin(), text.end(), invalid)) return std::wstring(text);
    const std::u16string in = ToUtf16(text);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    std::u16string out(in.size() + 16, u'\0');
    for (int attempt = 0; attempt < 2 && U_SUCCESS(status); ++attempt) {
        const int32_t n = unorm2_normalize(nfc, in.data(), static_cast<int32_t>(in.size()), out.data(),
                                           static_cast<int32_t>(out.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            status = U_ZERO_ERROR;
            out.resize(static_cast<std::size_t>(n));
            continue;
        }
        if (U_FAILURE(status)) break;
        out.resize(static_cast<std::size_t>(n));
        std::wstring result;
        for (std::size_t i = 0; i < out.size(); ++i) {
            char32_t c = out[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < out.size()) c = 0x10000 + ((c - 0xD800) << 10) + (out[++i] - 0xDC00);
            result += static_cast<wchar_t>(c);
        }
        return result;
    }
    return std::wstring(text);
}

std::string OemCharset() { return gCodePages.oem; }
std::string AnsiCharset() { return gCodePages.ansi; }

void PrepareLocale() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        if (current == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
            if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "en_US.UTF-8");
        }
    });
}

// The native file system is UTF-8, whatever code page the library calls use.
Path ToPath(const std::wstring& path) { return Path(ToUtf8(path)); }
Path SystemPath(const Path& path) { return path; }
std::wstring FromPath(const Path& path) { return FromUtf8(path.native()); }

namespace {

FileInfo Describe(int status, const struct stat& st) {
    FileInfo info;
    if (status != 0) {
        info.kind = errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Other;
        return info;
    }
    info.kind = S_ISREG(st.st_mode) ? Kind::File
              : S_ISDIR(st.st_mode) ? Kind::Directory
              : S_ISLNK(st.st_mode) ? Kind::Link
                                    : Kind::Other;
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.mtime = st.st_mtim.tv_sec;
    info.mtimeNanos = st.st_mtim.tv_nsec;
    return info;
}

} // namespace

FileInfo Inspect(const Path& path) {
    struct stat st {};
    const int status = ::lstat(path.c_str(), &st);
    return Describe(status, st);
}

FileInfo InspectTarget(const Path& path) {
    struct stat st {};
    const int status = ::stat(path.c_str(), &st);
    return Describe(status, st);
}

bool MakeDirectory(const Path& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && Inspect(path).kind == Kind::Directory;
}

bool RemoveFile(const Path& path) { return ::unlink(path.c_str()) == 0; }

bool RenameOver(const Path& from, const Path& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool RenameNew(const Path& from, const Path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that flag: a second link fails just the same when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

bool SetModified(const Path& path, std::int64_t mtime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(mtime);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool MarkReadOnly(const Path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && ::chmod(path.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool MakeSymlink(const std::wstring& target, const Path& link) {
    return ::symlink(ToUtf8(target).c_str(), link.c_str()) == 0;
}

bool SameFile(const Path& a, const Path& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

std::atomic<std::int64_t> gWritesLeft{-1};  // bytes before the disk is full; -1: never

// False, as on a full disk, once the bytes left run out (and from then on).
bool Spend(std::size_t size) {
    std::int64_t left = gWritesLeft.load();
    do {
        if (left < 0) return true;
        if (static_cast<std::uint64_t>(left) < size) {
            gWritesLeft = 0;
            errno = ENOSPC;
            return false;
        }
    } while (!gWritesLeft.compare_exchange_weak(left, left - static_cast<std::int64_t>(size)));
    return true;
}

class PosixOutputFile final : public OutputFile {
public:
    explicit PosixOutputFile(int fd) : fd_(fd) {}
    ~PosixOutputFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
        if (!Spend(size)) return false;
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            offset += static_cast<std::uint64_t>(n);
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Finish(std::uint64_t size, std::int64_t mtime) override {
        bool ok = ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(mtime);
        times[1].tv_nsec = 0;
        ok = ::futimens(fd_, times) == 0 && ok;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

} // namespace

void FailWritesAfter(std::optional<std::uint64_t> bytes) { gWritesLeft = bytes ? static_cast<std::int64_t>(*bytes) : -1; }

std::unique_ptr<OutputFile> CreateExclusive(const Path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixOutputFile>(fd);
}

class PosixInputFile final : public InputFile {
public:
    explicit PosixInputFile(int fd) : fd_(fd) {}
    ~PosixInputFile() override { ::close(fd_); }
    PosixInputFile(const PosixInputFile&) = delete;
    PosixInputFile& operator=(const PosixInputFile&) = delete;

    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) const override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(data) + done, size - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

private:
    int fd_;
};

std::unique_ptr<InputFile> OpenInput(const Path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixInputFile>(fd);
}

std::wstring LastErrorText() { return FromUtf8(std::strerror(errno)); }

// Natively OpenSSL's libcrypto stands in for CNG.
struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    state_->ok = state_->ok && EVP_DigestUpdate(state_->context, data, size) == 1;
}

std::optional<std::array<std::uint8_t, 32>> Sha256::Finish() {
    std::array<std::uint8_t, 32> digest{};
    unsigned size = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->context, digest.data(), &size) != 1 || size != digest.size())
        return std::nullopt;
    return digest;
}

std::optional<std::array<std::uint8_t, 32>> Pbkdf2Sha256(std::string_view password, const std::uint8_t* salt,
                                                         std::size_t saltSize, std::uint32_t iterations) {
    std::array<std::uint8_t, 32> key{};
    if (password.size() > INT_MAX || saltSize > INT_MAX || iterations == 0 || iterations > INT_MAX ||
        PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(saltSize),
                          static_cast<int>(iterations), EVP_sha256(), 32, key.data()) != 1)
        return std::nullopt;
    return key;
}

bool DecryptAes256Cbc(const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv,
                      const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
    if (size % 16 != 0 || size > static_cast<std::size_t>(INT_MAX)) return false;
    const std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0, last = 0;
    return context && EVP_DecryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) == 1 &&
           EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
           EVP_DecryptUpdate(context.get(), out, &written, in, static_cast<int>(size)) == 1 &&
           EVP_DecryptFinal_ex(context.get(), out + written, &last) == 1 &&
           static_cast<std::size_t>(written + last) == size;
}

} // namespace dexalo::archivers::platform
