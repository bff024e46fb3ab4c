#pragma once
// EXTRACT_FILE: everything the program does for one file, from the existence check
// to the folder window.
#include <string>

#include "extract/archiver_library.h"
#include "extract/extract_platform.h"
#include "extract/recognition.h"
#include "extract/single_folder.h"
#include "startup/module.h"

namespace dexalo {

inline constexpr wchar_t kNotExtractableText[] = L"解凍不可能なファイルです｡";
inline constexpr wchar_t kErrorTitle[] = L"エラー発生";
inline constexpr wchar_t kNotLzText[] = L"解凍可能なファイルではありません。";
inline constexpr wchar_t kProgramTitle[] = L"Dexalo";

// The signature lz32 looks for; without it LZCopy merely copies the file.
inline constexpr char kLzSignature[] = "SZDD\x88\xF0\x27\x33";
inline constexpr std::size_t kLzSignatureLength = sizeof(kLzSignature) - 1;

// destination root + name without its last character + as many '#' as it takes to
// find a name no file has yet (at least one).
std::wstring MarkedName(const std::wstring& root, const std::wstring& name, ExtractFiles& files);

class Extraction {
public:
    Extraction(ModuleState& state, ArchiverLibraries& libraries, ExtractFiles& files, AnsiPaths& ansi,
               LzLibrary& lz, ExtractShell& shell);

    void EXTRACT_FILE(const std::wstring& path);

private:
    // What the libraries get: every text in it survives the ANSI code page.
    struct Target {
        std::wstring path;  // as received, or its short form
        std::wstring name;  // as stored on disk, or its short form
        std::wstring root;  // destination root, ends in a backslash (or is empty)
    };

    std::optional<Target> PrepareTarget(const std::wstring& path, const std::wstring& name);
    std::optional<std::wstring> AnsiForm(const std::wstring& text);
    void ExtractWithCommandLine(ArchiveType type, std::int32_t entryCount, const Target& target);
    void ExtractIsh(const Target& target);
    void JoinSplitFile(const Target& target);
    void ExpandLz(const Target& target);
    void OpenFolderAfterSuccess(const std::optional<std::int32_t>& result, const std::wstring& folder);
    void ShowNotExtractable();
    void ShowNotLz();

    ModuleState& state_;
    ArchiverLibraries& libraries_;
    ExtractFiles& files_;
    AnsiPaths& ansi_;
    LzLibrary& lz_;
    ExtractShell& shell_;
};

} // namespace dexalo
