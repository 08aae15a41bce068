// HTTP/1.0 client, the parts without I/O: the GET and PUT requests of a
// transfer, Basic credentials, and the judgement of a response header.
//
// One request per connection, no keep-alive, no chunked encoding. The request
// lines and their order are fixed; servers and proxies see exactly:
//   GET <target> HTTP/1.0 / [Range] / Accept / [Authorization] / Host / empty
//   PUT <target> HTTP/1.0 / Content-length / Content-Type / [Authorization] / Host / empty
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

// Results of reading and judging a response header. The pumps test the sign
// and a few values; the numbers are part of that contract.
enum HeaderResult : int {
  kUsable = 1,       // 2xx, or a status below 200: the body follows
  kRedirected = 2,   // a redirect replaced the entry; the attempt succeeded
  kIncomplete = 0,   // the header has not ended yet
  kUnusable = -1,    // no usable answer: the scratch file failed, the header
                     // never ended, or a 3xx named no new location
  kClosedEmpty = -2, // the peer closed before sending anything
  kErrorStatus = -3, // receive error, time-out, over-long header, a status
                     // of 400 and above other than 404, or an answer that
                     // cannot continue a ranged request (neither 200 nor 206)
  kNotFound = -4,    // status 404
  kRedirectRefused = -5,  // a redirect that cannot be followed; the status
                          // column says why and the entry is unchanged
  kScratchFailed = -6,    // the header's scratch file could not be created or
                          // written; the status column says so
  kWrongRange = -7,       // a 206 to a ranged request that does not carry the
                          // range asked for; the status column says why
  kAlreadyComplete = 3,   // a ranged request was answered with the size of
                          // the file: the local file is already whole
  kUploadRefused = -8,    // an upload answered by anything but 200, 201, 204
                          // or a redirect; the status column quotes it
};

// True for the failures whose own status text says what went wrong, so that
// no plain "Failed" is written over it.
inline bool StatusTellsWhy(int result) {
  return result == kRedirectRefused || result == kScratchFailed || result == kWrongRange ||
         result == kUploadRefused;
}

// A response header (status line and fields) longer than this is refused, so a
// peer cannot make the reader hold an unbounded amount.
constexpr std::size_t kHeaderLimit = 64 * 1024;

// Base64 of RFC 2045: '=' padding, no line breaks; "" gives "".
std::string EncodeBase64(std::string_view bytes);

// The "Authorization: Basic ..." line with its CR LF, or "" unless both user
// and password are non-empty.
std::string AuthorizationLine(const std::string& user, const std::string& password);

// GET request. range_from: the "Range: bytes=N-" line when set, "N-L"
// when range_last is set too.
std::string DownloadRequest(const std::string& target, const std::string& host,
                            const std::string& user, const std::string& password,
                            std::optional<std::uint64_t> range_from,
                            std::optional<std::uint64_t> range_last = std::nullopt);

// PUT request announcing content_length body bytes.
std::string UploadRequest(const std::string& target, const std::string& host,
                          const std::string& user, const std::string& password,
                          std::uint64_t content_length);

// Request target of a direct request from the percent-decoded remote path:
// every byte that cannot stand in a request line (blanks, controls, bytes of
// 128 and above) or that would change its meaning ('%', '#', '"', '<', '>',
// '\', '^', '`', '{', '|', '}') is escaped again as %XX. The decoded path
// holds literal characters, so this gives the server the name the link meant.
std::string DirectTarget(const std::string& decoded_path);

// Request target for a proxy from the entry's URL as the list shows it (the
// display form). That form masks the password with '*', which a proxy would
// take for the password itself; when the entry has a password, the user
// information is left out and the credentials travel in the Authorization
// line instead. Blanks, controls and bytes of 128 and above are escaped.
std::string ProxyTarget(const std::string& shown_url, bool has_password);

// A Content-Range value: "bytes F-L/N", "bytes F-L/*" (size unknown) or
// "bytes */N" (the unsatisfied-range form of a 416).
struct ContentRange {
  bool has_range = false;  // F-L was given
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // first - 1 for an empty range
  bool has_total = false;  // N was given
  std::uint64_t total = 0;
};

// Parses a Content-Range value, the unit matched without regard to case and
// numbers of at most eighteen digits. A range is usable when first <= last,
// or last is first - 1 (an empty part: the answer says the file ends where
// the range starts), and last < N when N is known. False for anything else,
// and for "*/*".
bool ParseContentRange(std::string_view value, ContentRange* range);

// What a response header says. Only the header is examined, never body bytes
// that came with it.
struct HeaderVerdict {
  int result = kIncomplete;    // kUsable, kRedirected, kIncomplete, kErrorStatus, kNotFound
  bool complete = false;       // the end of the header has arrived
  std::size_t body_offset = 0; // first body byte (complete only)
  bool has_status = false;
  int status = 0;
  std::string location;        // kRedirected: the Location value, blanks trimmed
  bool has_length = false;     // 2xx or 416 with a usable Content-Length
  std::uint64_t length = 0;
  bool has_range = false;      // 2xx or 416 with a usable Content-Range
  ContentRange range;
  std::string file_name;       // 2xx: the name its Content-Disposition gives, "" when none
  // 2xx: the copy's identity, "etag:" and its ETag, else "modified:" and its
  // Last-Modified, else empty; and whether Accept-Ranges says "bytes".
  std::string validator;
  bool accepts_ranges = false;
};

// The file name of a Content-Disposition value: filename*=UTF-8''<escaped>
// decoded (it wins, as RFC 6266 says), else filename= (quoted or bare), as
// the server wrote it; "" when neither is there or usable.
std::string DispositionFileName(std::string_view value);

// Judges the bytes received so far. The header ends at the first empty line,
// "\r\n\r\n" or, from servers that end lines with LF alone, "\n\n". Result
// kIncomplete with complete set means a 3xx without a Location field.
HeaderVerdict JudgeHeader(std::string_view received);

// True when received holds the end of a header at or after offset from (the
// caller passes the length it had looked at before, less three).
bool HasHeaderEnd(std::string_view received, std::size_t from);

// Resolves a Location value against the entry's URL: an absolute link is kept,
// "//host/..." takes the entry's scheme, "/path" the entry's scheme and
// authority, and any other text replaces the last segment of the entry's
// path (query cut off). Returns "" when the entry's URL gives no base.
std::string ResolveLocation(const std::string& base_url, const std::string& location);

}  // namespace http
