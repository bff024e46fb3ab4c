#include "startup/settings.h"

#include <charconv>
#include <limits>

namespace dexalo {

std::wstring SettingsFolderPath(const ProgramLocation& program) {
    return program.folder + L"\\設定フォルダ";
}

std::wstring SettingsFilePath(const ProgramLocation& program) {
    return SettingsFolderPath(program) + L"\\設定.ini";
}

Settings DefaultSettings(const ProgramLocation& program) {
    return Settings{1, program.folder + L"\\"};
}

namespace {

bool IsLineEnd(wchar_t c) { return c == L'\r' || c == L'\n'; }

// One comma- or line-delimited field, read the way the settings were always read:
// leading blanks skipped, a quoted field runs to the next quotation mark, anything
// else to the next comma or line end with trailing blanks dropped.
class FieldReader {
public:
    explicit FieldReader(std::wstring_view text) : text_(text) {}

    std::optional<std::wstring> Next() {
        while (pos_ < text_.size() && (text_[pos_] == L' ' || IsLineEnd(text_[pos_]))) ++pos_;
        if (pos_ >= text_.size()) return std::nullopt;
        std::wstring field;
        if (text_[pos_] == L'"') {
            const auto close = text_.find(L'"', pos_ + 1);
            if (close == std::wstring_view::npos) return std::nullopt; // unterminated: not ours
            field.assign(text_.substr(pos_ + 1, close - pos_ - 1));
            pos_ = close + 1;
        } else {
            const auto start = pos_;
            while (pos_ < text_.size() && text_[pos_] != L',' && !IsLineEnd(text_[pos_])) ++pos_;
            field.assign(text_.substr(start, pos_ - start));
            while (!field.empty() && field.back() == L' ') field.pop_back();
        }
        SkipDelimiter();
        return field;
    }

private:
    void SkipDelimiter() {
        while (pos_ < text_.size() && text_[pos_] == L' ') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == L',') {
            ++pos_;
        } else if (pos_ < text_.size() && text_[pos_] == L'\r') {
            ++pos_;
            if (pos_ < text_.size() && text_[pos_] == L'\n') ++pos_;
        } else if (pos_ < text_.size() && text_[pos_] == L'\n') {
            ++pos_;
        }
    }

    std::wstring_view text_;
    std::size_t pos_ = 0;
};

std::optional<std::int32_t> ParseInt32(const std::wstring& field) {
    if (field.empty() || field.size() > 16) return std::nullopt;
    std::string narrow;
    for (wchar_t c : field) {
        if (c > 0x7F) return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    const char* first = narrow.data();
    const char* last = narrow.data() + narrow.size();
    if (*first == '+') ++first;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || end != last || first == last) return std::nullopt;
    return value;
}

} // namespace

std::optional<Settings> ParseSettings(std::string_view bytes, const AnsiCodec& codec) {
    const std::wstring text = codec.FromAnsi(bytes);
    FieldReader reader(text);
    const auto first = reader.Next();
    if (!first) return std::nullopt;
    const auto flags = ParseInt32(*first);
    // Only the window writes this file, and it writes 0 to 3; anything else was edited by hand.
    if (!flags || *flags < 0 || *flags > 3) return std::nullopt;
    auto folder = reader.Next();
    if (!folder || folder->empty()) return std::nullopt;
    // Extraction appends names straight to the folder, so it must end in a backslash.
    if (folder->back() != L'\\') folder->push_back(L'\\');
    return Settings{*flags, std::move(*folder)};
}

std::string FormatSettings(const Settings& settings, const AnsiCodec& codec) {
    const std::wstring text =
        std::to_wstring(settings.OptionFlags) + L"\r\n\"" + settings.DestFolder + L"\"\r\n";
    return codec.ToAnsi(text);
}

void ReadSettings(ModuleState& state, const ProgramLocation& program, SettingsStorage& storage,
                  const AnsiCodec& codec) {
    std::optional<Settings> read;
    if (const auto bytes = storage.ReadAll(SettingsFilePath(program))) read = ParseSettings(*bytes, codec);
    const Settings settings = read ? *read : DefaultSettings(program);
    state.OptionFlags = settings.OptionFlags;
    state.DestFolder = settings.DestFolder;
}

bool WriteSettings(const ModuleState& state, const ProgramLocation& program, SettingsStorage& storage,
                   const AnsiCodec& codec) {
    if (!codec.Holds(state.DestFolder)) return false;
    return storage.WriteAll(SettingsFilePath(program),
                            FormatSettings(Settings{state.OptionFlags, state.DestFolder}, codec));
}

} // namespace dexalo
