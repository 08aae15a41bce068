// Settings store seam: named text values. Win32 body: the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\Parcelo(32). POSIX body: settings.ini in the
// program directory. Value names are case-insensitive in both.
#pragma once

#include <cstdint>
#include <string>

namespace settings {

class Store {
 public:
  virtual ~Store() = default;
  // Returns false when the value (or the store) cannot be read.
  virtual bool Read(const std::string& name, std::string* value) = 0;
  // Creates the store when missing. Failures are ignored by callers.
  virtual bool Write(const std::string& name, const std::string& value) = 0;
};

// The store in use. Defaults to the platform body; tests install their own.
Store& CurrentStore();
void InstallStore(Store* store);  // nullptr restores the platform body

// The platform body. On POSIX it keeps settings.ini in the directory given by
// SetStoreDirectory (the program directory).
Store& PlatformStore();
void SetStoreDirectory(const std::string& directory);

// Reads at most 1023 bytes of text; the default when the value cannot be read.
std::string ReadText(const std::string& name, const std::string& default_text);
// Decimal like atol: leading blanks, optional sign, digits up to the first other
// character, no digits give 0. The default when the value cannot be read.
std::int32_t ReadNumber(const std::string& name, std::int32_t default_value);
void WriteText(const std::string& name, const std::string& text);

}  // namespace settings
