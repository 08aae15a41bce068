// A library that only carries a version resource: the setup tests install
// copies of it into the system directory to exercise the version check.
#include <windows.h>

extern "C" __declspec(dllexport) int PtVersionMarker() { return PT_MAJOR * 100 + PT_MINOR; }
