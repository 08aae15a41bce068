// The directory chooser dialog DIRLIST, linked by the transfer program and
// the setup program alike. Win32 build only.
#pragma once

#include <windows.h>

#include <string>

namespace dirlist {

// The procedure of DIRLIST. Ends the dialog with 1 when the user accepted a
// directory (ChosenDirectory() then holds it), 0 on Cancel or closing. It
// walks by changing the process's current drive and directory, which stay
// where the user left them.
INT_PTR CALLBACK OpenDirDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The directory the last accepted dialog returned; user-interface thread only.
const std::string& ChosenDirectory();

// Opens DIRLIST from the resources of instance, owned by owner. Returns 1 with
// *chosen set to the accepted directory, or 0 leaving it alone.
INT_PTR ChooseDirectory(HINSTANCE instance, HWND owner, std::string* chosen);

}  // namespace dirlist
