#pragma once

#include <string>
#include <vector>

#include "AppChannel.h"
#include "OrvError.h"

// An application channel for tests that records what the code under test
// tells the user and the log, and makes itself the current application.
class RecordingApp : public AppChannel {
 public:
  struct Message {
    long m;
    std::string sModule, sMsg, sAction, sAddInfo;
    long lErrNumber;  // 0 without an error object
  };
  struct LogLine {
    std::string s;
    long eTyp;
  };
  struct Box {
    std::string sText, sTitle;
  };

  explicit RecordingApp(long lStatus = 1) : m_lStatus(lStatus) { OrvApp_Set(this); }
  ~RecordingApp() override {
    if (OrvApp() == this) OrvApp_Set(nullptr);
  }

  void Msg(long m, const std::string& sModule, const std::string& sMsg, const std::string& sAction,
           const OrvError* pErr, const std::string& sAddInfo) override {
    messages.push_back({m, sModule, sMsg, sAction, sAddInfo, pErr ? pErr->Number() : 0});
  }
  void Log(const std::string& s, long eTyp) override { logs.push_back({s, eTyp}); }
  long Status() const override { return m_lStatus; }
  std::string StartUtc() const override { return "20261207120000123"; }
  void MsgBox(const std::string& sText, const std::string& sTitle) override { boxes.push_back({sText, sTitle}); }

  bool Ask(const std::string& sQuestion, const std::string& sTitle) override {
    questions.push_back({sQuestion, sTitle});
    return bAnswer;
  }
  AppAnswer AskForEach(const std::string& sQuestion, const std::string& sTitle) override {
    questions.push_back({sQuestion, sTitle});
    return eAnswerForEach;
  }

  void SetStatus(long lStatus) { m_lStatus = lStatus; }

  std::vector<Message> messages;
  std::vector<LogLine> logs;
  std::vector<Box> boxes;
  std::vector<Box> questions;
  bool bAnswer = false;                       // to every question
  AppAnswer eAnswerForEach = AppAnswer::kNo;  // to every question about each of several

 private:
  long m_lStatus;
};
