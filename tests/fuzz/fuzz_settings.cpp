// The settings file as anyone may have edited it: any bytes. Either both values come
// from the file, valid, or both are the defaults; never one of each.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "latin1.h"
#include "startup/settings.h"

namespace {

using namespace dexalo;

class OneFile : public SettingsStorage {
public:
    explicit OneFile(std::string_view bytes) : bytes_(bytes) {}
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        ++reads;
        readPath = path;
        return bytes_;
    }
    bool WriteAll(const std::wstring&, const std::string&) override {
        FUZZ_CHECK(false, "reading the settings never writes the file");
        return false;
    }
    int reads = 0;
    std::wstring readPath;

private:
    std::string bytes_;
};

const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fuzz::Latin1Codec codec;

    const std::optional<Settings> parsed = ParseSettings(bytes, codec);
    if (parsed) {
        FUZZ_CHECK(parsed->OptionFlags >= 0 && parsed->OptionFlags <= 3, "OptionFlags read is 0 to 3");
        FUZZ_CHECK(!parsed->DestFolder.empty() && parsed->DestFolder.back() == L'\\',
                   "DestFolder read is not empty and ends in a backslash");
        // Whatever was read is what the window writes back on OK; it must read back the
        // same. (A Windows folder name never holds a quotation mark, the one thing the
        // file format cannot carry.)
        if (parsed->DestFolder.find(L'"') == std::wstring::npos) {
            const std::optional<Settings> again = ParseSettings(FormatSettings(*parsed, codec), codec);
            FUZZ_CHECK(again && again->OptionFlags == parsed->OptionFlags && again->DestFolder == parsed->DestFolder,
                       "written settings read back unchanged");
        }
    }

    OneFile storage(bytes);
    ModuleState state;
    state.OptionFlags = -7;
    state.DestFolder = L"stale";
    ReadSettings(state, kProgram, storage, codec);
    FUZZ_CHECK(storage.reads == 1 && storage.readPath == SettingsFilePath(kProgram), "the settings file is read once");
    if (parsed) {
        FUZZ_CHECK(state.OptionFlags == parsed->OptionFlags && state.DestFolder == parsed->DestFolder,
                   "both values come from the file");
    } else {
        FUZZ_CHECK(state.OptionFlags == 1 && state.DestFolder == kProgram.folder + L"\\",
                   "both values are the defaults");
    }
    return 0;
}
