#include "engine/http.h"

#include <cstring>

#include "tasks/url.h"

namespace http {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscaped(std::string* out, unsigned char byte) {
  out->push_back('%');
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 0x0F]);
}

// Bytes that never stand bare in a request line.
bool NeverBare(unsigned char byte) { return byte <= 0x20 || byte >= 0x7F; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of the field called name on line, when the line is that field.
// Field names are matched whole: "Content-Location:" is not "Location:".
bool FieldValue(std::string_view line, std::string_view name, std::string_view* value) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  if (!SameNameIgnoringCase(TrimBlanks(line.substr(0, colon)), name)) return false;
  *value = TrimBlanks(line.substr(colon + 1));
  return true;
}

// Next line of the header, without its LF and a CR before it.
bool NextLine(std::string_view* header, std::string_view* line) {
  if (header->empty()) return false;
  std::size_t lf = header->find('\n');
  std::string_view taken = header->substr(0, lf);
  header->remove_prefix(lf == std::string_view::npos ? header->size() : lf + 1);
  if (!taken.empty() && taken.back() == '\r') taken.remove_suffix(1);
  *line = taken;
  return true;
}

// "%s %d" of the status line, bounded: a version word, blanks, a number of at
// most nine digits with an optional sign.
bool ParseStatusLine(std::string_view line, int* status) {
  std::size_t i = 0;
  auto blank = [&](std::size_t at) {
    return at < line.size() && (line[at] == ' ' || line[at] == '\t');
  };
  while (blank(i)) ++i;
  std::size_t word = i;
  while (i < line.size() && !blank(i)) ++i;
  if (i == word) return false;
  while (blank(i)) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '-' || line[i] == '+')) negative = line[i++] == '-';
  int value = 0;
  int digits = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    if (++digits > 9) return false;
    value = value * 10 + (line[i] - '0');
  }
  if (digits == 0) return false;
  *status = negative ? -value : value;
  return true;
}

// A Content-Length value: decimal digits only, at most eighteen (a size far
// beyond any file). A sign or other text makes the length unknown.
bool ParseLength(std::string_view text, std::uint64_t* length) {
  if (text.empty() || text.size() > 18) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *length = value;
  return true;
}

// Offset of the empty line that ends the header and its length (4 or 2), the
// earlier of "\r\n\r\n" and "\n\n", searching from offset from.
bool FindHeaderEnd(std::string_view text, std::size_t from, std::size_t* end,
                   std::size_t* mark) {
  std::size_t crlf = text.find("\r\n\r\n", from);
  std::size_t lf = text.find("\n\n", from);
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return false;
  if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf)) {
    *end = crlf;
    *mark = 4;
  } else {
    *end = lf;
    *mark = 2;
  }
  return true;
}

void JudgeRedirect(std::string_view fields, HeaderVerdict* verdict) {
  std::string_view line;
  while (NextLine(&fields, &line)) {
    std::string_view value;
    if (FieldValue(line, "Location", &value)) {
      verdict->location.assign(value.data(), value.size());
      verdict->result = kRedirected;
      return;
    }
  }
  verdict->result = kIncomplete;
}

// The first Content-Length and the first Content-Range field of the header.
void ReadSizeFields(std::string_view fields, HeaderVerdict* verdict) {
  bool length_seen = false;
  bool range_seen = false;
  std::string_view line;
  while (NextLine(&fields, &line) && !(length_seen && range_seen)) {
    std::string_view value;
    if (!length_seen && FieldValue(line, "Content-Length", &value)) {
      length_seen = true;
      verdict->has_length = ParseLength(value, &verdict->length);
    } else if (!range_seen && FieldValue(line, "Content-Range", &value)) {
      range_seen = true;
      verdict->has_range = ParseContentRange(value, &verdict->range);
    }
  }
}

// The first Content-Disposition field's file name.
void ReadFileName(std::string_view fields, HeaderVerdict* verdict) {
  std::string_view line;
  std::string_view value;
  while (NextLine(&fields, &line)) {
    if (!FieldValue(line, "Content-Disposition", &value)) continue;
    verdict->file_name = DispositionFileName(value);
    return;
  }
}

// One parameter of a header value from *at (just past a ';') to the next ';'
// outside quotes: its name in lower case and its value, unquoted.
void TakeParameter(std::string_view text, std::size_t* at, std::string* name, std::string* value) {
  const std::size_t equals = std::min(text.find('=', *at), text.find(';', *at));
  name->clear();
  for (char c : TrimBlanks(text.substr(*at, equals - *at))) name->push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  value->clear();
  std::size_t i = equals == std::string_view::npos || text[equals] == ';' ? equals : equals + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '"') {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      value->push_back(text[i]);
    }
  } else if (i < text.size()) {
    const std::string_view bare = TrimBlanks(text.substr(i, text.find(';', i) - i));
    value->assign(bare.data(), bare.size());
  }
  *at = i < text.size() ? text.find(';', i) : std::string_view::npos;
}

// The text of a filename* value in UTF-8 ("UTF-8'language'escaped"), or "".
std::string ExtendedValue(const std::string& value) {
  const std::size_t quote = value.find('\'');
  const std::size_t second = quote == std::string::npos ? quote : value.find('\'', quote + 1);
  if (second == std::string::npos || !SameNameIgnoringCase(std::string_view(value).substr(0, quote), "UTF-8")) {
    return std::string();
  }
  std::string text = value.substr(second + 1);
  return url::PercentDecode(&text) == 0 ? text : std::string();
}

// What says whether two answers come from one copy of the file, and whether
// the server takes ranged requests.
void ReadIdentityFields(std::string_view fields, HeaderVerdict* verdict) {
  std::string modified;
  std::string_view line;
  while (NextLine(&fields, &line)) {
    std::string_view value;
    if (verdict->validator.empty() && FieldValue(line, "ETag", &value) && !value.empty()) {
      verdict->validator = "etag:" + std::string(value);
    } else if (modified.empty() && FieldValue(line, "Last-Modified", &value) && !value.empty()) {
      modified = "modified:" + std::string(value);
    } else if (FieldValue(line, "Accept-Ranges", &value)) {
      verdict->accepts_ranges = SameNameIgnoringCase(value, "bytes");
    }
  }
  if (verdict->validator.empty()) verdict->validator = modified;
}

// Reads the number at the start of *text and removes it.
bool TakeNumber(std::string_view* text, std::uint64_t* number) {
  std::size_t digits = 0;
  while (digits < text->size() && (*text)[digits] >= '0' && (*text)[digits] <= '9') ++digits;
  if (!ParseLength(text->substr(0, digits), number)) return false;
  text->remove_prefix(digits);
  return true;
}

bool TakeChar(std::string_view* text, char c) {
  if (text->empty() || text->front() != c) return false;
  text->remove_prefix(1);
  return true;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                          static_cast<unsigned char>(bytes[i + 1]) << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[group >> 18 & 63]);
    out.push_back(kAlphabet[group >> 12 & 63]);
    out.push_back(kAlphabet[group >> 6 & 63]);
    out.push_back(kAlphabet[group & 63]);
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[group >> 18 & 63]);
    out.push_back(kAlphabet[group >> 12 & 63]);
    out.push_back(rest == 2 ? kAlphabet[group >> 6 & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string AuthorizationLine(const std::string& user, const std::string& password) {
  if (user.empty() || password.empty()) return std::string();
  return "Authorization: Basic " + EncodeBase64(user + ":" + password) + "\r\n";
}

std::string DownloadRequest(const std::string& target, const std::string& host,
                            const std::string& user, const std::string& password,
                            std::optional<std::uint64_t> range_from,
                            std::optional<std::uint64_t> range_last) {
  std::string request = "GET " + target + " HTTP/1.0\r\n";
  if (range_from) {
    request += "Range: bytes=" + std::to_string(*range_from) + "-" +
               (range_last ? std::to_string(*range_last) : std::string()) + "\r\n";
  }
  request += "Accept: */*\r\n";
  request += AuthorizationLine(user, password);
  request += "Host: " + host + "\r\n\r\n";
  return request;
}

std::string UploadRequest(const std::string& target, const std::string& host,
                          const std::string& user, const std::string& password,
                          std::uint64_t content_length) {
  std::string request = "PUT " + target + " HTTP/1.0\r\n";
  request += "Content-length: " + std::to_string(content_length) + "\r\n";
  request += "Content-Type: Application/Octet-stream\r\n";
  request += AuthorizationLine(user, password);
  request += "Host: " + host + "\r\n\r\n";
  return request;
}

std::string DirectTarget(const std::string& decoded_path) {
  static const char kReserved[] = "%#\"<>\\^`{|}";
  std::string target;
  target.reserve(decoded_path.size());
  for (char c : decoded_path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (NeverBare(byte) || std::strchr(kReserved, c) != nullptr) {
      AppendEscaped(&target, byte);
    } else {
      target.push_back(c);
    }
  }
  return target;
}

std::string ProxyTarget(const std::string& shown_url, bool has_password) {
  std::string url = shown_url;
  std::size_t scheme_end = url.find("://");
  if (has_password && scheme_end != std::string::npos) {
    std::size_t authority = scheme_end + 3;
    std::size_t path = url.find('/', authority);
    std::size_t at = url.find('@', authority);
    if (at != std::string::npos && (path == std::string::npos || at < path)) {
      url.erase(authority, at + 1 - authority);
    }
  }
  std::string target;
  target.reserve(url.size());
  for (char c : url) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (NeverBare(byte)) {
      AppendEscaped(&target, byte);
    } else {
      target.push_back(c);
    }
  }
  return target;
}

bool ParseContentRange(std::string_view value, ContentRange* range) {
  ContentRange parsed;
  value = TrimBlanks(value);
  if (value.size() < 6 || !SameNameIgnoringCase(value.substr(0, 5), "bytes")) return false;
  value.remove_prefix(5);
  if (TrimBlanks(value).size() == value.size()) return false;  // "bytes" alone, or "bytesX"
  value = TrimBlanks(value);
  if (!TakeChar(&value, '*')) {
    parsed.has_range = TakeNumber(&value, &parsed.first) && TakeChar(&value, '-') &&
                       TakeNumber(&value, &parsed.last);
    if (!parsed.has_range || parsed.last + 1 < parsed.first) return false;
  }
  if (!TakeChar(&value, '/')) return false;
  if (!TakeChar(&value, '*')) {
    parsed.has_total = TakeNumber(&value, &parsed.total);
    if (!parsed.has_total) return false;
  }
  if (!value.empty() || !(parsed.has_range || parsed.has_total)) return false;
  if (parsed.has_range && parsed.has_total && parsed.last >= parsed.total) return false;
  *range = parsed;
  return true;
}

bool HasHeaderEnd(std::string_view received, std::size_t from) {
  std::size_t end = 0;
  std::size_t mark = 0;
  return FindHeaderEnd(received, from, &end, &mark);
}

HeaderVerdict JudgeHeader(std::string_view received) {
  HeaderVerdict verdict;
  std::size_t end = 0;
  std::size_t mark = 0;
  if (!FindHeaderEnd(received, 0, &end, &mark)) return verdict;
  verdict.complete = true;
  verdict.body_offset = end + mark;

  std::string_view header = received.substr(0, end);
  std::string_view status_line;
  NextLine(&header, &status_line);
  verdict.has_status = ParseStatusLine(status_line, &verdict.status);
  const int status = verdict.status;
  if (!verdict.has_status) {
    verdict.result = kUsable;
  } else if (status >= 300 && status <= 399) {
    JudgeRedirect(header, &verdict);
  } else if (status >= 200 && status <= 299) {
    ReadSizeFields(header, &verdict);
    ReadFileName(header, &verdict);
    ReadIdentityFields(header, &verdict);
    verdict.result = kUsable;
  } else if (status >= 400) {
    if (status == 416) ReadSizeFields(header, &verdict);
    verdict.result = status == 404 ? kNotFound : kErrorStatus;
  } else {
    verdict.result = kUsable;
  }
  return verdict;
}

std::string DispositionFileName(std::string_view value) {
  std::string plain;
  std::string extended;
  std::string name;
  std::string text;
  for (std::size_t at = value.find(';'); at != std::string_view::npos && at < value.size();) {
    ++at;
    TakeParameter(value, &at, &name, &text);
    if (name == "filename") plain = text;
    if (name == "filename*") extended = ExtendedValue(text);
  }
  return extended.empty() ? plain : extended;
}

std::string ResolveLocation(const std::string& base_url, const std::string& location) {
  std::size_t colon = location.find(':');
  std::size_t slash = location.find('/');
  if (colon != std::string::npos && colon > 0 && (slash == std::string::npos || colon < slash)) {
    return location;  // carries its own scheme
  }
  std::size_t scheme_end = base_url.find("://");
  if (scheme_end == std::string::npos) return std::string();
  if (location.compare(0, 2, "//") == 0) return base_url.substr(0, scheme_end + 1) + location;
  std::size_t path = base_url.find('/', scheme_end + 3);
  if (path == std::string::npos) return std::string();
  if (!location.empty() && location[0] == '/') return base_url.substr(0, path) + location;
  std::string base_path = base_url.substr(0, base_url.find('?', path));
  return base_path.substr(0, base_path.rfind('/') + 1) + location;
}

}  // namespace http
