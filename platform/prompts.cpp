#include "platform/prompts.h"

#include <atomic>

namespace prompts {
namespace {
std::atomic<Sink*> g_sink{nullptr};
}

int Message(const std::string& text, const std::string& caption, unsigned style) {
  if (Sink* sink = g_sink.load()) return sink->Message(text, caption, style);
  return PlatformMessage(text, caption, style);
}

void Beep(unsigned type) {
  if (Sink* sink = g_sink.load()) return sink->Beep(type);
  PlatformBeep(type);
}

void SetSink(Sink* sink) { g_sink.store(sink); }

int DefaultAnswer(unsigned style) {
  switch (style & 0x000F) {
    case kYesNo:
      return kAnswerYes;
    default:
      return kAnswerOk;
  }
}

}  // namespace prompts
