// The file list of setup_systest.exe: the package's three files, then three
// libraries for the system directory whose product versions are the same as,
// older than, and absent from the copies already there.
#include "setup/filelist.h"

namespace setup {

const FileEntry kFileList[] = {
    {"parcelo32.exe", "parcelo32.exe"},
    {"setup.exe", "setup.exe"},
    {"parcelo32.hlp", "parcelo32.hlp"},
    {"ptsame.dll", "ptsame.dll"},
    {"ptolder.dll", "ptolder.dll"},
    {"ptabsent.dll", "ptabsent.dll"},
    {"", ""},
};

}  // namespace setup
