// FTP client of one transfer attempt: login, transfer type, the data
// connection (passive, or active after a refused PASV; EPSV and EPRT over
// IPv6), REST, RETR/STOR, and the final transfer reply. The body is moved by
// the pumps of the connection layer.
//
// Two layers: the wire (send one command line, read one complete reply) and
// the protocol steps above it, one short function per step.
//
// Results follow session::Result: 0 success, kFailure (-1), kConnectionLost
// (-16) when the control connection was closed or failed; a non-negative value
// from an exchange is the reply code.
#pragma once

#include <cstdint>
#include <string>

#include "engine/session.h"
#include "platform/socket.h"

namespace ftp {

// A reply line is kept up to this many bytes (CR LF not counted); the rest of
// an over-long line is read and dropped.
constexpr std::size_t kReplyLineLimit = 1022;

enum Direction : int { kRetrieve = 1, kStore = 2 };

// --- Wire ---

// Sends a command line (CR LF included). Returns 0, kFailure or
// kConnectionLost (see session::SendBlock).
int SendCommand(session::Context& context, net::Socket& control, const std::string& line);

// Reads the next complete reply, skipping the lines before its final line,
// lines of four bytes or fewer, and the part of a line beyond
// kReplyLineLimit. Stores the final line's text after the code in
// context.reply_text. Returns the code, or kConnectionLost when the peer
// closed, the receive failed or no complete reply came within the reply
// time-out.
int ReadReply(session::Context& context, net::Socket& control);

// Sends line and returns the code of the first reply other than 220 (so a
// greeting that was not awaited is consumed here), or a negative result.
// Greeting and reply together must arrive within the reply time-out.
int Exchange(session::Context& context, net::Socket& control, const std::string& line);

// --- Steps ---

// USER (empty user: "anonymous"), then PASS with the password or, when it is
// empty, the stored email (the placeholder address when none is stored); a
// stored empty email means no PASS. Returns 0, kLoginRefused after "Failed"
// for a 530 to either, kFailure (another reply of 400 or more, or a user or
// password that cannot be sent) or kConnectionLost.
int Login(session::Context& context, net::Socket& control, const std::string& user,
          const std::string& password);

// TYPE A N when Filetype is 2 (ASCII), else TYPE I. The reply is not judged.
void SetTransferType(session::Context& context, net::Socket& control);

// The common core of both directions: for an upload the local file opened
// first (kFailure after "File open error", nothing sent, when it cannot be),
// type, data connection (passive: to the control connection's peer, at the
// port of the 227 reply, or of the 229 reply over IPv6), REST (Auto Resume
// downloads of a non-empty partial file only), the transfer command, and the
// pump. Returns the pump's result, kFailure or kConnectionLost.
int DataTransfer(session::Context& context, net::Socket& control, const std::string& command_line,
                 Direction direction, const std::string& local_file);

// RETR of the remote path without its leading '/'. Returns 0, kNotRetried
// when another transfer holds the local file, or kFailure (after "FTP failed").
int Download(session::Context& context, net::Socket& control, const std::string& local_file,
             const std::string& remote_path);

// One more connection of a download split over several (engine/split_download.h):
// on control, just connected, logs in as the entry's own connection did, sets
// the type, asks SIZE, opens the data connection the same way, and asks with
// REST and RETR for the bytes from offset. kReceiving with *data open once
// the server has agreed; kChanged when SIZE names another size than total;
// kRefused for any refusal (too many logins, REST or RETR refused, no SIZE),
// which leaves the piece to the connections that work.
enum class Piece { kReceiving, kRefused, kChanged };
Piece RetrieveFrom(session::Context& context, net::Socket& control, const session::AttemptParams& params,
                   std::uint64_t offset, std::uint64_t total, net::Socket* data);

// STOR of the remote path without its leading '/'. Returns 0 or kFailure.
int Upload(session::Context& context, net::Socket& control, const std::string& local_file,
           const std::string& remote_path);

// Reads the reply that ends a transfer (226) once its data connection has
// ended. Returns 0; kFailure after "Failed to transfer file,Reply code:%d" for
// a reply of 400 or more; kConnectionLost after "Lost connection" when none
// came.
int ReadFinalReply(session::Context& context, net::Socket& control);

// The total size that an FTP server announces in its transfer reply, as in
// "150 Opening BINARY mode data connection for f (1000 bytes)": the number
// between the last '(' and the word BYTES after it.
void TakeSizeFromReply(session::Context& context);

// The PORT argument "h1,h2,h3,h4,p1,p2" for an address (network order) and a
// port (host order).
std::string PortArgument(net::Ipv4 address, std::uint16_t port);
// The EPRT argument "|2|::1|port|" ("|1|" and a dotted address for IPv4).
std::string ExtendedPortArgument(const net::Address& address, std::uint16_t port);

}  // namespace ftp
