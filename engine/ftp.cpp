#include "engine/ftp.h"

#include <cstdio>
#include <cstring>

#include "engine/connection.h"
#include "engine/local_file.h"
#include "engine/split_download.h"
#include "engine/timeouts.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace ftp {
namespace {

using session::Context;
using session::kConnectionLost;
using session::kFailure;
using session::kSuccess;
using session::ShowStatus;
using session::ShowStatusNumber;

// The cause of a failure the server's reply explains: its code and text.
void ReplyCause(const Context& context, int code) {
  session::SetCause(context, std::to_string(code) + " " + context.reply_text);
}

// A login step answered with a reply of 400 or more. 530 is the server's
// word for a user name or password it does not take.
int LoginRefused(const Context& context, int code) {
  if (code != 530) {
    ReplyCause(context, code);
    return kFailure;
  }
  session::Fail(context, "Failed", "Login incorrect");
  return session::kLoginRefused;
}

// Longest command lines, CR LF included: USER and PASS lines, RETR and STOR
// lines. Longer ones are refused rather than cut.
constexpr std::size_t kLoginLineLimit = 255;
constexpr std::size_t kPathLineLimit = 1023;

// A CR or LF inside an argument would end the command early and let the rest
// of the text through as a command of its own.
bool CanSend(const std::string& argument) {
  return argument.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// A login line that cannot go out whole: nothing of it is sent.
int Unsendable(const Context& context, const char* what) {
  session::SetCause(context, std::string(what) + " is too long or holds a line break");
  return kFailure;
}

bool IsFinalLine(const std::string& line) {
  return line.size() >= 4 && line[3] == ' ' && line[0] >= '0' && line[0] <= '9' &&
         line[1] >= '0' && line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

// Reads one line ended by CR LF into *line (without CR LF, cut at
// kReplyLineLimit) and its length on the wire, CR LF included, into *wire.
int ReadLine(Context& context, net::Socket& control, std::uint32_t start, std::string* line,
             std::size_t* wire) {
  line->clear();
  std::size_t raw = 0;  // bytes before the LF, CR included
  bool after_cr = false;
  for (;;) {
    char c = 0;
    if (session::ReadReplyByte(context, control, start, timeouts::ReplyMs(), &c) != 1) {
      return kConnectionLost;
    }
    if (c == '\n' && after_cr) break;
    after_cr = c == '\r';
    // One byte beyond the limit is kept so that a CR there can be dropped.
    if (line->size() <= kReplyLineLimit) line->push_back(c);
    ++raw;
  }
  line->resize(raw - 1 < kReplyLineLimit ? raw - 1 : kReplyLineLimit);
  *wire = raw + 1;
  return kSuccess;
}

// ReadReply with a deadline that started earlier (an exchange's).
int ReadReplySince(Context& context, net::Socket& control, std::uint32_t start) {
  std::string line;
  for (;;) {
    std::size_t wire = 0;
    if (ReadLine(context, control, start, &line, &wire) != kSuccess) return kConnectionLost;
    if (wire <= 4 || !IsFinalLine(line)) continue;
    context.reply_text = line.substr(4);
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  }
}

// The type reset on the failure exits. Returns the exchange's result.
int ResetType(Context& context, net::Socket& control) {
  return Exchange(context, control, "TYPE A N\r\n");
}

int ResetTypeAfterFailure(Context& context, net::Socket& control) {
  return ResetType(context, control) == kConnectionLost ? kConnectionLost : kFailure;
}

// The data connection of one transfer, from preparation to hand-over.
struct DataChannel {
  bool passive = true;
  net::Socket listener;  // active mode, until the server has connected
  net::Socket data;
};

int PreparePassive(Context& context, net::Socket& control, DataChannel& channel) {
  // PASV can name IPv4 addresses only; over IPv6 EPSV names the port alone.
  net::Address address;
  std::uint16_t control_port = 0;
  const bool have_peer = control.PeerAddress(&address, &control_port) == 0;
  const bool extended = have_peer && address.v6;
  int code = Exchange(context, control, extended ? "EPSV\r\n" : "PASV\r\n");
  if (code == kConnectionLost) {
    ShowStatus(context, "Lost connection");
    return kConnectionLost;
  }
  if (code >= 400) {
    // The server cannot do passive mode: this and every later transfer of the
    // run use PORT (EPRT); the stored setting is left as it is.
    settings::SetLivePassive(0);
    channel.passive = false;
    return kSuccess;
  }
  // Only the port of the reply is taken: the data connection goes to the
  // host the control connection reached. A reply naming another host would
  // send the transfer wherever the server says, and servers behind NAT name
  // an inner address that cannot be reached.
  net::Ipv4 named = 0;
  std::uint16_t port = 0;
  const bool parsed = extended ? session::ParseExtendedPassiveReply(context.reply_text, &port)
                               : session::ParsePassiveReply(context.reply_text, &named, &port);
  int opened = kFailure;
  if (code >= 0 && parsed && have_peer) {
    opened = session::OpenDataConnection(context, address, port, &channel.data);
  }
  if (opened == kSuccess) return kSuccess;
  ShowStatus(context, "Failed connection");
  return ResetTypeAfterFailure(context, control);
}

// Listens on a free port of the control connection's local address (the one
// the server reaches us at, and the only one a data connection may come to)
// and tells the server where with PORT (EPRT over IPv6, which PORT cannot name).
int PrepareActive(Context& context, net::Socket& control, DataChannel& channel) {
  ShowStatus(context, "create listen socket");
  bool ready = false;
  net::Address local;
  std::uint16_t control_port = 0;
  const bool have_local = control.LocalAddress(&local, &control_port) == 0;
  if (channel.listener.Open(local.v6) != 0) {
    ShowStatus(context, "Failed to create listen socket");
  } else {
    net::Address any;
    std::uint16_t port = 0;
    if (have_local && channel.listener.Listen(0, 1, local) == 0 && channel.listener.LocalAddress(&any, &port) == 0) {
      ShowStatus(context, "requesting connection");
      const std::string line = local.v6 ? "EPRT " + ExtendedPortArgument(local, port)
                                        : "PORT " + PortArgument(local.ToIpv4(), port);
      int code = Exchange(context, control, line + "\r\n");
      ShowStatusNumber(context, "connection status %d", code);
      // Every reply is taken: a server that refuses PORT refuses the transfer
      // command next, with a code the user gets to see.
      ready = code >= 0;
    }
  }
  if (ready) return kSuccess;
  ShowStatus(context, "Failed to create socket");
  channel.listener.Close();
  if (ResetType(context, control) == kConnectionLost) ShowStatus(context, "Failed");
  return kFailure;
}

// Decides where the transfer starts: a download in Auto Resume continues a
// non-empty local file with REST (from its first hole when a split download
// left a control file beside it); everything else starts at byte 0.
int Restart(Context& context, net::Socket& control, DataChannel& channel, Direction direction,
            const std::string& local_file) {
  if (direction != kRetrieve || settings::Live().resume_option != 0) {
    context.resume_start = 0;
    context.bytes_done = 0;
    context.resume = false;
    return kSuccess;
  }
  const std::int64_t first_hole = split::ReadControl(context, local_file);
  // With SIZE told, a control file of another copy is not continued.
  if (context.accepts_ranges && !split::SameCopy(context)) {
    channel.listener.Close();
    return ResetTypeAfterFailure(context, control);
  }
  context.bytes_done = first_hole >= 0 ? static_cast<std::uint64_t>(first_hole) : fs::FileSize(local_file);
  if (context.bytes_done == 0) {
    context.resume = false;
    return kSuccess;
  }
  context.resume = true;
  char line[64];
  std::snprintf(line, sizeof line, "REST %llu\r\n",
                static_cast<unsigned long long>(context.bytes_done));
  int code = Exchange(context, control, line);
  if (code == kConnectionLost) {
    ShowStatus(context, "Lost connection");
    return kConnectionLost;
  }
  if (code >= 0 && code < 400) return kSuccess;
  // Starting over from byte 0 instead would throw the partial file away.
  ShowStatusNumber(context, "Failed to transfer file,Reply code:%d", code);
  if (code >= 0) ReplyCause(context, code);
  channel.listener.Close();
  if (ResetType(context, control) == kConnectionLost) ShowStatus(context, "Lost connection");
  return kFailure;
}

int SendTransferCommand(Context& context, net::Socket& control, DataChannel& channel,
                        const std::string& command_line) {
  ShowStatus(context, "send FTP command");
  int code = Exchange(context, control, command_line);
  ShowStatusNumber(context, "status %d", code);
  if (code == kConnectionLost) return kConnectionLost;
  if (code >= 0 && code < 400) return kSuccess;
  ShowStatusNumber(context, "Failed to transfer file,Reply code:%d", code);
  if (code >= 0) ReplyCause(context, code);
  channel.listener.Close();
  ResetType(context, control);
  return kFailure;
}

int AcceptDataConnection(Context& context, net::Socket& control, DataChannel& channel) {
  ShowStatus(context, "Calling accept data connection");
  int error = channel.listener.Accept(timeouts::ConnectMs(), &channel.data);
  channel.listener.Close();
  if (error != 0) {
    ShowStatusNumber(context, "datasocket status %d", error);
    ShowStatus(context, "Data connection failed");
    return ResetTypeAfterFailure(context, control);
  }
  ShowStatus(context, "Data socket created");
  ShowStatusNumber(context, "SOCKET:%d", channel.data.Number());
  return kSuccess;
}

// "RETR x\r\n" or "STOR x\r\n" for the remote path without its leading '/'
// (the path is taken relative to the login directory). False when the line
// cannot be sent.
bool BuildPathCommand(const char* verb, const std::string& remote_path, std::string* line) {
  std::string path = remote_path;
  if (!path.empty() && path[0] == '/') path.erase(0, 1);
  *line = std::string(verb) + " " + path + "\r\n";
  return CanSend(path) && line->size() <= kPathLineLimit;
}

// The number of a "213 <size>" reply; false for anything else.
bool ParseSize(const std::string& reply_text, std::uint64_t* size) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; digits < reply_text.size() && reply_text[digits] >= '0' && reply_text[digits] <= '9'; ++digits) {
    if (digits == 19) return false;  // more than 64 bits may hold
    value = value * 10 + static_cast<std::uint64_t>(reply_text[digits] - '0');
  }
  if (digits == 0 || (digits < reply_text.size() && reply_text[digits] != ' ')) return false;
  *size = value;
  return true;
}

// SIZE of the file a "RETR path" line names. Returns the reply code (213
// with *size), or kConnectionLost.
int AskSize(Context& context, net::Socket& control, const std::string& retr_line, std::uint64_t* size) {
  const int code = Exchange(context, control, "SIZE " + retr_line.substr(5));
  if (code == 213 && !ParseSize(context.reply_text, size)) return kFailure;
  return code;
}

// Before a binary download that may go over several connections: the size
// the pieces are cut from, which every extra login must also be told. Any
// answer but 213 leaves the download on one connection.
int LearnSize(Context& context, net::Socket& control, const std::string& retr_line) {
  context.accepts_ranges = false;
  if (settings::Live().file_type == 2 || split::ConnectionsWanted() < 2) return kSuccess;
  std::uint64_t size = 0;
  const int code = AskSize(context, control, retr_line, &size);
  if (code == kConnectionLost) {
    ShowStatus(context, "Lost connection");
    return kConnectionLost;
  }
  if (code == 213) {
    context.total_size = size;
    context.accepts_ranges = true;
  }
  return kSuccess;
}

}  // namespace

int SendCommand(Context& context, net::Socket& control, const std::string& line) {
  return session::SendBlock(context, control, line.data(), line.size());
}

int ReadReply(Context& context, net::Socket& control) {
  return ReadReplySince(context, control, clock_seam::TickCount());
}

int Exchange(Context& context, net::Socket& control, const std::string& line) {
  std::uint32_t start = clock_seam::TickCount();
  int sent = SendCommand(context, control, line);
  if (sent < 0) return sent;
  for (;;) {
    int code = ReadReplySince(context, control, start);
    if (code != 220) return code;
  }
}

int Login(Context& context, net::Socket& control, const std::string& user,
          const std::string& password) {
  std::string name = user.empty() ? "anonymous" : user;
  std::string user_line = "USER " + name + "\r\n";
  if (!CanSend(name) || user_line.size() > kLoginLineLimit) return Unsendable(context, "User name");
  ShowStatus(context, "sending user name");
  int code = Exchange(context, control, user_line);
  if (code < 0) return code;
  if (code >= 400) return LoginRefused(context, code);

  std::string secret = password;
  if (secret.empty()) secret = settings::ReadText("email", settings::kPlaceholderEmail);
  // A stored empty address: the server asked for no password, or gets none.
  if (secret.empty()) return kSuccess;
  std::string pass_line = "PASS " + secret + "\r\n";
  if (!CanSend(secret) || pass_line.size() > kLoginLineLimit) return Unsendable(context, "Password");
  ShowStatus(context, "sending password");
  code = Exchange(context, control, pass_line);
  if (code < 0) return code;
  if (code >= 400) return LoginRefused(context, code);
  ShowStatus(context, "Password sent");
  return kSuccess;
}

void SetTransferType(Context& context, net::Socket& control) {
  Exchange(context, control, settings::Live().file_type == 2 ? "TYPE A N\r\n" : "TYPE I\r\n");
}

int DataTransfer(Context& context, net::Socket& control, const std::string& command_line,
                 Direction direction, const std::string& local_file) {
  context.bytes_done = 0;
  // An upload whose file cannot be read must not reach STOR: the server
  // would replace its copy with nothing.
  fileio::File upload;
  if (direction == kStore && session::OpenUpload(context, local_file, &upload) != kSuccess) {
    return kFailure;
  }
  SetTransferType(context, control);
  int result = direction == kRetrieve ? LearnSize(context, control, command_line) : kSuccess;
  if (result != kSuccess) return result;
  DataChannel channel;
  channel.passive = settings::Live().passive != 0;
  if (channel.passive) {
    result = PreparePassive(context, control, channel);
    if (result != kSuccess) return result;
  }
  if (!channel.passive) {
    result = PrepareActive(context, control, channel);
    if (result != kSuccess) return result;
  }
  result = Restart(context, control, channel, direction, local_file);
  if (result != kSuccess) return result;
  result = SendTransferCommand(context, control, channel, command_line);
  if (result != kSuccess) return result;
  if (!channel.passive) {
    result = AcceptDataConnection(context, control, channel);
    if (result != kSuccess) return result;
  }
  ShowStatus(context, "Read data channel");
  if (direction == kRetrieve) {
    return session::ReceiveFile(context, channel.data, control, local_file, false);
  }
  return session::SendFile(context, channel.data, control, upload, local_file, false);
}

int Download(Context& context, net::Socket& control, const std::string& local_file,
             const std::string& remote_path) {
  std::string line;
  int result = kFailure;
  if (BuildPathCommand("RETR", remote_path, &line)) {
    ShowStatus(context, "Sending recv");
    result = DataTransfer(context, control, line, kRetrieve, local_file);
  } else {
    session::SetCause(context, "Remote path cannot be sent");
  }
  // Its own status says why, and no retry would change it.
  if (result == session::kNotRetried) return result;
  if (result < 0) {
    ShowStatus(context, "FTP failed");
    return kFailure;
  }
  return kSuccess;
}

Piece RetrieveFrom(Context& context, net::Socket& control, const session::AttemptParams& params,
                   std::uint64_t offset, std::uint64_t total, net::Socket* data) {
  std::string retr_line;
  if (!BuildPathCommand("RETR", params.remote_path, &retr_line) ||
      Login(context, control, params.user, params.password) != kSuccess) {
    return Piece::kRefused;
  }
  SetTransferType(context, control);
  std::uint64_t size = 0;
  if (AskSize(context, control, retr_line, &size) != 213) return Piece::kRefused;
  if (size != total) return Piece::kChanged;
  DataChannel channel;
  channel.passive = settings::Live().passive != 0;
  if (channel.passive && PreparePassive(context, control, channel) != kSuccess) return Piece::kRefused;
  if (!channel.passive && PrepareActive(context, control, channel) != kSuccess) return Piece::kRefused;
  char rest_line[64];
  std::snprintf(rest_line, sizeof rest_line, "REST %llu\r\n", static_cast<unsigned long long>(offset));
  const int rest = Exchange(context, control, rest_line);
  if (rest < 0 || rest >= 400) return Piece::kRefused;
  // Only a preliminary reply means the bytes are on their way.
  const int retr = Exchange(context, control, retr_line);
  if (retr < 100 || retr >= 200) return Piece::kRefused;
  if (!channel.passive && AcceptDataConnection(context, control, channel) != kSuccess) return Piece::kRefused;
  *data = std::move(channel.data);
  return Piece::kReceiving;
}

int Upload(Context& context, net::Socket& control, const std::string& local_file,
           const std::string& remote_path) {
  std::string line;
  if (!BuildPathCommand("STOR", remote_path, &line)) {
    session::SetCause(context, "Remote path cannot be sent");
    return kFailure;
  }
  return DataTransfer(context, control, line, kStore, local_file) < 0 ? kFailure : kSuccess;
}

int ReadFinalReply(Context& context, net::Socket& control) {
  int code = ReadReply(context, control);
  if (code == kConnectionLost) {
    ShowStatus(context, "Lost connection");
    return kConnectionLost;
  }
  if (code >= 400) {
    ShowStatusNumber(context, "Failed to transfer file,Reply code:%d", code);
    ReplyCause(context, code);
    return kFailure;
  }
  return kSuccess;
}

void TakeSizeFromReply(Context& context) {
  std::string text = context.reply_text;
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::size_t open = text.rfind('(');
  if (open == std::string::npos) return;
  if (text.find("BYTES", open) == std::string::npos) return;
  std::size_t i = open + 1;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint64_t size = 0;
  // Nineteen digits always fit in 64 bits; a longer number is no size.
  for (int digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    if (digits == 19) return;
    size = size * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  context.total_size = size;
}

std::string PortArgument(net::Ipv4 address, std::uint16_t port) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  char text[32];
  std::snprintf(text, sizeof text, "%u,%u,%u,%u,%u,%u", bytes[0], bytes[1], bytes[2], bytes[3],
                static_cast<unsigned>(port >> 8), static_cast<unsigned>(port & 0xFF));
  return text;
}

std::string ExtendedPortArgument(const net::Address& address, std::uint16_t port) {
  return std::string(address.v6 ? "|2|" : "|1|") + net::AddressText(address) + "|" + std::to_string(port) + "|";
}

}  // namespace ftp
