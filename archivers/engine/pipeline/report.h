#pragma once
// The texts the libraries show, in Japanese like the rest of the product. Portable, so the
// windows on the Win32 side only display them.
#include <string>

#include "engine/pipeline/extract.h"

namespace dexalo::archivers {

// The name the user knows the archive by: its file name without the folder.
std::wstring DisplayName(const std::wstring& archivePath);

// The one message shown after a main operation that failed: the archive, then a line for
// each kind of trouble, with the entry or file concerned.
std::wstring ReportText(const std::wstring& archivePath, const ExtractResult& result);

// The password prompt's text.
std::wstring PassphrasePrompt(const std::wstring& archivePath, bool wrong);

} // namespace dexalo::archivers
