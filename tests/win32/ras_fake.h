// The stand-in RASAPI32.DLL of tests/ras for the Win32 tests: loads it in
// place of Wine's, and sets and reads its phone book, connections, saved
// passwords and the calls it received.
#pragma once

#include <windows.h>

#include <string>

namespace harness {

// While alive, RASAPI32.DLL is looked for in the folder `variant` beside the
// test program ("ras": all seven functions; "ras-missing": no RasDialA), and
// the stand-in's state starts empty. Wine loads it only when the test runs
// with WINEDLLOVERRIDES=rasapi32=n,b (as ctest runs it).
class FakeRas {
 public:
  explicit FakeRas(const char* variant = "ras");
  ~FakeRas();
  // Whether the library loaded under that name is the stand-in.
  static bool Loaded();
  void Set(const char* name, const std::string& value);
  std::string Calls() const;
};

}  // namespace harness
