#include "QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#include <utility>

namespace {
int g_aiPipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  // Only async-signal-safe work here; the event loop does the rest.
  ssize_t n = ::write(g_aiPipe[1], &c, 1);
  (void)n;
}
}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit, QObject* parent) : QObject(parent), m_onQuit(std::move(onQuit)) {
  if (::pipe2(g_aiPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_pNotifier = new QSocketNotifier(g_aiPipe[0], QSocketNotifier::Read, this);
  connect(m_pNotifier, &QSocketNotifier::activated, this, &QuitSignals::Drain);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int iSignal : {SIGTERM, SIGINT, SIGHUP}) sigaction(iSignal, &sa, nullptr);
}

QuitSignals::~QuitSignals() {
  for (int iSignal : {SIGTERM, SIGINT, SIGHUP}) std::signal(iSignal, SIG_DFL);
  if (g_aiPipe[0] >= 0) ::close(g_aiPipe[0]);
  if (g_aiPipe[1] >= 0) ::close(g_aiPipe[1]);
  g_aiPipe[0] = g_aiPipe[1] = -1;
}

void QuitSignals::Drain() {
  char ac[64];
  while (::read(g_aiPipe[0], ac, sizeof ac) > 0) {
  }
  if (m_onQuit) m_onQuit();
}
