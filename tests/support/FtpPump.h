#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "OrvFtpLibrary.h"

// Plays the host's event loop for the FTP library in tests: installs a
// notifier and runs the waiting callbacks on the test's thread.
class FtpPump {
 public:
  FtpPump() {
    OrvFtpClientSetNotifier([this] {
      ++m_iNotifications;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bNotified = true;
      }
      // Outside the lock, so that the woken thread does not wait for it.
      m_wake.notify_one();
    });
  }
  ~FtpPump() { OrvFtpClientSetNotifier(nullptr); }
  FtpPump(const FtpPump&) = delete;
  FtpPump& operator=(const FtpPump&) = delete;

  // Pumps until bDone holds (true) or the time is up (false).
  bool Until(const std::function<bool()>& bDone, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      OrvFtpClientPump();
      if (bDone()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)),
                        [this] { return m_bNotified; });
      m_bNotified = false;
    }
  }

  // Pumps for the whole time, for checking that nothing (more) arrives.
  void For(std::chrono::milliseconds duration) {
    Until([] { return false; }, duration);
  }

  int Notifications() const { return m_iNotifications; }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_bNotified = false;
  std::atomic<int> m_iNotifications{0};
};
