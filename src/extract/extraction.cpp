#include "extract/extraction.h"

#include "extract/command_line.h"

namespace dexalo {

namespace {

// Longest path the platform takes; no marked name can exist beyond it.
constexpr std::size_t kLongestPath = 32767;

bool NextToArchive(std::int32_t flags) { return flags == 1 || flags == 3; }
bool OpenAfterwards(std::int32_t flags) { return flags >= 2; }

} // namespace

std::wstring MarkedName(const std::wstring& root, const std::wstring& name, ExtractFiles& files) {
    std::wstring marked = root + name.substr(0, name.empty() ? 0 : name.size() - 1) + L'#';
    while (marked.size() < kLongestPath && files.FileExists(marked)) marked += L'#';
    return marked;
}

Extraction::Extraction(ModuleState& state, ArchiverLibraries& libraries, ExtractFiles& files, AnsiPaths& ansi,
                       LzLibrary& lz, ExtractShell& shell)
    : state_(state), libraries_(libraries), files_(files), ansi_(ansi), lz_(lz), shell_(shell) {}

void Extraction::EXTRACT_FILE(const std::wstring& path) {
    // An empty piece of the command line would make the lookup list the current folder.
    if (path.empty()) return ShowNotExtractable();
    const auto name = files_.LookUpFile(path);
    if (!name) return ShowNotExtractable();

    // A path the ANSI-only libraries cannot receive would fail there unseen.
    const auto target = PrepareTarget(path, *name);
    if (!target) return ShowNotExtractable();

    const Recognition found = Recognise(libraries_, target->path);
    switch (found.type) {
    case ArchiveType::LZ: return ExpandLz(*target);
    case ArchiveType::JAK: return JoinSplitFile(*target);
    case ArchiveType::ISH: return ExtractIsh(*target);
    default: return ExtractWithCommandLine(found.type, found.entryCount, *target);
    }
}

std::optional<std::wstring> Extraction::AnsiForm(const std::wstring& text) {
    if (ansi_.FitsAnsi(text)) return text;
    auto shortForm = ansi_.ShortForm(text);
    if (shortForm && ansi_.FitsAnsi(*shortForm)) return shortForm;
    return std::nullopt;
}

std::optional<Extraction::Target> Extraction::PrepareTarget(const std::wstring& path, const std::wstring& name) {
    Target target;
    auto libraryPath = AnsiForm(path);
    if (!libraryPath) return std::nullopt;
    target.path = std::move(*libraryPath);

    // The name goes into sub-folder and output names; its own short form stands in for it.
    if (ansi_.FitsAnsi(name)) {
        target.name = name;
    } else {
        const auto shortFile = ansi_.ShortForm(ArchiveFolder(path) + name);
        if (!shortFile || !ansi_.FitsAnsi(*shortFile)) return std::nullopt;
        target.name = LastComponent(*shortFile);
    }

    if (NextToArchive(state_.OptionFlags)) {
        target.root = ArchiveFolder(target.path);
    } else {
        auto root = AnsiForm(state_.DestFolder);
        if (!root) return std::nullopt;
        target.root = std::move(*root);
    }
    return target;
}

void Extraction::ExtractWithCommandLine(ArchiveType type, std::int32_t entryCount, const Target& target) {
    EntryRecord record;
    const Placement placement =
        CheckSingleFolder(libraries_, type, target.path, entryCount, state_.MainWindowHandle, record);
    const std::wstring base = BaseName(target.name);
    const std::wstring destination = placement == Placement::Direct ? target.root : target.root + base + L"\\";
    const std::wstring shown = placement == Placement::Direct ? target.root : target.root + base;

    const auto result = libraries_.Run(LibraryOf(type), state_.MainWindowHandle,
                                       BuildCommandLine(type, target.path, destination, placement));
    OpenFolderAfterSuccess(result, shown);
}

void Extraction::ExtractIsh(const Target& target) {
    const std::wstring folder = target.root + BaseName(target.name);
    files_.MakeFolder(folder); // may exist already; the library extracts into it anyway
    const auto result =
        libraries_.Run(Library::Ish, state_.MainWindowHandle, BuildIshCommandLine(target.path, folder));
    OpenFolderAfterSuccess(result, folder);
}

void Extraction::JoinSplitFile(const Target& target) {
    const auto result = libraries_.JackCombine(target.path, target.root);
    OpenFolderAfterSuccess(result, target.root);
}

void Extraction::ExpandLz(const Target& target) {
    // Without the signature lz32 would copy the whole file only for it to be deleted again.
    const std::string head = files_.ReadHead(target.path, kLzSignatureLength);
    if (head != std::string_view(kLzSignature, kLzSignatureLength)) return ShowNotLz();

    const std::wstring marked = MarkedName(target.root, target.name, files_);
    const std::int32_t source = lz_.LzOpen(target.path, LzLibrary::kRead).value_or(-1);
    const std::int32_t output = lz_.LzOpen(marked, LzLibrary::kCreate).value_or(-1);
    std::int32_t result = -1;
    if (source >= 0 && output >= 0) result = lz_.LzCopy(source, output).value_or(-1);
    if (output >= 0) lz_.LzClose(output);
    if (source >= 0) lz_.LzClose(source);

    // An unchanged length means the library copied rather than expanded.
    const auto length = files_.FileLength(target.path);
    if (result >= 0 && (!length || *length != result)) {
        if (OpenAfterwards(state_.OptionFlags)) shell_.StartProgram(ExplorerCommandLine(ArchiveFolder(marked)));
        return;
    }
    // Only a file this call created is removed; a name taken in the meantime is left alone.
    if (output >= 0) files_.RemoveFile(marked);
    ShowNotLz();
}

void Extraction::OpenFolderAfterSuccess(const std::optional<std::int32_t>& result, const std::wstring& folder) {
    // A library may succeed without writing anything (a later piece of a set it handled
    // already): a folder that is not there is never shown.
    if (result && *result == 0 && OpenAfterwards(state_.OptionFlags) && files_.FolderExists(folder)) {
        shell_.StartProgram(ExplorerCommandLine(folder));
    }
}

void Extraction::ShowNotExtractable() {
    shell_.ShowMessage(state_.MainWindowHandle, kNotExtractableText, kErrorTitle, kStopStyle);
}

void Extraction::ShowNotLz() { shell_.ShowMessage(state_.MainWindowHandle, kNotLzText, kProgramTitle, kStopStyle); }

} // namespace dexalo
