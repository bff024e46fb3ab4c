// The settings file as anyone may have edited it: any bytes. Either both values come
// from the file, valid, or both are the defaults; never one of each.
#include <cstdint>

#include "fuzz_support.h"

namespace {

using namespace dexalo;

class OneFile : public SettingsStorage {
public:
    explicit OneFile(std::string_view bytes) : bytes_(bytes) {}
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        FUZZ_CHECK(path == SettingsFilePath(kProgram) && !read, "the settings file is read once");
        read = true;
        return bytes_;
    }
    bool WriteAll(const std::wstring&, const std::string&) override {
        FUZZ_CHECK(false, "reading the settings never writes the file");
        return false;
    }
    static inline const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo", L"Dexalo"};
    bool read = false;

private:
    std::string bytes_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fuzz::Latin1Codec codec;

    const std::optional<Settings> parsed = ParseSettings(bytes, codec);
    if (parsed) {
        FUZZ_CHECK(parsed->OptionFlags >= 0 && parsed->OptionFlags <= 3, "OptionFlags read is 0 to 3");
        FUZZ_CHECK(parsed->DestFolder.ends_with(L'\\'), "DestFolder read ends in a backslash");
        // What was read is written back on OK and must read back the same. (A Windows
        // folder name never holds a quotation mark, which the format cannot carry.)
        if (parsed->DestFolder.find(L'"') == std::wstring::npos) {
            const std::optional<Settings> again = ParseSettings(FormatSettings(*parsed, codec), codec);
            FUZZ_CHECK(again && again->OptionFlags == parsed->OptionFlags && again->DestFolder == parsed->DestFolder,
                       "written settings read back unchanged");
        }
    }

    OneFile storage(bytes);
    ModuleState state{L"stale", -7, 0};
    ReadSettings(state, OneFile::kProgram, storage, codec);
    FUZZ_CHECK(storage.read, "the settings file is read");
    if (parsed) {
        FUZZ_CHECK(state.OptionFlags == parsed->OptionFlags && state.DestFolder == parsed->DestFolder,
                   "both values come from the file");
    } else {
        FUZZ_CHECK(state.OptionFlags == 1 && state.DestFolder == L"C:\\Program Files\\Dexalo\\",
                   "both values are the defaults");
    }
    return 0;
}
