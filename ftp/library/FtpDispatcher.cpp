#include "FtpDispatcher.h"

#include <algorithm>
#include <optional>

FtpDispatcher& FtpDispatcher::Instance() {
  static FtpDispatcher dispatcher;
  return dispatcher;
}

void FtpDispatcher::PostCallback(int32_t lConnection, std::function<void()> fnCall) {
  Post({lConnection, std::move(fnCall)});
}

void FtpDispatcher::PostUnbound(std::function<void()> fnCall) { Post({0, std::move(fnCall)}); }

void FtpDispatcher::Post(Item item) {
  bool bWasEmpty;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (item.lConnection != 0 && m_closed.count(item.lConnection) != 0) return;
    bWasEmpty = m_queue.empty();
    m_queue.push_back(std::move(item));
  }
  // A running pump drains what follows; only the first waiting item needs
  // the host's attention.
  if (!bWasEmpty) return;
  std::function<void()> fnNotify;
  {
    std::lock_guard<std::mutex> lock(m_notifierMutex);
    fnNotify = m_fnNotify;
  }
  if (fnNotify) fnNotify();
}

void FtpDispatcher::CloseConnection(int32_t lConnection) {
  std::deque<Item> dropped;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closed.insert(lConnection);
  m_lastFailures.erase(lConnection);
  for (Item& item : m_queue) {
    if (item.lConnection == lConnection) dropped.push_back(std::move(item));
  }
  std::erase_if(m_queue, [lConnection](const Item& item) { return item.lConnection == lConnection; });
}

void FtpDispatcher::Clear() {
  std::deque<Item> dropped;
  std::lock_guard<std::mutex> lock(m_mutex);
  dropped.swap(m_queue);
  m_closed.clear();
  m_lastFailures.clear();
}

void FtpDispatcher::SetLastFailure(int32_t lConnection, const std::string& sWhy) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (sWhy.empty()) m_lastFailures.erase(lConnection);
  else m_lastFailures[lConnection] = sWhy;
}

std::string FtpDispatcher::LastFailure(int32_t lConnection) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_lastFailures.find(lConnection);
  return it == m_lastFailures.end() ? std::string() : it->second;
}

void FtpDispatcher::SetNotifier(std::function<void()> fnNotify) {
  {
    std::lock_guard<std::mutex> lock(m_notifierMutex);
    m_fnNotify = fnNotify;
  }
  bool bWaiting;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    bWaiting = !m_queue.empty();
  }
  // Whatever waited before the notifier came must not wait forever.
  if (bWaiting && fnNotify) fnNotify();
}

void FtpDispatcher::Pump() {
  // One pump at a time: a callback that spins a nested event loop must not
  // receive the next callback inside itself.
  bool bExpected = false;
  if (!m_bPumping.compare_exchange_strong(bExpected, true)) return;
  struct PumpingFlag {
    std::atomic<bool>& b;
    ~PumpingFlag() { b = false; }
  } flag{m_bPumping};
  for (;;) {
    std::optional<Item> item;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_queue.empty()) break;
      item.emplace(std::move(m_queue.front()));
      m_queue.pop_front();
    }
    item->fnCall();
  }
}
