// Time-outs of one transfer attempt, in milliseconds. A server that stalls
// cannot hold a worker longer than these:
// - connect: a TCP connection (control or data) must be up within it, and an
//   active-mode server must connect to us within it;
// - reply: a complete FTP reply must arrive within it from the moment its
//   reading began (greeting, command replies, the final transfer reply);
// - data: a connection that moves no byte for this long fails.
// Safe to read from any thread; tests shorten them and restore the defaults.
#pragma once

namespace timeouts {

constexpr int kDefaultConnectMs = 30000;
constexpr int kDefaultReplyMs = 60000;
constexpr int kDefaultDataMs = 120000;

int ConnectMs();
int ReplyMs();
int DataMs();

void Set(int connect_ms, int reply_ms, int data_ms);
void RestoreDefaults();

}  // namespace timeouts
