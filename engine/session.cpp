#include "engine/session.h"

#include "engine/connection.h"
#include "engine/ftp.h"
#include "engine/http_exchange.h"
#include "engine/local_file.h"
#include "engine/running.h"
#include "engine/text_format.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tasks/url.h"

namespace session {

const char kFileInUse[] = "File in use by another transfer";

namespace {

int Download(Context& context, net::Socket& control, const AttemptParams& params, bool via_http) {
  if (via_http) return http_exchange::Download(context, control, params);
  return ftp::Download(context, control, params.local_file, params.remote_path);
}

int Upload(Context& context, net::Socket& control, const AttemptParams& params, bool via_http) {
  if (via_http) return http_exchange::Upload(context, control, params);
  return ftp::Upload(context, control, params.local_file, params.remote_path);
}

// RunAttempt without the bookkeeping of its cause.
int AttemptSteps(Context& context, const AttemptParams& params) {
  // A download into a file that another transfer writes would mix both.
  if (context.mode == kReceive && LocalFileInUse(params.local_file)) {
    ShowStatus(context, kFileInUse);
    return kNotRetried;
  }
  // One reading of Firewall decides the server, the protocol spoken and the
  // form of the HTTP request target.
  context.via_proxy = settings::Live().firewall == 1 || params.environment_proxy;
  context.proxy_authorized = false;
  context.proxy_chosen = context.via_proxy;
  const bool secure = params.protocol == url::kHttps;
  bool via_http = params.protocol == url::kHttp || secure || context.via_proxy;
  net::Socket control;
  const int connected = OpenConnection(context, params, control);
  if (connected != kSuccess) return connected;

  if (!via_http) {
    int login = ftp::Login(context, control, params.user, params.password);
    // A refused login is told in the row; a box is for a dialogue that broke.
    if (login == kLoginRefused) return kFailure;
    if (login < 0) {
      ShowStatus(context, "Failed");
      if (login == kConnectionLost) SetCause(context, "Lost connection");
      prompts::Message("Failed to send username", "", prompts::kOk);
      return login;
    }
  }
  if (context.mode == kSend) return Upload(context, control, params, via_http);
  ShowStatus(context, "Receiving");
  return Download(context, control, params, via_http);
}

}  // namespace

int RunAttempt(Context& context, const AttemptParams& params) {
  context.cause.clear();
  context.last_status.clear();
  context.params = &params;
  const int result = AttemptSteps(context, params);
  context.params = nullptr;  // the caller's, gone after this
  if (result < 0 && context.cause.empty()) context.cause = context.last_status;
  return result;
}

void ShowStatus(const Context& context, const std::string& text) {
  // The bare words say only that something failed; the text before them said what.
  if (text != "Failed" && text != "FTP failed") context.last_status = text;
  if (context.quiet || !app::IsCurrentTaskPath(context.task_path)) return;
  tasklist::Current().SetCellOf(context.row_id, tasklist::kStatus, text);
}

void SetCause(const Context& context, const std::string& text) { context.cause = text; }

void Fail(const Context& context, const std::string& status, const std::string& cause) {
  ShowStatus(context, status);
  SetCause(context, cause);
}

std::string ProxyRefusal(const Context& context) {
  return context.proxy_authorized ? "Proxy refused the password" : "Proxy needs a password";
}

void ShowStatusNumber(const Context& context, const char* format, long number) {
  ShowStatus(context, text::Format(format, number));
}

bool StopRequested(const Context& context) { return app::StopMarked(context.row_id); }

}  // namespace session
