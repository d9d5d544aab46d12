#pragma once

#include <functional>
#include <memory>
#include <string>

#include "AppUi.h"
#include "AppWindow.h"

// The application frame's user interface on Qt: message boxes and the
// main window, which the given factory creates and loads on first use.
class QtAppUi : public AppUi {
 public:
  using WindowFactory = std::function<std::unique_ptr<AppWindow>()>;

  explicit QtAppUi(WindowFactory createWindow);
  ~QtAppUi() override;

  void ShowMessageBox(const std::string& sText, const std::string& sTitle) override;
  bool AskQuestion(const std::string& sQuestion, const std::string& sTitle) override;
  AppAnswer AskQuestionForEach(const std::string& sQuestion, const std::string& sTitle) override;
  AppWindow& MainWindow() override;
  bool HasMainWindow() const override { return m_pWindow != nullptr; }

  // True on a platform without a screen, where nobody can close a box.
  static bool Offscreen();

 private:
  WindowFactory m_createWindow;
  std::unique_ptr<AppWindow> m_pWindow;
};
