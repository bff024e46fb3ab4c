#pragma once
// The associations of one installed copy of the program, reached the same way by the settings
// window and by the uninstaller's helper, so that both see the same keys and the same texts.
#include "shell/associations.h"
#include "startup/module.h"
#include "win32/shell/registry_class_root.h"

namespace dexalo::win32 {

class ProgramAssociations {
public:
    // The class root, with the user's own classes for when it refuses writes; the program's
    // folder in the form the class root can carry.
    explicit ProgramAssociations(const ProgramLocation& program);
    ProgramAssociations(const ProgramAssociations&) = delete;
    ProgramAssociations& operator=(const ProgramAssociations&) = delete;

    Associations& get() { return associations_; }

private:
    RegistryClassRoot classRoot_;
    RegistryClassRoot userClasses_{RegistryClassRoot::Scope::UserClasses};
    Associations associations_;
};

} // namespace dexalo::win32
