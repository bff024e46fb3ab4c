#include "win32/shell/shell_notify.h"

#include <windows.h>
#include <shlobj.h>

namespace dexalo::win32 {

void NotifyShellAssociationsChanged() {
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace dexalo::win32
