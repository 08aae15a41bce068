#include "tasks/url.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/atol.h"
#include "platform/fs.h"
#include "platform/prompts.h"
#include "platform/socket.h"

namespace url {
namespace {

constexpr std::uint32_t kFtpDefaultPort = 21;
constexpr std::uint32_t kHttpDefaultPort = 80;
constexpr std::uint32_t kHttpsDefaultPort = 443;
constexpr std::uint32_t kHighestPort = 65535;

// A field fits when its text and the terminating NUL of the original
// fixed-size buffer fit the width.
bool Fits(const std::string& text, std::size_t width) { return text.size() < width; }

// Sets scheme, protocol and default port from the text before the ':'.
// Returns false for any scheme other than ftp, http and https.
bool TakeScheme(std::string scheme, Record* record) {
  for (char& c : scheme) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (scheme == "FTP") {
    record->scheme = "ftp";
    record->protocol = kFtp;
    record->port = kFtpDefaultPort;
    return true;
  }
  if (scheme == "HTTP") {
    record->scheme = "http";
    record->protocol = kHttp;
    record->port = kHttpDefaultPort;
    return true;
  }
  if (scheme == "HTTPS") {
    record->scheme = "https";
    record->protocol = kHttps;
    record->port = kHttpsDefaultPort;
    return true;
  }
  record->protocol = kUnknown;
  return false;
}

// Splits the text between "scheme://" and the path into user, password, host
// and port. Returns false when a part does not fit its field.
bool TakeAuthority(std::string authority, Record* record) {
  record->user.clear();
  record->password.clear();
  SplitUserInfo(&authority, &record->user, &record->password);
  // An IPv6 literal keeps its brackets as the host: they set its colons
  // apart from the port's, in the link as in the Host header.
  std::size_t colon = authority.find(':');
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    net::Address literal;
    if (close == std::string::npos || !net::ParseNumeric(authority.substr(1, close - 1), &literal) ||
        !literal.v6) {
      return false;
    }
    colon = close + 1;
    if (colon < authority.size() && authority[colon] != ':') return false;
    if (colon == authority.size()) colon = std::string::npos;
  }
  if (colon != std::string::npos) {
    record->port_text = authority.substr(colon + 1);
    record->port = static_cast<std::uint32_t>(numbers::ReadLikeAtol(record->port_text));
    authority.resize(colon);
  }
  record->host = authority;
  return Fits(record->user, kUserWidth) && Fits(record->password, kPasswordWidth) &&
         Fits(record->host, kHostWidth) && Fits(record->port_text, kPortTextWidth);
}

enum ScanResult {
  kScanFailed = -1,
  kScanComplete = 0,
  kScanPasswordRefused = 1,  // editing variant: stopped at the end of the host
};

// The single left-to-right pass over text shared by Parse and
// ParseForEditing. Fills record only when the result is not kScanFailed.
ScanResult Scan(const std::string& text, bool refuse_password, Record* record) {
  if (!Fits(text, kUrlWidth)) return kScanFailed;
  Record parsed;
  std::string scheme;
  std::string authority;  // bounded by the text's own width
  bool scheme_seen = false;
  bool path_started = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (!scheme_seen) {
      if (c != ':') {
        scheme += c;
        if (!Fits(scheme, kSchemeWidth)) return kScanFailed;
        ++i;
        continue;
      }
      // The two characters after the ':' are skipped unchecked ("//").
      i = std::min(i + 3, text.size());
      if (!TakeScheme(scheme, &parsed)) return kScanFailed;
      scheme_seen = true;
      continue;
    }
    if (!path_started) {
      if (c != '/') {
        authority += c;
        ++i;
        continue;
      }
      // The '/' is not consumed: it becomes the first character of the path.
      path_started = true;
      if (!TakeAuthority(authority, &parsed)) return kScanFailed;
      if (refuse_password && !parsed.password.empty()) {
        prompts::Message("No password here please", "Message",
                         prompts::kIconInformation | prompts::kTaskModal);
        *record = parsed;
        return kScanPasswordRefused;
      }
      continue;
    }
    parsed.path += c;
    ++i;
  }
  if (!scheme_seen || !path_started || parsed.path.empty()) return kScanFailed;
  if (!Fits(parsed.path, kPathWidth)) return kScanFailed;
  *record = parsed;
  return kScanComplete;
}

std::string Masked(const std::string& password) { return std::string(password.size(), '*'); }

// An explicit port must name one that a connection can use: the sockets take
// 16 bits, so 65616 would quietly become 80.
// Only digits name a port: "1808http:" (two links run together) would
// otherwise connect to 1808.
bool UsablePort(const Record& record) {
  if (record.port_text.empty()) return true;
  if (record.port_text.find_first_not_of("0123456789") != std::string::npos) return false;
  return record.port >= 1 && record.port <= kHighestPort;
}

bool SameRecord(const Record& a, const Record& b) {
  return a.scheme == b.scheme && a.protocol == b.protocol && a.user == b.user &&
         a.password == b.password && a.host == b.host && a.port == b.port &&
         a.port_text == b.port_text && a.path == b.path;
}

// True when the stored form, read back from a task file, gives record again.
// Compose drops a port text that reads as 0 and writes no userinfo without a
// user, so "h:abc" would come back as the default port and ":pw@a@h" as user
// "a" of host "h".
bool StoredFormReadsBack(const Record& record, const std::string& stored_form) {
  std::string text = stored_form;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  Record again;
  return Scan(text, false, &again) == kScanComplete && SameRecord(record, again);
}

}  // namespace

int Parse(const std::string& text, Record* record, std::string* display, std::string* stored) {
  Record parsed;
  if (Scan(text, false, &parsed) != kScanComplete || !UsablePort(parsed)) {
    if (record) *record = Record();
    return -1;
  }
  std::string display_form;
  std::string stored_form;
  Compose(parsed.scheme, parsed.user, parsed.password, parsed.host, parsed.port_text,
          parsed.path, &display_form, &stored_form);
  // A user without a password gains a ':' and the stored form gains CR LF, so
  // both forms are checked against the URL width again.
  if (!Fits(display_form, kUrlWidth) || !Fits(stored_form, kUrlWidth) ||
      !StoredFormReadsBack(parsed, stored_form)) {
    if (record) *record = Record();
    return -1;
  }
  if (record) *record = parsed;
  if (display) *display = display_form;
  if (stored) *stored = stored_form;
  return 0;
}

int ParseForEditing(const std::string& text, Record* record) {
  Record parsed;
  if (Scan(text, true, &parsed) == kScanFailed) {
    if (record) *record = Record();
    return -1;
  }
  if (record) *record = parsed;
  return 0;
}

void Compose(const std::string& scheme, const std::string& user, const std::string& password,
             const std::string& host, const std::string& port_text, const std::string& path,
             std::string* display, std::string* stored) {
  // An explicit port is written back even when it equals the default; only a
  // port text that reads as 0 counts as absent.
  const bool has_port = numbers::ReadLikeAtol(port_text) != 0;
  const std::string tail = host + (has_port ? ":" + port_text : std::string()) + path;
  std::string shown;
  std::string kept;
  if (user.empty()) {
    shown = scheme + "://" + tail;
    kept = shown;
  } else {
    shown = scheme + "://" + user + ":" + Masked(password) + "@" + tail;
    kept = scheme + "://" + user + ":" + password + "@" + tail;
  }
  if (display) *display = shown;
  if (stored) *stored = kept + "\r\n";
}

void SplitUserInfo(std::string* authority, std::string* user, std::string* password) {
  const std::size_t at = authority->find('@');
  if (at == std::string::npos) return;
  const std::string userinfo = authority->substr(0, at);
  *authority = authority->substr(at + 1);
  const std::size_t colon = userinfo.find(':');
  if (colon == std::string::npos) {
    *user = userinfo;
    password->clear();
  } else {
    *user = userinfo.substr(0, colon);
    *password = userinfo.substr(colon + 1);
  }
}

namespace {

// Value of one hexadecimal digit after folding A-Z to lower case; -1 if none.
int HexDigit(char c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decoded paths, users and passwords end up on FTP command lines and in the
// HTTP request line: a NUL would cut them and CR or LF would start a command
// of the server's choosing.
bool IsForbiddenDecodedByte(int value) { return value == 0 || value == '\r' || value == '\n'; }

}  // namespace

int PercentDecode(std::string* text) {
  const std::string& in = *text;
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 1 < in.size() && in[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    const int high = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
    const int low = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
    if (high < 0 || low < 0) return -1;
    const int value = high * 16 + low;
    if (IsForbiddenDecodedByte(value)) return -1;
    out += static_cast<char>(value);
    i += 2;
  }
  *text = out;
  return 0;
}

std::string PercentEncodeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || std::strchr("%#?/\"<>\\^`{|}", c) != nullptr) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string FromTypedLink(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::size_t first = 0;
  std::size_t end = utf8.size();
  while (first < end && static_cast<unsigned char>(utf8[first]) <= 32) ++first;
  while (end > first && static_cast<unsigned char>(utf8[end - 1]) <= 32) --end;
  std::string link;
  for (std::size_t i = first; i < end; ++i) {
    const unsigned char byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      link += utf8[i];
      continue;
    }
    link += '%';
    link += kHex[byte >> 4];
    link += kHex[byte & 0x0F];
  }
  return link;
}

void TrimTrailingSpaces(std::string* text) {
  while (!text->empty() && text->back() == ' ') text->pop_back();
}

void SkipLeadingBlanks(std::string* text) {
  std::size_t first = 0;
  while (first < text->size() && static_cast<signed char>((*text)[first]) <= 32) ++first;
  if (first < text->size()) text->erase(0, first);
}

namespace {

// The text after the last '/' of path; the query and the fragment belong to
// the server's answer, not to the name.
std::string RawLastSegment(const std::string& path) {
  const std::string resource = path.substr(0, path.find_first_of("?#"));
  const std::size_t slash = resource.rfind('/');
  return slash == std::string::npos ? resource : resource.substr(slash + 1);
}

// Names that leave the directory, or that Windows opens as a device.
bool LeavesDirectoryOrNamesDevice(const std::string& name) {
  return name == "." || name == ".." || fs::IsDeviceName(name);
}

// Windows cannot create a name holding these, so both builds write '_' for
// them and a task file names the same file on either. Done on UTF-8 or
// ASCII text, before any conversion: in a double-byte code page a '\' or
// '|' byte may be the second half of a character.
std::string WithoutForbiddenCharacters(std::string name) {
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) c = '_';
  }
  return name;
}

// The segment with its escapes undone, when it has escapes and the result is
// a name of this directory that the system can hold; false keeps the escapes.
bool DecodedName(const std::string& segment, std::string* name) {
  std::string decoded = segment;
  if (segment.find('%') == std::string::npos || PercentDecode(&decoded) != 0) return false;
  if (decoded.find_first_of("/\\") != std::string::npos || LeavesDirectoryOrNamesDevice(decoded)) {
    return false;
  }
  return fs::NameFromUtf8(WithoutForbiddenCharacters(decoded), name);
}

}  // namespace

std::string LocalNameOf(const std::string& path) {
  const std::string segment = RawLastSegment(path);
  if (segment.empty()) return "index.html";
  std::string name;
  return DecodedName(segment, &name) ? name : WithoutForbiddenCharacters(segment);
}

std::string LocalNameFromServer(const std::string& utf8) {
  const std::string base = utf8.substr(utf8.find_last_of("/\\") + 1);
  std::string name;
  return !base.empty() && fs::NameFromUtf8(WithoutForbiddenCharacters(base), &name) ? name : std::string();
}

std::string InDirectory(const std::string& directory, const std::string& name) {
  std::string path = directory;
  if (path.empty() || path.back() != fs::Separator()) path += fs::Separator();
  return path + name;
}

std::string LocalNameForUrl(const std::string& directory, const std::string& path) {
  return InDirectory(directory, LocalNameOf(path));
}

std::string UnsafeNameReason(const std::string& name) {
  return LeavesDirectoryOrNamesDevice(name) ? "Unsafe file name in link: " + name : std::string();
}

std::string UnsafeLocalNameReason(const std::string& path) { return UnsafeNameReason(LocalNameOf(path)); }

namespace {

// The program's own files in its program directory, in lower case.
constexpr const char* kOwnFileNames[] = {"logr.txt",      "logs.txt",      "url.txt",   "urltemp.txt",
                                         "settings.ini",  "parcelo32.hlp", "parcelo32.exe",
                                         "setup.exe",     "parcelo",       "install.txt"};
// Task files, and the response-header scratch files named from a task path.
constexpr const char* kOwnFileEndings[] = {".rcv", ".snd", "temp.txt"};
constexpr char kLockEnding[] = ".lock";

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// Windows opens "Default.rcv. " as Default.rcv and compares names without
// regard to case.
std::string AsWindowsCompares(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// An 8.3 alias that Windows makes for a long name ("parcel~1.exe"): it may
// stand for any file of the directory.
bool IsShortAlias(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string base = name.substr(0, dot);
  const std::size_t extension = dot == std::string::npos ? 0 : name.size() - dot - 1;
  const std::size_t tilde = base.rfind('~');
  if (base.size() > 8 || extension > 3 || tilde == std::string::npos || tilde + 1 == base.size()) {
    return false;
  }
  return base.find_first_not_of("0123456789", tilde + 1) == std::string::npos;
}

// The control file of a download split over several connections, and its
// temporary name, beside the local file in any directory: a link named so
// would overwrite another download's record of its pieces.
constexpr const char* kControlFileEndings[] = {".parts", ".parts.new"};

bool IsControlFileName(const std::string& name) {
  const std::string compared = AsWindowsCompares(name);
  for (const char* ending : kControlFileEndings) {
    if (EndsWith(compared, ending)) return true;
  }
  return false;
}

bool IsOwnFileName(const std::string& name) {
  std::string own = AsWindowsCompares(name);
  if (IsShortAlias(own)) return true;
  if (EndsWith(own, kLockEnding)) own.resize(own.size() - (sizeof kLockEnding - 1));
  for (const char* fixed : kOwnFileNames) {
    if (own == fixed) return true;
  }
  for (const char* ending : kOwnFileEndings) {
    if (EndsWith(own, ending)) return true;
  }
  return false;
}

}  // namespace

std::string RefusedNameReason(const std::string& directory, const std::string& program_directory,
                              const std::string& name) {
  const std::string unsafe = UnsafeNameReason(name);
  if (!unsafe.empty()) return unsafe;
  if (IsControlFileName(name)) return "Reserved file name in link: " + name;
  if (!IsOwnFileName(name) || !fs::SameDirectory(directory, program_directory)) {
    return std::string();
  }
  return "Reserved file name in link: " + name;
}

std::string RefusedLocalNameReason(const std::string& directory, const std::string& program_directory,
                                   const std::string& path) {
  return RefusedNameReason(directory, program_directory, LocalNameOf(path));
}

}  // namespace url
