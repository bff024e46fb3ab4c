// The argument text as the shell or a user passes it: any text. It is cut exactly at the
// blanks outside quotation marks, which are dropped; nothing else is lost or invented.
// The first byte drives the host: whether the whole text names a file, and which
// extractions fail.
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "startup/main.h"

namespace {

using namespace dexalo;

class Host : public StartupHost, public SettingsStorage {
public:
    Host(std::wstring text, std::uint8_t control) : text_(std::move(text)), control_(control) {}
    std::optional<std::string> ReadAll(const std::wstring&) override { return log.push_back(L"settings"), std::nullopt; }
    bool WriteAll(const std::wstring&, const std::string&) override { return false; }
    ProgramLocation Program() override { return {L"C:\\Dexalo", L"Dexalo"}; }
    std::wstring ArgumentText() override { return text_; }
    bool IsExistingFile(const std::wstring& path) override {
        FUZZ_CHECK(path == text_, "only the whole text is looked up as a file");
        asked = true;
        return control_ & 1;
    }
    void ExtractFile(const std::wstring& path) override {
        FUZZ_CHECK(!log.empty() && log.front() == L"settings", "the settings are read first");
        extracted.push_back(path);
        // Bits 1 to 7 pick the extractions that fail, round and round.
        if ((control_ >> (1 + (extracted.size() - 1) % 7)) & 1) throw std::runtime_error("extraction failed");
    }
    void LoadWindow() override { log.push_back(L"window"); }
    std::vector<std::wstring> log, extracted;
    bool asked = false;

private:
    std::wstring text_;
    std::uint8_t control_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::wstring text = fuzz::Widen({reinterpret_cast<const char*>(data) + 1, size - 1});
    std::vector<std::wstring> expected(1);
    bool quoted = false;
    for (const wchar_t c : text) {
        if (c == L'"') quoted = !quoted;
        else if (c == L' ' && !quoted) expected.emplace_back();
        else expected.back().push_back(c);
    }
    FUZZ_CHECK(SplitArguments(text) == expected, "cut at the blanks outside quotes, quotation marks dropped");

    Host host(text, data[0]);
    ModuleState state;
    const RunMode mode = Main(state, host, host, fuzz::Latin1Codec{});
    FUZZ_CHECK(state.OptionFlags == 1 && state.DestFolder == L"C:\\Dexalo\\", "no settings file: defaults");
    if (text.empty()) {
        FUZZ_CHECK(mode == RunMode::Window && host.extracted.empty() &&
                       host.log == std::vector<std::wstring>({L"settings", L"window"}),
                   "no arguments: the window after the settings, nothing extracted");
    } else if (host.asked && (data[0] & 1)) {
        FUZZ_CHECK(mode == RunMode::CommandLine && host.extracted == std::vector<std::wstring>{text},
                   "a path with blanks that names a file is passed whole, no window");
    } else {
        FUZZ_CHECK(mode == RunMode::CommandLine && host.extracted == expected && host.log.size() == 1,
                   "each piece is extracted once, in order, even after failures; no window");
    }
    return 0;
}
