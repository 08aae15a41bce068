#include <windows.h>

#include <atomic>

#include "platform/prompts.h"
#include "platform/win32_owner.h"

namespace prompts {

int PlatformMessage(const std::string& text, const std::string& caption, unsigned style) {
  return MessageBoxA(win32::PromptOwner(), text.c_str(), caption.c_str(), style);
}

void PlatformBeep(unsigned type) { MessageBeep(type); }

}  // namespace prompts
