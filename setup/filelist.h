// The files the setup program installs. The table lives in a source file of
// its own so that a test build of the program can install a different list.
#pragma once

namespace setup {

struct FileEntry {
  const char* source;       // name in the directory setup.exe runs from
  const char* destination;  // name in the main or the system directory
};

// Ends with an entry whose names are empty. Entries from index 3 on go to the
// system directory with the product-version check.
extern const FileEntry kFileList[];

// Index of the first entry that goes to the system directory.
constexpr int kFirstSystemEntry = 3;

}  // namespace setup
