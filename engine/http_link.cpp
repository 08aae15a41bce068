// Until the HTTP client exists, an HTTP transfer fails at once with "Failed"
// and no byte is sent.
#include "engine/http_link.h"

namespace http_link {

int Download(session::Context& context, net::Socket&, const session::AttemptParams&) {
  session::ShowStatus(context, "Failed");
  return session::kFailure;
}

int Upload(session::Context& context, net::Socket&, const session::AttemptParams&) {
  session::ShowStatus(context, "Failed");
  return session::kFailure;
}

int ReadResponseHeader(session::Context&, net::Socket&, const std::string&) { return -3; }

}  // namespace http_link
