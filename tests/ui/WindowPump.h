#pragma once

// How the window tests wait: the FTP library's completions and the window's
// events run until a condition holds.
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

#include "OrvFtpLibrary.h"

// Runs the FTP library's completions and the window's events until bDone
// holds (true) or the time is up (false).
inline bool PumpUntil(const std::function<bool()>& bDone,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    OrvFtpClientPump();
    QCoreApplication::processEvents();
    if (bDone()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Pumps for the whole time, for checking that nothing (more) arrives.
inline void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}
