#pragma once

#include <string>

#include "AppChannel.h"

class AppWindow;

// The user interface as the application frame sees it. The window toolkit
// implements it; tests give their own to record what would be shown.
class AppUi {
 public:
  virtual ~AppUi() = default;

  // A modal box with an OK button only and no icon; returns once closed.
  virtual void ShowMessageBox(const std::string& sText, const std::string& sTitle) = 0;
  // A modal question with Yes and No buttons, No the default; true once
  // Yes was pressed.
  virtual bool AskQuestion(const std::string& sQuestion, const std::string& sTitle) = 0;
  // The same with "Yes to all" and "No to all" as well; No the default.
  virtual AppAnswer AskQuestionForEach(const std::string& sQuestion, const std::string& sTitle) {
    return AskQuestion(sQuestion, sTitle) ? AppAnswer::kYes : AppAnswer::kNo;
  }
  // The main window. The first call creates it and runs its load handler
  // to completion before returning.
  virtual AppWindow& MainWindow() = 0;
  // True once the main window exists.
  virtual bool HasMainWindow() const = 0;
};
