// Where things are, process-wide: the program directory, the mode, the
// current task path and the directory that new entries' local files are
// built from. Shared by the user-interface thread and the workers; every
// accessor is safe to call from any thread.
#pragma once

#include <string>

namespace app {

enum Mode : int { kReceiveMode = 0, kSendMode = 1 };

// Directory of the program, its task files and logs; no trailing separator.
std::string ProgramDirectory();
void SetProgramDirectory(const std::string& directory);

int CurrentMode();
void SetCurrentMode(int mode);

// Full path of the task file shown in the task list.
std::string CurrentTaskPath();
void SetCurrentTaskPath(const std::string& path);
bool IsCurrentTaskPath(const std::string& path);

// Default task of a mode: program directory + "Default.rcv" / "Default.snd".
std::string DefaultTaskPath(int mode);

// Directory that the next added entry's local file is built from.
std::string LocalDirectory();
void SetLocalDirectory(const std::string& directory);

}  // namespace app
