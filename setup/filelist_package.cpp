// The files of the package. The program is linked statically, so no runtime
// library goes to the system directory.
#include "setup/filelist.h"

namespace setup {

const FileEntry kFileList[] = {
    {"parcelo32.exe", "parcelo32.exe"},
    {"setup.exe", "setup.exe"},
    {"parcelo32.hlp", "parcelo32.hlp"},
    {"", ""},
};

}  // namespace setup
