#pragma once
// What differs between Windows and the native test build: the text of the library
// calls, and file operations on wide paths. Everything else in the engine is portable.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dexalo::archivers::platform {

using Path = std::filesystem::path;

// The library calls' text: the ANSI code page on Windows, UTF-8 natively.
std::wstring FromAnsi(std::string_view text);
// Characters the code page cannot hold become '?'.
std::string ToAnsi(std::wstring_view text);
// Text in the OEM code page, that of ZIP names without the UTF-8 flag.
std::wstring FromOem(std::string_view text);

// The text in UTF-16, as Windows keeps it (natively wchar_t holds whole code points).
std::u16string ToUtf16(std::wstring_view text);

// Unicode's composed form (NFC) of a name; text that is not valid Unicode comes back as it is.
std::wstring ToNfc(std::wstring_view text);
// The text in upper case, letter by letter, as the file system compares names.
std::wstring UpperCase(std::wstring_view text);

// Charset name for ZIP names stored without the UTF-8 flag ("CP437", "CP932"...);
// empty natively, where libarchive's own default applies.
std::string OemCharset();
// Charset name of the system's ANSI code page ("CP932"...), for names that RAR 4 and CAB
// store without a Unicode flag; empty natively. libarchive must be told: on Windows its
// default follows the C runtime's locale, which is "C" in a DLL and maps bytes to U+00xx.
std::string AnsiCharset();

// Makes libarchive's name conversions work (natively: a UTF-8 character type).
void PrepareLocale();

Path ToPath(const std::wstring& path);
std::wstring FromPath(const Path& path);
// The form of `path` to hand to file calls made outside this seam (such as a std::ifstream):
// on Windows a path past MAX_PATH gets the \\?\ prefix. The calls below do this themselves.
Path SystemPath(const Path& path);

enum class Kind { Missing, File, Directory, Link, Other };
struct FileInfo {
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;  // seconds since 1970
    std::int64_t mtimeNanos = 0;
};
// Never follows a link (or, on Windows, any reparse point).
FileInfo Inspect(const Path& path);
// Follows links and junctions to what they lead to. Only for the archive and the destination
// root with its parents, which the user chose (Desktop and Documents are often junctions):
// below the root, a link may have been made by an archive's own entries.
FileInfo InspectTarget(const Path& path);

// Creates one folder; true when it exists as a folder afterwards.
bool MakeDirectory(const Path& path);
bool RemoveFile(const Path& path);
// Renames over an existing file (or link) atomically where the system allows. (Not named
// ReplaceFile: <windows.h>, which libarchive's headers include, makes a macro of that name,
// and a source that sees this header before <windows.h> would call another function.)
bool RenameOver(const Path& from, const Path& to);
// Renames only while nothing has the new name; false when something has (or on failure).
bool RenameNew(const Path& from, const Path& to);
bool SetModified(const Path& path, std::int64_t mtime);
// Marks a file read-only, as an entry that carries no write permission asks.
bool MarkReadOnly(const Path& path);
// false where links cannot be made (Windows without the privilege).
bool MakeSymlink(const std::wstring& target, const Path& link);
bool SameFile(const Path& a, const Path& b);
// The system's own words for why the last of the calls above failed on this thread.
std::wstring LastErrorText();

// A new file, created exclusively under a temporary name, written at offsets.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) = 0;
    // Sets the final size and modification time and closes the file.
    virtual bool Finish(std::uint64_t size, std::int64_t mtime) = 0;
};
// nullptr when the file cannot be created (it exists already, or the folder is not writable).
std::unique_ptr<OutputFile> CreateExclusive(const Path& path);

// A file opened once for reading at any offset, by several threads at once.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Up to `size` bytes from `offset`; fewer only at the end of the file or on a read error.
    virtual std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t size) const = 0;
};
// nullptr when the file cannot be opened.
std::unique_ptr<InputFile> OpenInput(const Path& path);

// The system's cryptography (CNG on Windows), for the archives whose encryption libarchive
// leaves to us.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const std::uint8_t* data, std::size_t size);
    // nullopt when the system could not hash.
    std::optional<std::array<std::uint8_t, 32>> Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
// PBKDF2 with HMAC-SHA256, 32 bytes: `iterations` rounds over `password` and `salt`; nullopt
// when the system fails.
std::optional<std::array<std::uint8_t, 32>> Pbkdf2Sha256(std::string_view password, const std::uint8_t* salt,
                                                         std::size_t saltSize, std::uint32_t iterations);
// AES-256 in CBC mode over whole 16-byte blocks, without padding; false when the system fails.
bool DecryptAes256Cbc(const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv,
                      const std::uint8_t* in, std::uint8_t* out, std::size_t size);

} // namespace dexalo::archivers::platform
