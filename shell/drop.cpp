// The OLE drop target for dragged text, the dropped-files notification and
// the Paste command: the ways besides typing that entries reach a task.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "settings/places.h"
#include "platform/fs.h"
#include "shell/shell.h"
#include "tasks/entries.h"
#include "tasks/entry_rules.h"
#include "tasks/url.h"

namespace shell {
namespace {

// Dragged, dropped and pasted texts of this many characters or more are
// refused rather than cut: a cut URL would name another file.
constexpr size_t kTextLimit = 1024;

FORMATETC TextFormat(CLIPFORMAT clip_format = CF_TEXT) {
  FORMATETC format = {};
  format.cfFormat = clip_format;
  format.ptd = nullptr;
  format.dwAspect = DVASPECT_CONTENT;
  format.lindex = -1;
  format.tymed = TYMED_HGLOBAL;
  return format;
}

// Dragged or pasted text (UTF-8) as a URL entry in receive mode; a beep when
// it is no URL.
void AddTextEntry(const std::string& typed) {
  const std::string text = url::FromTypedLink(typed);
  url::Record record;
  std::string display;
  std::string stored;
  if (typed.size() >= kTextLimit || url::Parse(text, &record, &display, &stored) != 0) {
    MessageBeep(0);
    return;
  }
  if (app::CurrentMode() == app::kReceiveMode) entries::AddEntry(display, record.path, stored);
}

// Text of a global memory block holding a C string, refused (false) when it
// has no terminator within kTextLimit bytes or the block cannot be locked.
bool GlobalText(HGLOBAL memory, std::string* text) {
  const char* data = static_cast<const char*>(GlobalLock(memory));
  if (!data) return false;
  const SIZE_T size = GlobalSize(memory);
  size_t length = 0;
  while (length < size && length <= kTextLimit && data[length]) ++length;
  text->assign(data, length);
  GlobalUnlock(memory);
  return true;
}

// The UTF-16 text of a global memory block, in UTF-8; refused (false) as
// GlobalText refuses.
bool GlobalWideText(HGLOBAL memory, std::string* text) {
  const wchar_t* data = static_cast<const wchar_t*>(GlobalLock(memory));
  if (!data) return false;
  const SIZE_T size = GlobalSize(memory) / sizeof(wchar_t);
  size_t length = 0;
  while (length < size && length <= kTextLimit && data[length]) ++length;
  *text = Utf8FromWide(data, static_cast<int>(length));
  GlobalUnlock(memory);
  return true;
}

class DropTarget final : public IDropTarget {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDropTarget)) {
      *object = static_cast<IDropTarget*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL, DWORD* effect) override {
    FORMATETC format = TextFormat();
    accepting_ = data && data->QueryGetData(&format) == S_OK;
    QueryDrop(keys, effect);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL, DWORD* effect) override {
    QueryDrop(keys, effect);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    accepting_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL, DWORD* effect) override {
    if (!QueryDrop(keys, effect)) return S_OK;
    // UTF-16 when the source offers it: the ANSI text turns other scripts into '?'.
    FORMATETC format = TextFormat(CF_UNICODETEXT);
    const bool wide = data->QueryGetData(&format) == S_OK;
    if (!wide) format = TextFormat();
    STGMEDIUM medium = {};
    const HRESULT got = data->GetData(&format, &medium);
    if (FAILED(got)) {
      *effect = DROPEFFECT_NONE;
      return got;
    }
    std::string text;
    if (wide ? GlobalWideText(medium.hGlobal, &text) : GlobalText(medium.hGlobal, &text)) AddTextEntry(text);
    ReleaseStgMedium(&medium);
    accepting_ = false;
    return S_OK;
  }

 private:
  bool QueryDrop(DWORD keys, DWORD* effect) {
    std::uint32_t chosen = *effect;
    const bool possible = entry_rules::QueryDrop(accepting_, keys, &chosen);
    *effect = chosen;
    return possible;
  }

  LONG references_ = 1;
  bool accepting_ = false;
};

IDropTarget* registered_target = nullptr;

// Full path of each dropped file. A path of 1024 characters or more is
// refused with a beep rather than cut: a cut path names another file.
std::vector<std::string> DroppedFiles(HDROP drop) {
  std::vector<std::string> files;
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  bool refused = false;
  for (UINT i = 0; i < count; ++i) {
    if (DragQueryFileA(drop, i, nullptr, 0) >= kTextLimit) {
      refused = true;
      continue;
    }
    char path[kTextLimit] = {};
    DragQueryFileA(drop, i, path, sizeof path);
    files.push_back(path);
  }
  if (refused) MessageBeep(0);
  return files;
}

// Send mode: the pasted text names a local file to upload.
void PasteUpload(HWND window, const std::string& path) {
  if (!fs::FileExists(path) && !fs::DirectoryExists(path)) {
    MessageBoxA(nullptr, "File you are trying to paste does not exist", "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    return;
  }
  if (OpenNewDialog(window) != 1) return;
  entry_rules::AddUploadEntries(EnteredUrl(), {path});
}

}  // namespace

IDropTarget* NewDropTarget() { return new DropTarget; }

void RegisterDropTarget(HWND window) {
  if (OleInitialize(nullptr) != S_OK) return;
  IDropTarget* target = NewDropTarget();
  CoLockObjectExternal(target, TRUE, TRUE);
  if (RegisterDragDrop(window, target) != S_OK) {
    CoLockObjectExternal(target, FALSE, TRUE);
    target->Release();
    OleUninitialize();
    return;
  }
  registered_target = target;
}

void RevokeDropTarget(HWND window) {
  if (!registered_target) return;
  RevokeDragDrop(window);
  IDropTarget* target = registered_target;
  registered_target = nullptr;
  // Unlocked before our own reference goes, which may free it.
  CoLockObjectExternal(target, FALSE, TRUE);
  target->Release();
  OleUninitialize();
}

void OnDropFiles(HWND window, HDROP drop) {
  const std::vector<std::string> files = DroppedFiles(drop);
  DragFinish(drop);
  if (files.empty() || app::CurrentMode() != app::kSendMode) return;
  if (OpenNewDialog(window) != 1) return;
  entry_rules::AddUploadEntries(EnteredUrl(), files);
}

void OnPaste(HWND window) {
  // A link is taken as UTF-16; a local path to upload stays in the ANSI
  // code page that the file functions take.
  const UINT clip_format = app::CurrentMode() == app::kReceiveMode ? CF_UNICODETEXT : CF_TEXT;
  if (!IsClipboardFormatAvailable(clip_format)) return;
  if (!OpenClipboard(window)) return;
  HANDLE memory = GetClipboardData(clip_format);
  std::string text;
  if (!memory) {
    MessageBoxA(window, "No data in clipboard", nullptr, MB_OK | MB_TASKMODAL);
    CloseClipboard();
    return;
  }
  const bool got = clip_format == CF_UNICODETEXT ? GlobalWideText(memory, &text) : GlobalText(memory, &text);
  if (!got) {
    MessageBoxA(window, "Failed to lock clip memory", nullptr, MB_OK | MB_TASKMODAL);
    CloseClipboard();
    return;
  }
  // The clipboard is closed before any dialog or entry, so that other
  // programs can use it while the user answers.
  CloseClipboard();
  if (text.size() >= kTextLimit) {
    MessageBeep(0);
    return;
  }
  if (app::CurrentMode() == app::kReceiveMode) {
    AddTextEntry(text);
  } else {
    PasteUpload(window, text);
  }
}

}  // namespace shell
