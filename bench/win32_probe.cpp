// Responsiveness probe for a download in the running parcelo32.exe: finds its
// main window, starts Receive, and while the transfer runs asks the window for
// WM_NULL every 50 ms, timing how long each answer takes. The transfer has
// ended when the download log in the program directory gains a line; then
// the probe asks the program to close.
//
// Usage: bench_probe.exe <program directory> [time-out in seconds, default 120]
// Prints "elapsed S s", "probes N", "latency median M ms, max X ms".
// Exit status: 0 done; 1 no window, no log line before the time-out, or the
// window stopped existing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kMainWindowClass[] = "myprog";
constexpr WPARAM kReceiveCommand = 2000;
constexpr DWORD kProbeIntervalMs = 50;
// One unanswered probe is cut off here and counted at this latency; the end
// of the transfer is still noticed on the next round.
constexpr UINT kProbeTimeoutMs = 10000;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

// Size of the file in bytes, or 0 when it does not exist.
ULONGLONG FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The program's window once it answers messages, or nullptr after timeout_ms.
HWND WaitForMainWindow(DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    HWND window = FindWindowA(kMainWindowClass, nullptr);
    DWORD_PTR ignored = 0;
    if (window && SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored)) {
      return window;
    }
    Sleep(kProbeIntervalMs);
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);  // a pipe would otherwise hold the lines back
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_probe.exe <program directory> [time-out in seconds]\n");
    return 1;
  }
  const std::string log_path = std::string(argv[1]) + "\\logr.txt";
  const DWORD timeout_ms = static_cast<DWORD>((argc > 2 ? std::atoi(argv[2]) : 120) * 1000);

  HWND window = WaitForMainWindow(30000);
  if (!window) {
    std::printf("no window of class %s\n", kMainWindowClass);
    return 1;
  }
  const ULONGLONG log_before = FileBytes(log_path);

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LARGE_INTEGER start = Now();
  PostMessageA(window, WM_COMMAND, kReceiveCommand, 0);

  std::vector<double> latencies_ms;
  bool ended = false;
  while (Seconds(start, Now(), frequency) * 1000 < timeout_ms) {
    Sleep(kProbeIntervalMs);
    if (FileBytes(log_path) > log_before) {
      ended = true;
      break;
    }
    const LARGE_INTEGER sent = Now();
    DWORD_PTR ignored = 0;
    const LRESULT answered =
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kProbeTimeoutMs, &ignored);
    latencies_ms.push_back(Seconds(sent, Now(), frequency) * 1000);
    if (!answered && !IsWindow(window)) {
      std::printf("the window went away\n");
      return 1;
    }
  }
  const double elapsed = Seconds(start, Now(), frequency);
  PostMessageA(window, WM_CLOSE, 0, 0);

  std::printf("elapsed %.2f s\n", elapsed);
  std::printf("probes %u\n", static_cast<unsigned>(latencies_ms.size()));
  if (!latencies_ms.empty()) {
    std::vector<double> sorted = latencies_ms;
    std::sort(sorted.begin(), sorted.end());
    std::printf("latency median %.1f ms, max %.1f ms\n", sorted[sorted.size() / 2], sorted.back());
  }
  if (!ended) {
    std::printf("no line in %s within %lu s\n", log_path.c_str(), timeout_ms / 1000);
    return 1;
  }
  return 0;
}
