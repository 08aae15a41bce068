// Rules shared by the entry dialogs, the drop target, dropped files and
// Paste that need no window: the drop-effect choice, the upload entries made
// for local files under one destination URL, and the upload URL history.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace entry_rules {

// Drop effects and key-state bits as the drag-and-drop interface passes them.
constexpr std::uint32_t kEffectNone = 0;
constexpr std::uint32_t kEffectCopy = 1;
constexpr std::uint32_t kEffectMove = 2;
constexpr std::uint32_t kEffectLink = 4;
constexpr std::uint32_t kKeyShift = 4;
constexpr std::uint32_t kKeyControl = 8;

// The effect of a drop: *effect holds the effects the source allows on entry
// and the chosen one on return. Control+Shift asks for a link, Control for a
// copy, Shift for a move; with no key the first the source allows of move,
// copy and link. Returns false, with *effect none, when nothing may be
// dropped (accepting is false: the data offers no text).
bool QueryDrop(bool accepting, std::uint32_t key_state, std::uint32_t* effect);

// Adds one upload entry per local file (full path): destination_url with the
// file's name appended (percent-encoded), the file's directory as the local
// directory. A URL that does not parse stops the rest without a message; an
// entry that AddEntry refuses (it says why) is skipped. Returns the number
// of entries added.
int AddUploadEntries(const std::string& destination_url, const std::vector<std::string>& files);

// The combo text as the history keeps it: a '/' appended unless it is empty
// or ends in one.
std::string AsDirectoryUrl(const std::string& text);

// True when history holds url, letters compared without regard to case.
bool HistoryHolds(const std::vector<std::string>& history, const std::string& url);

// Reads the history file (oldest first, up to the first empty line) into
// *history. When the file cannot be opened -1 is returned with *history
// empty, and a missing file is created empty; else the number of lines.
int ReadHistory(const std::string& path, std::vector<std::string>* history);

// Appends url with CR LF to the history file and to *history unless
// HistoryHolds says it is there. Returns 1 when appended, 0 when already
// there, -1 when the file could not be written (*history unchanged).
int RememberUrl(const std::string& path, std::vector<std::string>* history, const std::string& url);

}  // namespace entry_rules
