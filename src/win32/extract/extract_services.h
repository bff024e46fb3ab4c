#pragma once
// Extraction wired to the real libraries and the real system.
#include <string>

#include "extract/extraction.h"
#include "win32/extract/archiver_binding.h"
#include "win32/extract/extract_ansi.h"
#include "win32/extract/extract_files.h"

namespace dexalo::win32 {

class Win32Extraction {
public:
    explicit Win32Extraction(ModuleState& state);
    Win32Extraction(const Win32Extraction&) = delete;
    Win32Extraction& operator=(const Win32Extraction&) = delete;

    void EXTRACT_FILE(const std::wstring& path) { extraction_.EXTRACT_FILE(path); }
    // Shared with the version panel, so each library is loaded once per process.
    ArchiverLibraries& Libraries() { return libraries_; }

private:
    ArchiverBinding libraries_;
    Win32ExtractFiles files_;
    Win32AnsiPaths ansi_;
    Win32LzLibrary lz_;
    Win32ExtractShell shell_;
    Extraction extraction_;
};

} // namespace dexalo::win32
