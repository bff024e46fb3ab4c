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

// The key whose default value is the command of our verb.
std::wstring CommandKey(std::wstring_view progId) {
    return std::wstring(progId) + L"\\Shell\\" + std::wstring(kShellVerb) + L"\\command";
}

} // namespace

ProgramLocation RegistrableLocation(ProgramLocation program, ClassRoot& root,
                                    const std::function<std::optional<std::wstring>(const std::wstring&)>& shortForm) {
    if (root.Carries(program.folder)) return program;
    if (auto folder = shortForm(program.folder); folder && root.Carries(*folder)) program.folder = std::move(*folder);
    return program;
}

Associations::Associations(ClassRoot& root, ProgramLocation program, ClassRoot* userClasses)
    : root_(root), program_(std::move(program)), userClasses_(userClasses) {}

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
    const std::wstring command = Vanto_GETREG(root_, CommandKey(progId));

    // Earlier versions joined with a plain "\", which doubles it at a drive root.
    const std::wstring legacyIcon = program_.folder + L"\\" + SettingsIconTail(type);
    return extension == progId && (icon == IconValue(typeIndex) || icon == legacyIcon) && shell == verb &&
           IsOurCommand(command);
}

bool Associations::IsOurCommand(const std::wstring& command) const {
    return command == CommandValue() || command == LegacyCommandValue();
}

bool Associations::VerbStartsProgram(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    return IsOurCommand(Vanto_GETREG(root_, CommandKey(kAssociationTable[typeIndex].ProgID)));
}

std::vector<Associations::Write> Associations::RowWrites(int typeIndex) const {
    const AssociationType& type = kAssociationTable[typeIndex];
    const std::wstring progId(type.ProgID);
    const std::wstring verb(kShellVerb);
    std::vector<Write> writes;
    for (std::wstring_view extension : type.extensions) {
        writes.push_back({std::wstring(extension), L"", progId});
        writes.push_back({std::wstring(extension), std::wstring(kContentTypeValue), std::wstring(type.contentType)});
    }
    writes.push_back({progId, L"", std::wstring(type.description)});
    writes.push_back({progId + L"\\DefaultIcon", L"", IconValue(typeIndex)});
    writes.push_back({progId + L"\\Shell", L"", verb});
    writes.push_back({CommandKey(progId), L"", CommandValue()});
    return writes;
}

bool Associations::WriteRow(ClassRoot& root, const AssociationType& type, const std::vector<Write>& writes,
                            bool& denied) {
    // Every write runs even after one failed, so a partly writable root gets what it can take.
    bool ok = true;
    const auto write = [&](const std::wstring& subKey, const std::wstring& name, const std::wstring& data) {
        const RegistryChange change = Vanto_SEBU(root, subKey, name, data);
        if (change) return;
        ok = false;
        denied = denied || change.status == RegistryStatus::Denied;
    };
    for (const Write& each : writes) {
        // Taking an extension from another program keeps its ProgID, to put back on removal.
        if (each.name.empty() && each.data == type.ProgID && each.subKey.starts_with(L'.')) {
            const std::wstring previous = root.ReadValue(each.subKey, L"").text;
            if (!previous.empty() && previous != type.ProgID)
                write(each.subKey, std::wstring(kPreviousProgIdValue), previous);
        }
        write(each.subKey, each.name, each.data);
    }
    return ok;
}

bool Associations::Register(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    const AssociationType& type = kAssociationTable[typeIndex];
    const std::vector<Write> writes = RowWrites(typeIndex);
    // All or nothing: a row cut short could leave an extension naming a ProgID without a verb.
    for (const Write& write : writes)
        if (!root_.Carries(write.subKey) || !root_.Carries(write.name) || !root_.Carries(write.data)) return false;

    bool denied = false;
    if (WriteRow(root_, type, writes, denied)) return true;
    if (!denied || userClasses_ == nullptr) return false;
    // A standard user may not write the machine-wide classes: the user's own take the row.
    bool ignored = false;
    return WriteRow(*userClasses_, type, writes, ignored);
}

bool Associations::RemoveExtension(ClassRoot& root, const AssociationType& type, const std::wstring& extension) {
    // An extension that another program has taken over since is not ours to remove.
    if (root.ReadValue(extension, L"") != type.ProgID) return true;

    const std::wstring previousName(kPreviousProgIdValue);
    const std::wstring contentTypeName(kContentTypeValue);
    const std::wstring previous = root.ReadValue(extension, previousName).text;
    // The handler we took the extension from goes back, if it is still installed.
    bool ok = static_cast<bool>(!previous.empty() && previous != type.ProgID && root_.ValueNames(previous).has_value()
                                    ? root.WriteString(extension, L"", previous)
                                    : root.DeleteValue(extension, L""));
    if (root.ReadValue(extension, contentTypeName) == type.contentType && !root.DeleteValue(extension, contentTypeName))
        ok = false;
    if (!previous.empty() && !root.DeleteValue(extension, previousName)) ok = false;

    // The key itself only when nothing of others is left in it: no value, no sub-key.
    const auto names = root.ValueNames(extension);
    if (ok && names && names->empty() && !root.HasSubKeys(extension)) ok = static_cast<bool>(root.DeleteKey(extension));
    return ok;
}

bool Associations::Remove(int typeIndex) {
    if (!ValidIndex(typeIndex)) return false;
    const AssociationType& type = kAssociationTable[typeIndex];
    bool ok = true;
    for (ClassRoot* root : {&root_, userClasses_}) {
        if (root == nullptr) continue;
        for (std::wstring_view name : type.removalOrder) {
            const std::wstring key(name);
            const bool removed =
                name == type.ProgID ? static_cast<bool>(root->DeleteTree(key)) : RemoveExtension(*root, type, key);
            if (!removed) ok = false;
        }
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

bool RemoveEveryAssociation(Associations& associations) {
    std::array<std::int32_t, kAssociationTypeCount> ours{};
    for (int i = 0; i < kAssociationTypeCount; ++i) ours[i] = associations.VerbStartsProgram(i) ? 1 : 0;
    return associations.Apply({}, ours);
}

} // namespace dexalo
