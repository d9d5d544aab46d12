#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

// The queue between the library's worker threads and the host's
// user-interface thread. Workers post completions; the host pumps them.
class FtpDispatcher {
 public:
  static FtpDispatcher& Instance();

  // A callback of a connection's request: dropped when the connection is
  // closed before the callback ran. From any thread.
  void PostCallback(int32_t lConnection, std::function<void()> fnCall);
  // A callback that is delivered whatever happens to the connections: log
  // lines, and the answers to requests on handles that do not exist.
  void PostUnbound(std::function<void()> fnCall);
  // Forgets the waiting callbacks of the connection and refuses its later
  // ones, which a worker may be about to post.
  void CloseConnection(int32_t lConnection);
  // Forgets everything that waits and every closed connection.
  void Clear();

  // Why the connection's request whose answer runs, or ran last, failed;
  // empty after a success. Set by the answer itself as it runs.
  void SetLastFailure(int32_t lConnection, const std::string& sWhy);
  std::string LastFailure(int32_t lConnection);

  void SetNotifier(std::function<void()> fnNotify);
  void Pump();

 private:
  struct Item {
    int32_t lConnection;  // 0 for unbound callbacks
    std::function<void()> fnCall;
  };
  void Post(Item item);

  std::mutex m_mutex;
  std::deque<Item> m_queue;
  std::unordered_set<int32_t> m_closed;
  std::unordered_map<int32_t, std::string> m_lastFailures;
  std::mutex m_notifierMutex;
  std::function<void()> m_fnNotify;
  std::atomic<bool> m_bPumping{false};
};
