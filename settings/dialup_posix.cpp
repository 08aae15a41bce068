#include "settings/dialup.h"

namespace settings {

// The native build has no dial-up networking; the program runs as on a
// Windows machine without RASAPI32.DLL.
int LoadDialupLibrary() { return 0; }
void UnloadDialupLibrary() {}
bool DialupLibraryLoaded() { return false; }
void CheckDialup() {}

}  // namespace settings
