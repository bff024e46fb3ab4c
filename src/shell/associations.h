#pragma once
// Registering, removing and testing the file associations of the ten archive types.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/association_table.h"
#include "shell/class_root.h"
#include "startup/module.h"

namespace dexalo {

// A value of our own on an extension key: the ProgID that registration took the extension from.
inline constexpr std::wstring_view kPreviousProgIdValue = L"Dexalo.PreviousProgID";

// The program as the class root can carry it: a folder it cannot is replaced by the folder's
// short (8.3) form, when that one can be carried, as extraction does for the libraries.
ProgramLocation RegistrableLocation(ProgramLocation program, ClassRoot& root,
                                    const std::function<std::optional<std::wstring>(const std::wstring&)>& shortForm);

class Associations {
public:
    // userClasses: the user's own classes (HKEY_CURRENT_USER\Software\Classes), which Windows
    // merges into the class root; used when the machine-wide classes refuse a write.
    Associations(ClassRoot& root, ProgramLocation program, ClassRoot* userClasses = nullptr);

    // True when type typeIndex is associated with this program as installed now. Always reads
    // all four values, in order: the first extension, DefaultIcon, Shell, the verb's command.
    bool IsAssociated(int typeIndex);
    // True when type typeIndex's verb starts this program, whichever extensions still name it.
    bool VerbStartsProgram(int typeIndex);

    // Row i is registered when checkValues[i] is 1, else removed when AssocState[i] is 1, else
    // left alone. Tells the shell when anything was touched. False when any write or removal
    // failed; the remaining rows still run.
    bool Apply(const std::array<int, kAssociationTypeCount>& checkValues,
               const std::array<std::int32_t, kAssociationTypeCount>& AssocState);

    // One row each; false when any of its writes or removals failed. A row is written all or
    // nothing: one whose text the root cannot carry writes nothing. Removal takes ours from
    // both the class root and the user's classes.
    bool Register(int typeIndex);
    bool Remove(int typeIndex);

    // What registration writes for the icon and the verb's command.
    std::wstring IconValue(int typeIndex) const;
    std::wstring CommandValue() const;       // "<folder>\<name>.exe" "%1"
    std::wstring LegacyCommandValue() const; // <folder>\<name> %1, as earlier versions wrote it

private:
    bool IsOurCommand(const std::wstring& command) const;
    struct Write {
        std::wstring subKey, name, data;
    };
    std::vector<Write> RowWrites(int typeIndex) const;
    // denied: some write was refused for want of rights.
    bool WriteRow(ClassRoot& root, const AssociationType& type, const std::vector<Write>& writes, bool& denied);
    bool RemoveExtension(ClassRoot& root, const AssociationType& type, const std::wstring& extension);

    ClassRoot& root_;
    ProgramLocation program_;
    ClassRoot* userClasses_;
};

// What unticking every box in the window does, for all ten types whether or not their
// libraries are there, and also for a type whose first extension another program has taken
// since: each type whose verb starts this program is removed, so its extensions go back to
// the handlers they had before. For the uninstaller, before the program's files go. False when
// any removal failed.
bool RemoveEveryAssociation(Associations& associations);

} // namespace dexalo
