#pragma once
// Registering, removing and testing the file associations of the ten archive types.
#include <array>
#include <cstdint>
#include <string>

#include "shell/association_table.h"
#include "shell/class_root.h"
#include "startup/module.h"

namespace dexalo {

class Associations {
public:
    Associations(ClassRoot& root, ProgramLocation program);

    // True when type typeIndex is associated with this program as installed now. Always reads
    // all four values, in order: the first extension, DefaultIcon, Shell, the verb's command.
    bool IsAssociated(int typeIndex);

    // Row i is registered when checkValues[i] is 1, else removed when AssocState[i] is 1, else
    // left alone. Tells the shell when anything was touched. False when any write or removal
    // failed; the remaining rows still run.
    bool Apply(const std::array<int, kAssociationTypeCount>& checkValues,
               const std::array<std::int32_t, kAssociationTypeCount>& AssocState);

    // One row each; false when any of its writes or removals failed.
    bool Register(int typeIndex);
    bool Remove(int typeIndex);

    // What registration writes for the icon and the verb's command.
    std::wstring IconValue(int typeIndex) const;
    std::wstring CommandValue() const;       // "<folder>\<name>.exe" "%1"
    std::wstring LegacyCommandValue() const; // <folder>\<name> %1, as earlier versions wrote it

private:
    bool RemoveExtension(const AssociationType& type, const std::wstring& extension);

    ClassRoot& root_;
    ProgramLocation program_;
};

} // namespace dexalo
