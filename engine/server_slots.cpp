#include "engine/server_slots.h"

#include <atomic>
#include <list>
#include <map>
#include <mutex>

namespace server_slots {
namespace {

struct Queued {
  std::uint64_t key;
  std::string server;
  WaiterHandle waiter;
};
using Queue = std::list<Queued>;

struct Server {
  int in_use = 0;
  Queue waiting;
};

std::atomic<int> g_cap{0};
std::mutex g_lock;  // guards the two below
std::map<std::string, Server> g_servers;
// Where each queued entry stands, so that Stop finds it among thousands.
std::multimap<std::uint64_t, Queue::iterator> g_by_key;

// A server that neither holds a slot nor has anyone waiting is forgotten, so
// a long run over many hosts keeps no trace of each.
void ForgetIfIdle(std::map<std::string, Server>::iterator found) {
  if (found->second.in_use == 0 && found->second.waiting.empty()) g_servers.erase(found);
}

bool Fits(const Server& server, int cap) { return cap == 0 || server.in_use < cap; }

void DropFromIndex(std::uint64_t key, Queue::iterator at) {
  const auto range = g_by_key.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == at) {
      g_by_key.erase(it);
      return;
    }
  }
}

// The first entry waiting for server when a slot is free for it, its slot
// taken; null otherwise. g_lock held.
WaiterHandle PopFitting(const std::string& name) {
  const auto found = g_servers.find(name);
  if (found == g_servers.end()) return nullptr;
  Server& server = found->second;
  if (server.waiting.empty() || !Fits(server, g_cap.load())) return nullptr;
  const Queue::iterator first = server.waiting.begin();
  WaiterHandle waiter = first->waiter;
  DropFromIndex(first->key, first);
  server.waiting.erase(first);
  ++server.in_use;
  return waiter;
}

void Release(const std::string& name) {
  const auto found = g_servers.find(name);
  if (found == g_servers.end()) return;
  if (found->second.in_use > 0) --found->second.in_use;
  ForgetIfIdle(found);
}

// Starts waiting entries of server while slots are free. One that cannot
// start gives its slot on to the next, without recursion however many fail.
void StartWaiting(const std::string& server) {
  for (;;) {
    WaiterHandle next;
    {
      std::lock_guard<std::mutex> hold(g_lock);
      next = PopFitting(server);
    }
    if (!next) return;
    if (next->Start()) continue;
    std::lock_guard<std::mutex> hold(g_lock);
    Release(server);
  }
}

}  // namespace

std::string ServerOf(const std::string& host, std::uint32_t port) {
  std::string key = host;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key + ":" + std::to_string(port);
}

void SetCap(int cap) {
  g_cap.store(cap < 0 ? 0 : cap);
  std::vector<std::string> with_waiting;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    for (const auto& [name, server] : g_servers) {
      if (!server.waiting.empty()) with_waiting.push_back(name);
    }
  }
  for (const std::string& name : with_waiting) StartWaiting(name);
}

int Cap() { return g_cap.load(); }

bool TryTake(const std::string& name) {
  std::lock_guard<std::mutex> hold(g_lock);
  Server& server = g_servers[name];
  if (!server.waiting.empty() || !Fits(server, g_cap.load())) {
    ForgetIfIdle(g_servers.find(name));
    return false;
  }
  ++server.in_use;
  return true;
}

void Give(const std::string& name) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    Release(name);
  }
  StartWaiting(name);
}

bool TakeOrQueue(const std::string& name, std::uint64_t key, const WaiterHandle& waiter) {
  std::lock_guard<std::mutex> hold(g_lock);
  Server& server = g_servers[name];
  if (server.waiting.empty() && Fits(server, g_cap.load())) {
    ++server.in_use;
    return true;
  }
  server.waiting.push_back({key, name, waiter});
  g_by_key.emplace(key, std::prev(server.waiting.end()));
  return false;
}

std::vector<WaiterHandle> Unqueue(std::uint64_t key) {
  std::vector<WaiterHandle> taken;
  std::lock_guard<std::mutex> hold(g_lock);
  const auto range = g_by_key.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    const Queue::iterator at = it->second;
    taken.push_back(at->waiter);
    const auto found = g_servers.find(at->server);
    found->second.waiting.erase(at);
    ForgetIfIdle(found);
  }
  g_by_key.erase(range.first, range.second);
  return taken;
}

int InUse(const std::string& name) {
  std::lock_guard<std::mutex> hold(g_lock);
  const auto found = g_servers.find(name);
  return found == g_servers.end() ? 0 : found->second.in_use;
}

int Waiting(const std::string& name) {
  std::lock_guard<std::mutex> hold(g_lock);
  const auto found = g_servers.find(name);
  return found == g_servers.end() ? 0 : static_cast<int>(found->second.waiting.size());
}

}  // namespace server_slots
