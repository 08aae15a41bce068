// Doubles for the settings tests: a store with registry semantics that logs
// every call, a prompts sink that records the boxes, and a scratch directory.
#pragma once

#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/prompts.h"
#include "settings/store.h"

namespace settings_fixtures {

class RecordingStore : public settings::Store {
 public:
  bool Read(const std::string& name, std::string* value) override {
    std::lock_guard<std::mutex> hold(lock_);
    reads_.push_back(name);
    auto found = values_.find(Key(name));
    if (found == values_.end()) return false;
    *value = found->second;
    return true;
  }

  bool Write(const std::string& name, const std::string& value) override {
    std::lock_guard<std::mutex> hold(lock_);
    writes_.emplace_back(name, value);
    values_[Key(name)] = value;
    return true;
  }

  // Seeds a value without logging it.
  void Put(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> hold(lock_);
    values_[Key(name)] = value;
  }

  std::map<std::string, std::string> Values() {
    std::lock_guard<std::mutex> hold(lock_);
    return values_;
  }
  std::vector<std::string> Reads() {
    std::lock_guard<std::mutex> hold(lock_);
    return reads_;
  }
  std::vector<std::pair<std::string, std::string>> Writes() {
    std::lock_guard<std::mutex> hold(lock_);
    return writes_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> hold(lock_);
    reads_.clear();
    writes_.clear();
  }

 private:
  // Value names are compared without regard to case, as in the registry.
  static std::string Key(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }

  std::mutex lock_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> reads_;
  std::vector<std::pair<std::string, std::string>> writes_;
};

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned style;
};

class RecordingSink : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    shown.push_back({text, caption, style});
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override { ++beeps; }

  std::vector<ShownBox> shown;
  int beeps = 0;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-settings-XXXXXX").string();
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

 private:
  std::string path_;
};

}  // namespace settings_fixtures
