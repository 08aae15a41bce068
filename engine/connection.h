// The connection of one transfer attempt, from a host name to an open TCP
// connection (through the proxy of the URL's protocol while Firewall is 1; for
// HTTPS a tunnel through it and the TLS stream), and what the protocols need
// of their connections: the read-ahead of the FTP control connection,
// whole-block sends, and the FTP data connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/session.h"
#include "platform/socket.h"

namespace session {

// Connects control to the server of the attempt: chooses it (the proxy of the
// URL's protocol while context.via_proxy), resolves it ("Resolving address"
// unless it is a dotted or a bracketed IPv6 address), connects to the first
// of its addresses that answers (see net::Socket::ConnectFirst), and for
// HTTPS opens the tunnel through the proxy and secures the stream
// (context.via_proxy is cleared then: the request travels in the form the
// server itself takes). Returns kSuccess, kNoSocket when no socket could be
// made, or another negative value after telling why.
int OpenConnection(Context& context, const AttemptParams& params, net::Socket& control);

// The words for a Windows Sockets error number ("Connection refused").
std::string SocketErrorText(int error_number);

// Next byte of the control connection, read ahead in blocks. Waits until
// timeout_ms after reply_start (a tick count). Returns 1 with *byte, or
// kConnectionLost when the peer closed, the receive failed or time ran out.
int ReadReplyByte(Context& context, net::Socket& control, std::uint32_t reply_start,
                  int timeout_ms, char* byte);
// Forgets bytes read ahead (a new control connection).
void ResetControlInput(Context& context);

// Sends a whole block. Returns 0; on failure shows "write buffer %d" with the
// error number and returns kConnectionLost for a loss of the connection
// (10050, 10052, 10053, 10054, 10057, 10058), else kFailure.
int SendBlock(const Context& context, net::Socket& socket, const void* bytes, std::size_t length);
bool IsConnectionLoss(int error_number);

// Address and port of a passive-mode reply "... (h1,h2,h3,h4,p1,p2)". Returns
// false when the reply is unusable: no '(', fewer than six fields, a field over
// seven characters, a number out of 0-255, or no closing ')'.
bool ParsePassiveReply(const std::string& reply_text, net::Ipv4* address, std::uint16_t* port);

// Port of an extended passive reply "... (|||port|)" (any printable delimiter
// in place of '|'). Returns false unless the parenthesis holds three
// delimiters, a port of 1 to 65535 in at most five digits, and a delimiter.
bool ParseExtendedPassiveReply(const std::string& reply_text, std::uint16_t* port);

// Connects a data socket. Returns kSuccess, kNoSocket, or kFailure after
// showing "Failed connection".
int OpenDataConnection(const Context& context, const net::Address& address, std::uint16_t port,
                       net::Socket* data);
}  // namespace session
