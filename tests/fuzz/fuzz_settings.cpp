// The settings file as anyone may have edited it: any bytes. Either both values come
// from the file, valid, or both are the defaults; never one of each.
#include <cstdint>

#include "fuzz_support.h"

using namespace dexalo;
using fuzz::Check;

const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};

struct OneFile : SettingsStorage {
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        Check(path == SettingsFilePath(kProgram) && !read, "the settings file is read once");
        return read = true, bytes;
    }
    bool WriteAll(const std::wstring&, const std::string&) override {
        return Check(false, "reading the settings never writes the file"), false;
    }
    std::string bytes;
    bool read = false;
};


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Latin1Codec codec;
    OneFile storage;
    storage.bytes.assign(reinterpret_cast<const char*>(data), size);
    const std::optional<Settings> parsed = ParseSettings(storage.bytes, codec);
    // What was read is written back on OK and must read back the same. (A Windows folder
    // name never holds a quotation mark, which the format cannot carry.)
    if (parsed && parsed->DestFolder.find(L'"') == std::wstring::npos) {
        const std::optional<Settings> again = ParseSettings(FormatSettings(*parsed, codec), codec);
        Check(again && again->OptionFlags == parsed->OptionFlags && again->DestFolder == parsed->DestFolder,
              "written settings read back unchanged");
    }
    ModuleState state{L"stale", -7, 0};
    ReadSettings(state, kProgram, storage, codec);
    Check(storage.read, "the settings file is read");
    const Settings expected = parsed.value_or(Settings{1, L"C:\\Program Files\\Dexalo\\"});
    Check(state.OptionFlags == expected.OptionFlags && state.DestFolder == expected.DestFolder,
          "both values from the file, or both defaults");
    Check(state.OptionFlags >= 0 && state.OptionFlags <= 3 && state.DestFolder.ends_with(L'\\'),
          "OptionFlags is 0 to 3, DestFolder ends in a backslash");
    return 0;
}
