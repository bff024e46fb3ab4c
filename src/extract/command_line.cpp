#include "extract/command_line.h"

namespace dexalo {

std::wstring ArchiveFolder(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash + 1);
}

std::wstring LastComponent(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring BaseName(const std::wstring& name) {
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring_view OptionText(ArchiveType type) {
    switch (type) {
    case ArchiveType::LZH: return L"x -a1 -gq1 -m1 ";
    case ArchiveType::ZIP: return L"-u -qq ";
    case ArchiveType::CAB: return L"-x -n ";
    case ArchiveType::TAR: return L"x -f ";
    case ArchiveType::ARJ: return L"x -u+ -hq+ -y+ ";
    case ArchiveType::RAR: return L"x -u ";
    case ArchiveType::BGA: return L"x -n ";
    case ArchiveType::YZ1: return L"x ";
    default: return L"";
    }
}

std::wstring BuildCommandLine(ArchiveType type, const std::wstring& path, const std::wstring& destination,
                              Placement placement) {
    std::wstring line{OptionText(type)};
    line += L'"';
    line += path;
    line += L"\" ";
    if (type == ArchiveType::YZ1 && placement == Placement::Direct) {
        // Unquoted, an empty destination would leave a lone backslash: the drive's root,
        // not the current folder the other libraries read "" as.
        line += destination.empty() ? std::wstring(L".\\") : destination;
        line += L'\\';
    } else {
        line += L'"';
        line += destination;
        line += L'"';
    }
    return line;
}

std::wstring BuildIshCommandLine(const std::wstring& path, const std::wstring& folder) {
    return path + L" /f=" + folder + L"\\";
}

std::wstring ExplorerCommandLine(const std::wstring& folder) {
    // Explorer reads a comma as the end of the folder; only then is the folder quoted.
    if (folder.find(L',') != std::wstring::npos) return L"explorer /n,\"" + folder + L"\"";
    return L"explorer /n," + folder;
}

} // namespace dexalo
