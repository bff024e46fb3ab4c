#include "shell/associations.h"

#include <utility>

#include "shell/registry.h"

namespace dexalo {
namespace {

bool ValidIndex(int typeIndex) { return typeIndex >= 0 && typeIndex < kAssociationTypeCount; }

// folder + "\" + tail, without doubling the separator of a drive root such as "C:\".
std::wstring JoinPath(const std::wstring& folder, std::wstring_view tail) {
    std::wstring path = folder;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += tail;
    return path;
}

std::wstring SettingsIconTail(const AssociationType& type) {
    return L"設定フォルダ\\" + std::wstring(type.iconFile) + L",0";
}

} // namespace

Associations::Associations(ClassRoot& root, ProgramLocation program)
    : root_(root), program_(std::move(program)) {}

std::wstring Associations::IconValue(int typeIndex) const {
    if (!ValidIndex(typeIndex)) return {};
    return JoinPath(program_.folder, SettingsIconTail(kAssociationTable[typeIndex]));
}

std::wstring Associations::CommandValue() const {
    // Quoted, so that a path with blanks neither runs a planted "C:\Program.exe" nor reaches
    // the program cut into pieces.
    return L"\"" + JoinPath(program_.folder, program_.name + L".exe") + L"\" \"%1\"";
}

std::wstring Associations::LegacyCommandValue() const {
    return program_.folder + L"\\" + program_.name + L" %1";
}

bool Associations::IsAssociated(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    const AssociationType& type = kAssociationTable[typeIndex];
    const std::wstring progId(type.ProgID);
    const std::wstring verb(kShellVerb);

    // All four are read before any is compared.
    const std::wstring extension = Vanto_GETREG(root_, std::wstring(type.extensions.front()));
    const std::wstring icon = Vanto_GETREG(root_, progId + L"\\DefaultIcon");
    const std::wstring shell = Vanto_GETREG(root_, progId + L"\\Shell");
    const std::wstring command = Vanto_GETREG(root_, progId + L"\\Shell\\" + verb + L"\\command");

    // Earlier versions joined with a plain "\", which doubles it at a drive root.
    const std::wstring legacyIcon = program_.folder + L"\\" + SettingsIconTail(type);
    return extension == progId && (icon == IconValue(typeIndex) || icon == legacyIcon) &&
           shell == verb && (command == CommandValue() || command == LegacyCommandValue());
}

bool Associations::Register(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    const AssociationType& type = kAssociationTable[typeIndex];
    const std::wstring progId(type.ProgID);
    const std::wstring verb(kShellVerb);
    const std::wstring contentTypeName(kContentTypeValue);

    // Every write runs even after one failed, so a partly writable root gets what it can take.
    bool ok = true;
    auto write = [&](const std::wstring& subKey, const std::wstring& name, const std::wstring& data) {
        if (!Vanto_SEBU(root_, subKey, name, data)) ok = false;
    };
    for (std::wstring_view extension : type.extensions) {
        write(std::wstring(extension), L"", progId);
        write(std::wstring(extension), contentTypeName, std::wstring(type.contentType));
    }
    write(progId, L"", std::wstring(type.description));
    write(progId + L"\\DefaultIcon", L"", IconValue(typeIndex));
    write(progId + L"\\Shell", L"", verb);
    write(progId + L"\\Shell\\" + verb + L"\\command", L"", CommandValue());
    return ok;
}

bool Associations::RemoveExtension(const AssociationType& type, const std::wstring& extension) {
    // An extension that another program has taken over since is not ours to remove.
    if (Vanto_GETREG(root_, extension) != type.ProgID) return true;
    if (!root_.HasSubKeys(extension)) return root_.DeleteKey(extension);

    // Sub-keys belong to others (ShellNew, OpenWithProgids...): take back only our two values.
    const std::wstring contentTypeName(kContentTypeValue);
    bool ok = root_.DeleteValue(extension, L"");
    if (root_.ReadValue(extension, contentTypeName) == type.contentType &&
        !root_.DeleteValue(extension, contentTypeName)) {
        ok = false;
    }
    return ok;
}

bool Associations::Remove(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    const AssociationType& type = kAssociationTable[typeIndex];
    bool ok = true;
    for (std::wstring_view name : type.removalOrder) {
        const std::wstring key(name);
        const bool removed = name == type.ProgID ? root_.DeleteTree(key) : RemoveExtension(type, key);
        if (!removed) ok = false;
    }
    return ok;
}

bool Associations::Apply(const std::array<int, kAssociationTypeCount>& checkValues,
                         const std::array<std::int32_t, kAssociationTypeCount>& AssocState) {
    bool ok = true;
    bool touched = false;
    for (int i = 0; i < kAssociationTypeCount; ++i) {
        // Only 1 registers: a greyed box (2) counts as unchecked.
        if (checkValues[i] == 1) {
            if (!Register(i)) ok = false;
            touched = true;
        } else if (AssocState[i] == 1) {
            if (!Remove(i)) ok = false;
            touched = true;
        }
    }
    if (touched) root_.NotifyAssociationsChanged();
    return ok;
}

} // namespace dexalo
