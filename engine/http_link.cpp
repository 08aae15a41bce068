#include "engine/http_link.h"

#include "engine/http.h"
#include "engine/http_exchange.h"
#include "engine/connection.h"
#include "engine/local_file.h"
#include "engine/translog.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace http_link {
namespace {

// The request target: the remote path, or through a proxy the whole link.
// False when the link of a proxied entry cannot be found.
bool RequestTarget(const session::Context& context, const session::AttemptParams& params,
                   std::string* target) {
  if (!context.via_proxy) {
    *target = http::DirectTarget(params.remote_path);
    return true;
  }
  // The link as the URL column showed it when the worker started: the row
  // may by now show another entry, or no longer be there.
  if (context.entry_url.empty()) return false;
  *target = http::ProxyTarget(context.entry_url, !params.password.empty());
  return true;
}

// Sends the request; false after "Failed" (and what SendBlock showed).
bool SendRequest(session::Context& context, net::Socket& connection, const std::string& request) {
  if (session::SendBlock(context, connection, request.data(), request.size()) == 0) return true;
  session::ShowStatus(context, "Failed");
  return false;
}

// A ranged request found the local file already whole: nothing is received,
// and the transfer ends as a complete one.
int FinishAlreadyComplete(session::Context& context, net::Socket& connection) {
  context.resume = false;
  context.bytes_done = context.total_size;
  connection.Close();
  session::ReportProgressThrottled(context, true);
  translog::LogTransfer(context);
  session::ShowStatus(context, "Done");
  return session::kSuccess;
}

}  // namespace

int Download(session::Context& context, net::Socket& connection,
             const session::AttemptParams& params) {
  std::string target;
  if (!RequestTarget(context, params, &target)) {
    session::ShowStatus(context, "Failed");
    return session::kFailure;
  }
  std::string request = http_exchange::DownloadRequestFor(context, target, params.user,
                                                          params.password, params.local_file);
  if (!SendRequest(context, connection, request)) return session::kFailure;
  return session::ReceiveFile(context, connection, connection, params.local_file, true);
}

int Upload(session::Context& context, net::Socket& connection,
           const session::AttemptParams& params) {
  std::string target;
  if (!RequestTarget(context, params, &target)) {
    session::ShowStatus(context, "Failed");
    return session::kFailure;
  }
  fileio::File file;
  if (session::OpenUpload(context, params.local_file, &file) != session::kSuccess) {
    return session::kFailure;
  }
  std::string request = http::UploadRequest(target, context.host_name, params.user,
                                            params.password, context.total_size);
  if (!SendRequest(context, connection, request)) return session::kFailure;
  return session::SendFile(context, connection, connection, file, params.local_file, true);
}

int ReadResponseHeader(session::Context& context, net::Socket& connection,
                       const std::string& local_file) {
  return http_exchange::ReadResponseHeader(context, connection, local_file);
}

int JudgeHttpResponse(session::Context& context, net::Socket& connection,
                      const std::string& local_file) {
  int judged = ReadResponseHeader(context, connection, local_file);
  if (judged == session::kRedirected) {
    connection.Close();
    return session::kRedirected;
  }
  if (judged == http::kAlreadyComplete) return FinishAlreadyComplete(context, connection);
  if (judged < 0) {
    if (!http::StatusTellsWhy(judged)) session::ShowStatus(context, "Failed");
    connection.Close();
    return session::kFailure;
  }
  context.bytes_done = fs::FileSize(local_file);
  return 1;
}

}  // namespace http_link
