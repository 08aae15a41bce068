// Helpers for the Win32 tests: creating the real main window in the test
// process, pumping its messages, answering modal dialogs, and the registry.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace harness {

// Pumps this thread's messages for about ms milliseconds.
void Pump(int ms = 30);

// A temporary directory made current for the test (the program directory),
// removed with its files afterwards.
class TempProgramDir {
 public:
  TempProgramDir();
  ~TempProgramDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
  std::string previous_;
};

// Creates the main window as the process entry would and pumps until it has
// settled; Close() destroys it and drains the quit message.
class MainWindow {
 public:
  MainWindow();
  ~MainWindow();
  HWND hwnd() const { return hwnd_; }
  void Close();

 private:
  HWND hwnd_ = nullptr;
};

// Settings values under HKLM\SOFTWARE\Parcelo(32) for one test; restored
// (deleted) afterwards.
class RegistryValues {
 public:
  ~RegistryValues();
  void Set(const std::string& name, const std::string& value);

 private:
  std::vector<std::string> names_;
};

// Watches for dialogs (class #32770) activated on this thread while alive.
// For each, records caption and message text (control 0xFFFF), then runs the
// handler, which should end the dialog (e.g. by posting a button command).
struct SeenDialog {
  std::string caption;
  std::string text;
};
class DialogWatcher {
 public:
  using Handler = std::function<void(HWND dialog)>;
  explicit DialogWatcher(Handler handler);
  ~DialogWatcher();
  const std::vector<SeenDialog>& seen() const { return seen_; }

  // Handlers for the common cases.
  static Handler Press(int button_id);

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  HHOOK hook_ = nullptr;
  Handler handler_;
  std::vector<SeenDialog> seen_;
  std::vector<HWND> pending_;
};

std::string WindowText(HWND window);
std::string ListCell(HWND list, int row, int column);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace harness
