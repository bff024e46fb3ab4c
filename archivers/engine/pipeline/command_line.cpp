#include "engine/pipeline/command_line.h"

namespace dexalo::archivers {

namespace {

struct Word {
    std::wstring text;
    bool quoted = false;
    std::size_t begin = 0;  // position of its first character in the line
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::vector<Word> SplitWords(std::wstring_view line) {
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        Word w;
        w.begin = i;
        bool inQuotes = false;
        for (; i < line.size() && (inQuotes || !IsBlank(line[i])); ++i) {
            if (line[i] == L'"') {
                inQuotes = !inQuotes;
                w.quoted = true;
            } else {
                w.text += line[i];
            }
        }
        words.push_back(std::move(w));
    }
    return words;
}

std::wstring TrimTrailingSeparators(std::wstring path) {
    // Keep a root: "\", "/", "C:\".
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) {
        const std::size_t n = path.size();
        if (n == 3 && path[1] == L':') break;
        path.pop_back();
    }
    return path;
}

// The ISH form, `C:\Arc\mail.ish /f=C:\Arc\mail\`: the archive unquoted (blanks and all)
// before " /f=", the destination after it.
std::optional<CommandLine> ParseFolderSwitch(std::wstring_view line) {
    if (line.find(L'"') != std::wstring_view::npos) return std::nullopt;
    std::size_t at = std::wstring_view::npos;
    for (std::size_t i = 0; i + 4 <= line.size(); ++i)
        if (line[i] == L' ' && line[i + 1] == L'/' && (line[i + 2] == L'f' || line[i + 2] == L'F') && line[i + 3] == L'=')
            at = i;
    if (at == std::wstring_view::npos) return std::nullopt;
    std::wstring_view archive = line.substr(0, at);
    while (!archive.empty() && IsBlank(archive.front())) archive.remove_prefix(1);
    while (!archive.empty() && IsBlank(archive.back())) archive.remove_suffix(1);
    // A leading one-letter word is a command in every other form, and is judged as one there.
    const std::size_t word = archive.find_first_of(L" \t\r\n");
    if (archive.empty() || (word == std::wstring_view::npos ? archive.size() : word) == 1) return std::nullopt;
    std::wstring_view folder = line.substr(at + 4);
    while (!folder.empty() && IsBlank(folder.back())) folder.remove_suffix(1);
    CommandLine result;
    result.archive = archive;
    result.destination = FolderArgument(std::wstring(folder));
    return result;
}

} // namespace

std::optional<CommandLine> ParseCommandLine(std::wstring_view line) {
    if (auto folderSwitch = ParseFolderSwitch(line)) return folderSwitch;
    const std::vector<Word> words = SplitWords(line);
    std::size_t i = 0;
    if (i < words.size() && !words[i].quoted && words[i].text.size() == 1 && words[i].text[0] != L'-') {
        const wchar_t command = words[i].text[0];
        if (command != L'x' && command != L'X' && command != L'e' && command != L'E') return std::nullopt;
        ++i;
    }
    CommandLine result;
    std::vector<const Word*> rest;
    for (; i < words.size(); ++i) {
        if (!words[i].quoted && words[i].text.size() > 1 && words[i].text[0] == L'-') {
            if (rest.empty()) {
                result.switches.push_back(words[i].text);
                continue;
            }
        }
        rest.push_back(&words[i]);
    }
    if (rest.empty() || rest[0]->text.empty()) return std::nullopt;
    result.archive = rest[0]->text;
    if (rest.size() >= 2) {
        bool anyQuoted = false;
        for (std::size_t k = 1; k < rest.size(); ++k) anyQuoted = anyQuoted || rest[k]->quoted;
        std::wstring_view tail = line.substr(rest[1]->begin);
        while (!tail.empty() && IsBlank(tail.back())) tail.remove_suffix(1);
        if (!anyQuoted && rest.size() > 2 && !tail.empty() && tail.back() == L'\\') {
            result.destination = std::wstring(tail);
        } else {
            result.destination = rest[1]->text;
            for (std::size_t k = 2; k < rest.size(); ++k) result.patterns.push_back(rest[k]->text);
        }
    }
    result.destination = FolderArgument(std::move(result.destination));
    return result;
}

std::wstring FolderArgument(std::wstring folder) {
    folder = TrimTrailingSeparators(std::move(folder));
    return folder.empty() ? L"." : folder;
}

} // namespace dexalo::archivers
