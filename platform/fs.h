// File-system seam for portable code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace fs {

// '\\' on Windows, '/' elsewhere.
char Separator();

bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);
// Size in bytes, or 0 when the file cannot be examined.
std::uint64_t FileSize(const std::string& path);
// Replaces target by source in one step (rename over an existing file). An
// existing target's permissions pass to source first (POSIX), so a rewrite
// never widens who may read the file.
bool ReplaceWith(const std::string& source, const std::string& target);
bool RemoveFile(const std::string& path);
// Directories made here are their owner's only (POSIX 0700): they hold task
// files and settings with passwords in them.
bool MakeDirectories(const std::string& path);
// fopen for files that may hold passwords (task files, settings): mode "wb"
// or "ab"; a file it creates is readable by its owner only (POSIX 0600).
std::FILE* OpenOwnerOnly(const std::string& path, const char* mode);
std::string CurrentDirectory();

// True when both name the same directory: by identity when both exist (links,
// relative forms, trailing separators and, on Windows, case and short names
// do not matter), else by their full paths with "." and ".." resolved.
bool SameDirectory(const std::string& a, const std::string& b);

// Directory part of a path (no trailing separator) and last component.
std::string DirectoryOf(const std::string& path);
std::string BaseName(const std::string& path);

// Windows opens a device, not a file, for these names, with any extension
// and whatever the case ("nul.txt", "Com1"): a write to one goes nowhere and
// still succeeds, and a read from COM1 may wait forever. con, prn, aux, nul,
// com1-9, lpt1-9.
bool IsDeviceName(const std::string& name);
// A file name given in UTF-8 (a decoded link, a server's name for a file),
// in the encoding this system's file names use: UTF-8 here, the ANSI code
// page on Windows. False when the text is no valid UTF-8, or when the code
// page cannot hold every character exactly (no look-alike stands in for one).
bool NameFromUtf8(const std::string& utf8, std::string* name);
// The first component of path (split at '\\' and '/') that names a device,
// or an empty string when none does.
std::string DeviceComponent(const std::string& path);

}  // namespace fs
