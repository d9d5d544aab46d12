#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AppUi.h"
#include "AppWindow.h"

// A user interface for tests of the application frame: the window is a set
// of fields, and message boxes are recorded instead of shown.
class RecordingWindow : public AppWindow {
 public:
  void Load() override {
    ++iLoads;
    if (onLoad) onLoad(*this);
  }
  std::string FtpUrlText() override { return sUrl; }
  void SetFtpUrlText(const std::string& s) override { sUrl = s; }
  std::string FtpUsrText() override { return sUsr; }
  void SetFtpUsrText(const std::string& s) override { sUsr = s; }
  std::string FtpPwdText() override { return sPwd; }
  void SetFtpPwdText(const std::string& s) override { sPwd = s; }
  void SetAutoTimer(const std::string& sStatus, long lTime) override { timers.push_back({sStatus, lTime}); }
  void ShowWindow() override { ++iShows; }
  void CloseWindow() override { ++iCloses; }

  struct Timer {
    std::string sStatus;
    long lTime;
  };
  std::string sUrl, sUsr, sPwd;
  std::vector<Timer> timers;
  int iLoads = 0;
  int iShows = 0;
  int iCloses = 0;
  void (*onLoad)(RecordingWindow&) = nullptr;
};

class RecordingUi : public AppUi {
 public:
  struct Box {
    std::string sText, sTitle;
  };

  void ShowMessageBox(const std::string& sText, const std::string& sTitle) override {
    boxes.push_back({sText, sTitle});
  }
  bool AskQuestion(const std::string& sQuestion, const std::string& sTitle) override {
    questions.push_back({sQuestion, sTitle});
    return bAnswer;
  }
  AppWindow& MainWindow() override {
    if (!m_bCreated) {
      m_bCreated = true;
      window.Load();
    }
    return window;
  }
  bool HasMainWindow() const override { return m_bCreated; }

  RecordingWindow window;
  std::vector<Box> boxes;
  std::vector<Box> questions;
  bool bAnswer = false;  // to every question

 private:
  bool m_bCreated = false;
};
