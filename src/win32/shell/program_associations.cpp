#include "win32/shell/program_associations.h"

#include "win32/extract/extract_ansi.h"

namespace dexalo::win32 {

ProgramAssociations::ProgramAssociations(const ProgramLocation& program)
    : associations_(classRoot_,
                    RegistrableLocation(program, classRoot_,
                                        [](const std::wstring& folder) { return Win32AnsiPaths().ShortForm(folder); }),
                    &userClasses_) {}

} // namespace dexalo::win32
