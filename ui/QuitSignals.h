#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the event loop, so that a
// logout or a kill asks the program to close its window like a user would.
class QuitSignals : public QObject {
  Q_OBJECT

 public:
  QuitSignals(std::function<void()> onQuit, QObject* parent = nullptr);
  ~QuitSignals() override;

 private:
  void Drain();

  std::function<void()> m_onQuit;
  QSocketNotifier* m_pNotifier = nullptr;
};
