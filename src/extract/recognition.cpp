#include "extract/recognition.h"

#include <array>

namespace dexalo {

namespace {

enum class Probe { Count, Check };

struct ProbeStep {
    ArchiveType type;
    Probe probe;
};

// BGA comes before ISH, RAR and YZ1, and ARJ last but one: a file two libraries would
// take goes to the one asked first.
constexpr std::array<ProbeStep, 10> kProbeOrder{{
    {ArchiveType::LZH, Probe::Count},
    {ArchiveType::ZIP, Probe::Count},
    {ArchiveType::CAB, Probe::Count},
    {ArchiveType::TAR, Probe::Count},
    {ArchiveType::BGA, Probe::Count},
    {ArchiveType::ISH, Probe::Check},
    {ArchiveType::RAR, Probe::Count},
    {ArchiveType::YZ1, Probe::Count},
    {ArchiveType::ARJ, Probe::Count},
    {ArchiveType::JAK, Probe::Check},
}};

} // namespace

Recognition Recognise(ArchiverLibraries& libraries, const std::wstring& path) {
    for (const ProbeStep& step : kProbeOrder) {
        const Library lib = LibraryOf(step.type);
        if (step.probe == Probe::Count) {
            const auto count = libraries.GetFileCount(lib, path);
            if (count && *count >= 1) return {step.type, *count};
        } else {
            const auto answer = libraries.CheckArchive(lib, path, 0);
            if (answer && *answer == 1) return {step.type, 0};
        }
    }
    return {};
}

} // namespace dexalo
