// Doubles shared by the native tests: a settings store that logs every call, a
// prompts sink that records the boxes, a scratch directory and whole-file
// helpers.
#pragma once

#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/prompts.h"
#include "settings/store.h"

namespace settings_fixtures {

using Hold = std::lock_guard<std::mutex>;

// Value names compare without regard to case, as in the registry. Workers
// read the store (the FTP login reads email), hence the lock.
class RecordingStore : public settings::Store {
 public:
  bool Read(const std::string& name, std::string* value) override {
    Hold hold(lock_);
    reads_.push_back(name);
    auto found = values_.find(Key(name));
    if (found != values_.end()) *value = found->second;
    return found != values_.end();
  }
  bool Write(const std::string& name, const std::string& value) override {
    Put(name, value);
    Hold hold(lock_);
    writes_.emplace_back(name, value);
    return true;
  }
  // Seeds a value without logging it.
  void Put(const std::string& name, const std::string& value) { Hold hold(lock_); values_[Key(name)] = value; }
  using Log = std::vector<std::pair<std::string, std::string>>;  // name, value
  std::vector<std::string> Reads() { Hold hold(lock_); return reads_; }
  Log Writes() { Hold hold(lock_); return writes_; }

 private:
  static std::string Key(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }

  std::mutex lock_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> reads_;
  Log writes_;
};

inline std::string Box(const std::string& caption, const std::string& text, unsigned style) {
  return caption + ": " + text + " (style " + std::to_string(style) + ")";
}

// Records each box and gives it the default answer. Workers show boxes too:
// they read them through Boxes(); single-threaded tests read shown directly.
class RecordingSink : public prompts::Sink {
 public:
  struct Shown { std::string text, caption; };
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    Hold hold(lock_);
    boxes_.push_back({text, caption});
    shown.push_back(Box(caption, text, style));
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}
  std::vector<Shown> Boxes() { Hold hold(lock_); return boxes_; }
  void Clear() { Hold hold(lock_); boxes_.clear(); shown.clear(); }
  std::vector<std::string> shown;  // Box(caption, text, style) of each

 private:
  std::mutex lock_;
  std::vector<Shown> boxes_;
};

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() : path_((std::filesystem::temp_directory_path() / "parcelo-test-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) throw std::runtime_error("cannot make " + path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }
  // The names in the directory, to catch stray temporary files.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}
inline std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

}  // namespace settings_fixtures
