// Doubles for the task tests: a scratch directory, file helpers, a prompts
// sink that records the boxes, and an environment that points the app state,
// the settings and the headless task list at a scratch program directory.
#pragma once

#include <stdlib.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/appstate.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "platform/tasklist_headless.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace task_fixtures {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-tasks-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }
  // Names of the files in the directory (to catch stray temporary files).
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

inline std::string ReadFile(const std::string& path) {
  std::string content;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return content;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
  std::fclose(file);
  return content;
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned style;
};

class RecordingSink : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    std::lock_guard<std::mutex> hold(lock_);
    shown.push_back({text, caption, style});
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}

  std::vector<ShownBox> shown;

 private:
  std::mutex lock_;
};

// Settings values for Load; everything not put is missing (the defaults).
class MapStore : public settings::Store {
 public:
  bool Read(const std::string& name, std::string* value) override {
    auto found = values.find(Key(name));
    if (found == values.end()) return false;
    *value = found->second;
    return true;
  }
  bool Write(const std::string& name, const std::string& value) override {
    values[Key(name)] = value;
    return true;
  }
  void Put(const std::string& name, const std::string& value) { values[Key(name)] = value; }

 private:
  static std::string Key(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }
  std::map<std::string, std::string> values;
};

// A program directory in a scratch directory, receive mode, Default.rcv
// current, an empty headless list, boxes recorded. DOWNLOAD is the program
// directory unless SetDownload is called.
class TaskEnvironment {
 public:
  TaskEnvironment() {
    prompts::SetSink(&sink);
    settings::InstallStore(&store);
    tasklist::Install(nullptr);
    List().DeleteAllRows();
    app::SetProgramDirectory(dir.path());
    app::SetCurrentMode(app::kReceiveMode);
    app::SetCurrentTaskPath(dir.Join("Default.rcv"));
    app::SetLocalDirectory("");
    settings::Load(dir.path());
  }
  ~TaskEnvironment() {
    List().DeleteAllRows();
    settings::InstallStore(nullptr);
    prompts::SetSink(nullptr);
    app::SetCurrentTaskPath("");
    app::SetProgramDirectory("");
    app::SetCurrentMode(app::kReceiveMode);
  }
  TaskEnvironment(const TaskEnvironment&) = delete;
  TaskEnvironment& operator=(const TaskEnvironment&) = delete;

  void SetDownload(const std::string& directory) {
    store.Put("DOWNLOAD", directory);
    settings::Load(dir.path());
  }

  static tasklist::Headless& List() { return tasklist::HeadlessBody(); }
  std::string TaskPath() const { return app::CurrentTaskPath(); }

  ScratchDir dir;
  RecordingSink sink;
  MapStore store;
};

}  // namespace task_fixtures
