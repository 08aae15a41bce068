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

// Sends the PUT request of the entry and runs the send pump with is_http set.
// Returns the pump's result, or kFailure after "Failed" when the request
// could not be sent.
int Upload(session::Context& context, net::Socket& connection,
           const session::AttemptParams& params);

// Reads and judges the response header for the pumps, an http::HeaderResult:
// 1 usable (body follows), 2 redirect followed, -1 no usable answer (scratch
// file failed, header never ended, 3xx without Location), -2 closed before
// anything came, -3 receive error or error status, -4 404, -5 redirect refused
// (the status column says why).
// Body bytes that came with the header are left at the start of
// context.data, their count in context.header_leftover.
int ReadResponseHeader(session::Context& context, net::Socket& connection,
                       const std::string& local_file);

}  // namespace http_link
