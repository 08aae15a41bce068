// The native build's settings store: settings.ini, one "Name=value" line per
// value, in a directory (the program directory). Native build only.
//
// - Names are compared without regard to case, as in the registry. Writing an
//   existing name replaces the value of its first line and keeps the name as
//   first written there; later lines with the same name are dropped.
// - A value runs from the first '=' to the end of the line, so it may hold '='
//   and blanks; a trailing '\r' (a file edited on Windows) is not part of it.
//   Lines without '=' are kept as they are and otherwise ignored.
// - Every read re-reads the file, so a change made by another process is seen.
// - Every write rewrites the whole file into a sibling temporary file and
//   renames it over settings.ini, so a reader never sees half a file. Writes
//   in this process are serialised; two processes writing at the same moment
//   may lose one of the two updates, never the file.
// - The file and its directory are created by the first write.
#pragma once

#include <mutex>
#include <string>

#include "settings/store.h"

namespace settings {

class IniStore : public Store {
 public:
  // An empty directory means no store: reads fail and writes are refused.
  explicit IniStore(std::string directory = std::string());

  void SetDirectory(const std::string& directory);
  std::string Path() const;  // empty while no directory is set

  bool Read(const std::string& name, std::string* value) override;
  // Refuses names that are empty or hold '=' and names or values that hold a
  // line break: they could not be read back as written.
  bool Write(const std::string& name, const std::string& value) override;

 private:
  mutable std::mutex lock_;  // guards directory_
  std::string directory_;
};

}  // namespace settings
