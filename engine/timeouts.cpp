#include "engine/timeouts.h"

#include <atomic>

namespace timeouts {
namespace {
std::atomic<int> g_connect_ms{kDefaultConnectMs};
std::atomic<int> g_reply_ms{kDefaultReplyMs};
std::atomic<int> g_data_ms{kDefaultDataMs};
}  // namespace

int ConnectMs() { return g_connect_ms.load(); }
int ReplyMs() { return g_reply_ms.load(); }
int DataMs() { return g_data_ms.load(); }

void Set(int connect_ms, int reply_ms, int data_ms) {
  g_connect_ms.store(connect_ms);
  g_reply_ms.store(reply_ms);
  g_data_ms.store(data_ms);
}

void RestoreDefaults() { Set(kDefaultConnectMs, kDefaultReplyMs, kDefaultDataMs); }

}  // namespace timeouts
