#include "win32/extract/extract_services.h"

namespace dexalo::win32 {

Win32Extraction::Win32Extraction(ModuleState& state)
    : extraction_(state, libraries_, files_, ansi_, lz_, shell_) {}

} // namespace dexalo::win32
