// One HTTP exchange of a transfer attempt, on the attempt's context: where the
// attempt hands an entry to HTTP (HTTP URLs, and FTP URLs while the Firewall
// setting sends them through a proxy), the request with its resume decision,
// reading the response header through the row's scratch file, judging it, and
// turning a redirect into a changed entry.
#pragma once

#include <string>

#include "engine/session.h"
#include "platform/socket.h"

namespace http_exchange {

// Through a proxy that wants them, the request carries its credentials (the
// last line, after Host); proxy_authorized tells a 407 they were refused.
void AuthorizeAtProxy(session::Context& context, const session::AttemptParams& params, std::string* request);

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

// Judges the HTTP response header at the start of a download, for the receive
// pump. Returns 1 when the body follows, else the pump's result. A failure
// leaves the local file as it is: only a body that the pump is about to
// receive may change it.
int JudgeHttpResponse(session::Context& context, net::Socket& connection,
                      const std::string& local_file);

// "<task path><row>Temp.txt": the scratch file of the row in use (its index
// when the worker started). Rows differ, so concurrent transfers of one task
// never share one.
std::string ScratchPath(const session::Context& context);

// The GET request for the entry. With Auto Resume and a non-empty local file it
// asks for the bytes from the local size on and sets the resume flag and resume
// start; otherwise it clears both.
std::string DownloadRequestFor(session::Context& context, const std::string& target,
                               const std::string& user, const std::string& password,
                               const std::string& local_file);

// Reads the response header, up to kHeaderLimit bytes, into the scratch file
// and judges it after every receive. Returns an http::HeaderResult:
// kUsable (body bytes that came along are at the start of context.data, their
// count in header_leftover; context.body_end where the declared body ends),
// kRedirected, kAlreadyComplete, or a negative value. Shows the boxes
// "Connection closed", "File is zero size" and "Bad file" (title "Info") when
// the peer closed or the scratch file failed, and "Bad file" in the row too
// ("Too many open files" in both when no more files may be open).
// In send mode anything but a redirect or a usable answer (see JudgeResponse)
// fails with kUploadRefused after a status quoting the answer's first line.
// Every failure leaves its cause in the context. A 3xx without a Location keeps
// the reading going until the peer closes, dropping what follows the header,
// and then gives kUnusable. The scratch file is removed before returning.
int ReadResponseHeader(session::Context& context, net::Socket& connection,
                       const std::string& local_file);

// Applies the judgement of the bytes received so far to the context: header
// size, header leftover (at most the data buffer), total size, body end and
// resume flag of a 2xx, the redirect of a 3xx, the size in a 416. A ranged
// request is continued only by a 206 whose Content-Range starts at the byte
// asked for (else kWrongRange after a status text), started over only by a
// 200; other answers to it are kErrorStatus. The answer to an upload (send
// mode) is usable only as 200, 201 or 204; a redirect is followed, anything
// else is kUploadRefused. Returns an http::HeaderResult.
int JudgeResponse(session::Context& context, const std::string& received,
                  const std::string& local_file);

// Replaces the entry by the link of a redirect: task line (and row, while the
// task is shown) become the new local name, "Awaiting_command" and the link.
// The row is changed in place and its line rewritten at the row's index in
// one step; while the task is not shown, the line is rewritten only where it
// still is as the worker started it. A relative link is resolved against the
// entry's link as the worker started it. In receive mode the local name is
// made from DOWNLOAD and the link's last segment, unless that names a file
// that is there (other than the entry's own) or begins with '.': then the
// entry keeps its local file and the cause says why. In send mode the entry
// keeps its local file. Returns http::kRedirected, or http::kRedirectRefused after a
// status text that says why (bad or too long link, unsafe name, task file not
// written, entry no longer there: its row deleted or its line changed).
int Redirect(session::Context& context, const std::string& location,
             const std::string& local_file);

}  // namespace http_exchange
