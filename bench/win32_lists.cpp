// Big lists in the real main window, in process: a task of 10,000 entries
// opened at start-up, Select All then Del on all of them, and a download log
// of 100,000 lines opened in the log viewer. Runs in a fresh temporary
// program directory under Wine (bench/run, or scripts/wine-run directly).
//
// Usage: bench_lists.exe [entries, default 10000] [log lines, default 100000]
// Prints one line per step: "<step>: S s (<rows before> -> <rows after>)".
// Exit status: 0 when every step left the rows it should, else 1.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "resources/parcelo32_ids.h"
#include "shell/shell.h"

namespace {

LARGE_INTEGER g_frequency;
LARGE_INTEGER g_dialog_shown;
int g_log_rows = -1;

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(g_frequency.QuadPart);
}

void WriteLines(const std::string& path, int count, const char* pattern) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  char line[256];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, pattern, i, i);
    out << line;
  }
}

int ListRows(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

// The log viewer is timed until it is activated, filled; then it is closed.
LRESULT CALLBACK OnActivate(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_log_rows < 0) {
    HWND dialog = reinterpret_cast<HWND>(wparam);
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (list) {
      g_dialog_shown = Now();
      g_log_rows = ListRows(list);
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

std::string MakeProgramDirectory() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + "parcelo-lists-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  SetCurrentDirectoryA(dir.c_str());
  return dir;
}

void RemoveProgramDirectory(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((dir + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  SetCurrentDirectoryA("C:\\");
  RemoveDirectoryA(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int log_lines = argc > 2 ? std::atoi(argv[2]) : 100000;
  QueryPerformanceFrequency(&g_frequency);
  const std::string dir = MakeProgramDirectory();
  WriteLines(dir + "\\Default.rcv", entries,
             "03/14/26 09:00\tC:\\Down\\f%d.zip\tAwaiting_command\tftp://h/pub/f%d.zip\r\n");
  WriteLines(dir + "\\logr.txt", log_lines, "03/14/26 09:00\tC:\\Down\\f%d.zip\tftp://h/pub/f%d.zip\r\n");
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);

  int failures = 0;
  LARGE_INTEGER start = Now();
  HWND window = shell::CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
  HWND list = shell::Globals().children.task_list;
  const int loaded = ListRows(list);
  std::printf("open task of %d entries: %.3f s (%d rows)\n", entries, Seconds(start, Now()), loaded);
  failures += loaded != entries;

  start = Now();
  SendMessageA(window, WM_COMMAND, IDM_SELECTALL, 0);
  const LARGE_INTEGER selected = Now();
  SendMessageA(window, WM_COMMAND, IDM_DELETE, 0);
  const int left = ListRows(list);
  const LARGE_INTEGER end = Now();
  std::printf("select all + delete %d entries: %.3f s (select all %.3f s; %d rows left)\n", loaded,
              Seconds(start, end), Seconds(start, selected), left);
  failures += left != 0;

  HHOOK hook = SetWindowsHookExA(WH_CBT, OnActivate, nullptr, GetCurrentThreadId());
  start = Now();
  SendMessageA(window, WM_COMMAND, IDM_SHOWLOG, 0);
  UnhookWindowsHookEx(hook);
  std::printf("open log of %d lines: %.3f s (%d rows)\n", log_lines, Seconds(start, g_dialog_shown), g_log_rows);
  failures += g_log_rows != log_lines;

  DestroyWindow(window);
  RemoveProgramDirectory(dir);
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
