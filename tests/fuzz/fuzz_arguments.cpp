// The argument text as the shell or a user passes it: any text. Cutting it loses no
// character and invents none: the pieces joined with single blanks give back the text
// without its quotation marks, and the joins sit exactly at the blanks outside quotes.
// The first byte drives the host: whether the whole text names a file, and which
// extractions fail.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "latin1.h"
#include "startup/main.h"

namespace {

using namespace dexalo;

void CheckPieces(const std::wstring& text, const std::vector<std::wstring>& pieces) {
    // What the pieces must add up to: the text without quotation marks, and for each of
    // its characters whether it was a blank outside quotes (a cut).
    std::wstring unquoted;
    std::vector<std::size_t> cuts;
    bool quoted = false;
    for (const wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
            continue;
        }
        if (c == L' ' && !quoted) cuts.push_back(unquoted.size());
        unquoted.push_back(c);
    }

    FUZZ_CHECK(pieces.size() == cuts.size() + 1, "one piece more than blanks outside quotes");
    std::wstring joined;
    std::vector<std::size_t> joins;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            joins.push_back(joined.size());
            joined.push_back(L' ');
        }
        FUZZ_CHECK(pieces[i].find(L'"') == std::wstring::npos, "quotation marks are dropped");
        joined += pieces[i];
    }
    FUZZ_CHECK(joined == unquoted, "the pieces joined give back the text");
    FUZZ_CHECK(joins == cuts, "the text is cut exactly at the blanks outside quotes");
    if (text.find(L'"') == std::wstring::npos) FUZZ_CHECK(joined == text, "unquoted text comes back exactly");
}

class NoFile : public SettingsStorage {
public:
    explicit NoFile(std::vector<std::wstring>& log) : log_(log) {}
    std::optional<std::string> ReadAll(const std::wstring&) override {
        log_.push_back(L"settings");
        return std::nullopt;
    }
    bool WriteAll(const std::wstring&, const std::string&) override { return false; }

private:
    std::vector<std::wstring>& log_;
};

class Host : public StartupHost {
public:
    Host(std::wstring text, std::uint8_t control) : text_(std::move(text)), control_(control) {}
    ProgramLocation Program() override { return {L"C:\\Dexalo", L"Dexalo"}; }
    std::wstring ArgumentText() override { return text_; }
    bool IsExistingFile(const std::wstring& path) override {
        FUZZ_CHECK(path == text_, "only the whole text is looked up as a file");
        asked = true;
        return (control_ & 1) != 0;
    }
    void ExtractFile(const std::wstring& path) override {
        FUZZ_CHECK(log.size() >= 1 && log.front() == L"settings", "the settings are read first");
        log.push_back(path);
        extracted.push_back(path);
        // Bits 1 to 7 pick the extractions that fail, round and round.
        if ((control_ >> (1 + (extracted.size() - 1) % 7)) & 1) throw std::runtime_error("extraction failed");
    }
    void LoadWindow() override {
        FUZZ_CHECK(log.size() == 1 && log.front() == L"settings", "the window loads after the settings, alone");
        log.push_back(L"window");
    }
    std::vector<std::wstring> log;
    std::vector<std::wstring> extracted;
    bool asked = false;

private:
    std::wstring text_;
    std::uint8_t control_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::wstring text = fuzz::Widen({reinterpret_cast<const char*>(data) + 1, size - 1});

    const std::vector<std::wstring> pieces = SplitArguments(text);
    CheckPieces(text, pieces);

    Host host(text, control);
    NoFile storage(host.log);
    ModuleState state;
    const RunMode mode = Main(state, host, storage, fuzz::Latin1Codec{});
    FUZZ_CHECK(state.OptionFlags == 1 && state.DestFolder == L"C:\\Dexalo\\", "no settings file: defaults");
    if (text.empty()) {
        FUZZ_CHECK(mode == RunMode::Window && host.extracted.empty() && host.log.back() == L"window",
                   "no arguments: the window, nothing extracted");
        return 0;
    }
    FUZZ_CHECK(mode == RunMode::CommandLine && host.log.back() != L"window", "arguments: no window");
    if (host.asked && (control & 1) != 0) {
        // A path with blanks that names a file is passed whole.
        FUZZ_CHECK(host.extracted == std::vector<std::wstring>{text}, "an existing file is one piece");
    } else {
        // Every piece once, in order, even after failures.
        FUZZ_CHECK(host.extracted == pieces, "each piece is extracted once, in order");
    }
    return 0;
}
