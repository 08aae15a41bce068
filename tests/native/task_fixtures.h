// The environment of tests of portable code: a scratch program directory as
// the app state's, a recording settings store and prompts sink installed, the
// settings loaded, an empty headless task list, receive mode with Default.rcv
// current. And a way to make the disk look full.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "engine/appstate.h"
#include "native/settings_fixtures.h"
#include "platform/tasklist_headless.h"
#include "settings/settings.h"

namespace task_fixtures {

struct TaskEnvironment {
  TaskEnvironment() {
    prompts::SetSink(&sink);
    settings::InstallStore(&store);
    tasklist::HeadlessBody().DeleteAllRows();
    app::SetProgramDirectory(dir.path());
    app::SetCurrentMode(app::kReceiveMode);
    app::SetCurrentTaskPath(dir.Join("Default.rcv"));
    settings::Load(dir.path());
  }
  ~TaskEnvironment() {
    tasklist::HeadlessBody().DeleteAllRows();
    settings::InstallStore(nullptr);
    prompts::SetSink(nullptr);
    app::SetCurrentTaskPath("");
    app::SetProgramDirectory("");
    app::SetCurrentMode(app::kReceiveMode);
  }
  // Stores a value and reloads the live settings.
  void Use(const std::string& name, const std::string& value) {
    store.Put(name, value);
    settings::Load(dir.path());
  }
  void SetDownload(const std::string& directory) { Use("DOWNLOAD", directory); }

  settings_fixtures::ScratchDir dir;
  settings_fixtures::RecordingSink sink;
  settings_fixtures::RecordingStore store;
};

// While it lives, writes past limit bytes fail as on a full disk (EFBIG rather
// than SIGXFSZ), also for root.
struct FullDisk {
  explicit FullDisk(rlim_t limit) : old_handler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit lowered{limit, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
  }
  void (*old_handler)(int);
  rlimit old;
};

}  // namespace task_fixtures
