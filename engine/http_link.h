// Where the connection layer hands a transfer to the HTTP client: HTTP URLs,
// and FTP URLs while the Firewall setting sends them through a proxy.
#pragma once

#include <string>

#include "engine/session.h"
#include "platform/socket.h"

namespace http_link {

// Sends the GET request of the entry on the connection and runs the receive
// pump with is_http set. Returns the pump's result, or kFailure after "Failed"
// when the request could not be sent.
int Download(session::Context& context, net::Socket& connection,
             const session::AttemptParams& params);

// Opens the local file, sends the PUT request announcing its size and runs
// the send pump with is_http set. Returns the pump's result, kFailure after
// "File open error" (nothing sent) when the file cannot be opened, or kFailure
// after "Failed" when the request could not be sent.
int Upload(session::Context& context, net::Socket& connection,
           const session::AttemptParams& params);

// Reads and judges the response header for the pumps, an http::HeaderResult:
// 1 usable (body follows), 2 redirect followed, 3 the local file is already
// whole, -1 no usable answer (header never ended, 3xx without Location), -2
// closed before anything came, -3 receive error, error status or an answer
// that cannot continue a ranged request, -4 404; and, with the status column
// saying why, -5 redirect refused, -6 scratch file failed, -7 a 206 without
// the range asked for.
// Body bytes that came with the header are left at the start of
// context.data, their count in context.header_leftover.
int ReadResponseHeader(session::Context& context, net::Socket& connection,
                       const std::string& local_file);

// Judges the HTTP response header at the start of a download, for the receive
// pump. Returns 1 when the body follows, else the pump's result. A failure
// leaves the local file as it is: only a body that the pump is about to
// receive may change it.
int JudgeHttpResponse(session::Context& context, net::Socket& connection,
                      const std::string& local_file);

}  // namespace http_link
