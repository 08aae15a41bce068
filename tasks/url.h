// URL model, shared by the task files and the protocols:
// scheme://[user[:password]@]host[:port]/path for the schemes ftp, http and
// https; host is a name, a dotted IPv4 address or an IPv6 literal in
// brackets ("[::1]", kept with its brackets).
// A parse yields a URL record, the display form (password masked with one '*'
// per character) and the stored form (password in clear, ending CR LF).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace url {

enum Protocol : int { kUnknown = -1, kFtp = 0, kHttp = 1, kHttps = 2 };

// Widths of the record's fields, terminating NUL included: a field that would
// need more makes the parse fail instead of being cut.
constexpr std::size_t kSchemeWidth = 24;
constexpr std::size_t kUserWidth = 80;
constexpr std::size_t kPasswordWidth = 80;
constexpr std::size_t kHostWidth = 80;
constexpr std::size_t kPortTextWidth = 80;
constexpr std::size_t kPathWidth = 1024;
constexpr std::size_t kUrlWidth = 1024;

struct Record {
  std::string scheme;  // "ftp", "http" or "https", lower case
  int protocol = kUnknown;
  std::string user;
  std::string password;
  std::string host;
  std::uint32_t port = 0;  // 21 / 80 / 443 unless the URL names one
  std::string port_text;   // the explicit port as written; empty when none
  std::string path;        // from the '/' after the host to the end
};

// Parses text. Returns 0 and fills record, display (the display form) and
// stored (the stored form, with CR LF) on success; returns -1 otherwise, leaving
// display and stored untouched and record reset to Record() (so a failed parse
// leaves an empty path). Fails for an unknown scheme, a missing ':' after the
// scheme, no '/' after the host, an empty path, a bracketed host that is no
// IPv6 address or is followed by anything but ':' and the port, any field, the text or either
// composed form that does not fit its width, an explicit port that is not
// digits naming 1 to 65535, and a URL whose stored form would parse as another record (a port
// text that reads as 0, a password or an '@' without a user): what is kept in
// a task file must mean what was parsed.
// Any output pointer may be null.
int Parse(const std::string& text, Record* record, std::string* display, std::string* stored);

// Variant used by the edit dialog: refuses a password inside the URL with the
// box "No password here please" / "Message" and then returns 0 with an empty
// path (user, host and port as far as parsed). Composes nothing.
int ParseForEditing(const std::string& text, Record* record);

// Builds both forms from the parts.
void Compose(const std::string& scheme, const std::string& user, const std::string& password,
             const std::string& host, const std::string& port_text, const std::string& path,
             std::string* display, std::string* stored);

// Splits "user:password@host" in place: authority becomes the host.
void SplitUserInfo(std::string* authority, std::string* user, std::string* password);

// Undoes %XX escapes ("%%" gives '%'). Returns 0, or -1 on a malformed escape
// with text unchanged. %00, %0D and %0A count as malformed: decoded text goes
// onto protocol command lines, where they would cut or split the line.
int PercentDecode(std::string* text);

// Escapes a file name for the last segment of a link as %XX (upper-case hex),
// so that PercentDecode gives the name back: '%', the bytes that end or split
// a path ('#', '?', '/'), blanks, controls, bytes of 128 and above, and
// '"', '<', '>', '\\', '^', '`', '{', '|', '}'. Other bytes stay as they are.
std::string PercentEncodeName(const std::string& name);

// A link as the user typed, pasted or dropped it (UTF-8), in the form Parse
// takes: blanks, tabs and line ends cut at both ends, as task lines lose
// theirs, and each byte of 128 and above escaped as %XX, as browsers send a
// typed address ("\xC3\xBC" becomes "%C3%BC"), so the link stays plain ASCII
// in the task file, the list and on the wire.
std::string FromTypedLink(const std::string& utf8);

void TrimTrailingSpaces(std::string* text);
void SkipLeadingBlanks(std::string* text);

// The local file name a link's path gives: its last segment, the query and
// fragment cut off ("index.html" when that is empty), escapes undone when the
// result has no '/' or '\', is no "." or "..", names no device and the
// system can hold it (fs::NameFromUtf8), and each character that Windows
// forbids in a name (<>:"/\|?* and controls) written as '_'.
std::string LocalNameOf(const std::string& path);

// The local file name for a name a server gives (UTF-8): never a path (the
// text after its last '/' or '\'), as the system holds it, what Windows
// forbids written as '_'; "" when nothing usable is left.
std::string LocalNameFromServer(const std::string& utf8);

// directory + separator (unless it ends in one) + name.
std::string InDirectory(const std::string& directory, const std::string& name);
// InDirectory(directory, LocalNameOf(path)).
std::string LocalNameForUrl(const std::string& directory, const std::string& path);

// Checks a local name as a name of the directory: refuses "." and "..", and
// the names of Windows devices (con, prn, aux, nul, com1-9, lpt1-9, with any
// extension). Returns an empty string when safe, else "Unsafe file name in
// link: <name>". UnsafeLocalNameReason checks LocalNameOf(path).
std::string UnsafeNameReason(const std::string& name);
std::string UnsafeLocalNameReason(const std::string& path);

// Checks the name LocalNameOf takes from path for a new file in
// directory: first as UnsafeNameReason does; then, when directory is the
// program directory, refuses the program's own files there with "Reserved
// file name in link: <name>": task files (*.rcv, *.snd), the logs, url.txt,
// urltemp.txt, settings.ini, the help file, the programs, install.txt, the
// *Temp.txt scratch files, and the ".lock" companion of any of them; in any
// directory, the control files of split downloads (*.parts, *.parts.new). Names
// compare as Windows compares them: without regard to case, trailing dots and
// blanks dropped, and a short alias such as "PARCEL~1.EXE" counts as any name.
// Returns an empty string when the name may be used.
std::string RefusedLocalNameReason(const std::string& directory, const std::string& program_directory,
                                   const std::string& path);
// The same for a name already made (LocalNameOf, or a server's name).
std::string RefusedNameReason(const std::string& directory, const std::string& program_directory,
                              const std::string& name);

}  // namespace url
