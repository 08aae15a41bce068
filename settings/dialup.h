// The dial-up networking library (RASAPI32.DLL), loaded once when the main
// window is created and unloaded when it is destroyed. Without the library
// every dial-up feature does nothing; the native build never has it.
#pragma once

namespace settings {

// Returns 0 with the library loaded and all its functions found, or with no
// library at all; -1 (after telling the user which function is missing) when
// the library lacks one of them, in which case the program must end.
int LoadDialupLibrary();
void UnloadDialupLibrary();
bool DialupLibraryLoaded();

// The dial-up check that every transfer worker makes before each attempt; the
// attempt goes on whatever happens here, and several workers may call it at
// once: the checks run one after another, so that a burst of workers dials
// (and asks for a password) once.
void CheckDialup();

}  // namespace settings
