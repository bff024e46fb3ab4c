// The argument text as the shell or a user passes it: any text. It is cut exactly at the
// blanks outside quotation marks, which are dropped; nothing else is lost or invented.
// The first byte drives the host: whether the whole text names a file, and which
// extractions fail.
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "startup/main.h"

using namespace dexalo;
using fuzz::Check;

struct Host : StartupHost, SettingsStorage {
    std::optional<std::string> ReadAll(const std::wstring&) override { return log.push_back(L"settings"), std::nullopt; }
    bool WriteAll(const std::wstring&, const std::string&) override { return false; }
    ProgramLocation Program() override { return {L"C:\\Dexalo", L"Dexalo"}; }
    std::wstring ArgumentText() override { return text; }
    bool IsExistingFile(const std::wstring& path) override {
        Check(path == text, "only the whole text is looked up as a file");
        return asked = true, control & 1;
    }
    void ExtractFile(const std::wstring& path) override {
        Check(log == std::vector<std::wstring>{L"settings"}, "the settings are read first, no window");
        extracted.push_back(path);
        // Bits 1 to 7 pick the extractions that fail, round and round.
        if ((control >> (1 + (extracted.size() - 1) % 7)) & 1) throw std::runtime_error("extraction failed");
    }
    void LoadWindow() override { log.push_back(L"window"); }
    std::wstring text;
    std::uint8_t control = 0;
    std::vector<std::wstring> log, extracted;
    bool asked = false;
};


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Host host;
    host.control = data[0];
    host.text = fuzz::Widen({reinterpret_cast<const char*>(data) + 1, size - 1});
    std::vector<std::wstring> pieces(1);
    bool quoted = false;
    for (const wchar_t c : host.text) {
        if (c == L'"') quoted = !quoted;
        else if (c == L' ' && !quoted) pieces.emplace_back();
        else pieces.back().push_back(c);
    }
    Check(SplitArguments(host.text) == pieces, "cut at the blanks outside quotes, quotation marks dropped");

    ModuleState state;
    const RunMode mode = Main(state, host, host, fuzz::Latin1Codec{});
    Check(state.OptionFlags == 1 && state.DestFolder == L"C:\\Dexalo\\", "no settings file: defaults");
    if (host.text.empty()) {
        Check(mode == RunMode::Window && host.log == std::vector<std::wstring>{L"settings", L"window"},
              "no arguments: the window after the settings");
    } else {
        // A path with blanks that names a file is passed whole; otherwise every piece once, in
        // order, even after failures.
        Check(mode == RunMode::CommandLine && host.log.size() == 1, "arguments: no window");
        Check(host.extracted == (host.asked && (data[0] & 1) ? std::vector<std::wstring>{host.text} : pieces),
              "each piece extracted once, in order, or the existing file whole");
    }
    return 0;
}
