// Prompts port: message boxes and beeps that portable code shows to the user.
// Win32 body: MessageBoxA/MessageBeep. Headless body: "caption: text" on stderr,
// answering the default button. Tests install a recording sink.
#pragma once

#include <string>

namespace prompts {

// Style bits and answers carry the Windows values so that callers can pass
// the same flags on both builds.
enum Style : unsigned {
  kOk = 0x0000,
  kOkCancel = 0x0001,
  kYesNo = 0x0004,
  kIconStop = 0x0010,
  kIconQuestion = 0x0020,
  kIconExclamation = 0x0030,
  kIconInformation = 0x0040,
  kTaskModal = 0x2000,
};

enum Answer : int {
  kAnswerOk = 1,
  kAnswerCancel = 2,
  kAnswerYes = 6,
  kAnswerNo = 7,
};

// Receives every prompt instead of the platform body while installed.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual int Message(const std::string& text, const std::string& caption, unsigned style) = 0;
  virtual void Beep(unsigned type) = 0;
};

// Shows a message box; returns the answer (kAnswerOk, kAnswerYes, ...).
int Message(const std::string& text, const std::string& caption, unsigned style);
void Beep(unsigned type = 0);

// Installs a sink (nullptr restores the platform body). Not thread-safe with
// respect to prompts in flight: install before starting work.
void SetSink(Sink* sink);

// The answer a box gets when nobody can be asked: OK, or Yes for Yes/No.
int DefaultAnswer(unsigned style);

// Platform body, defined per build.
int PlatformMessage(const std::string& text, const std::string& caption, unsigned style);
void PlatformBeep(unsigned type);

}  // namespace prompts
