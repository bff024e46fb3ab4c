#pragma once

namespace dexalo::win32 {

// Tells Explorer that file associations changed, so it reloads icons and verbs.
void NotifyShellAssociationsChanged();

} // namespace dexalo::win32
