#pragma once

#include <string>

class OrvError;

// The answers to a question asked about each of several things.
enum class AppAnswer { kYes, kNo, kYesToAll, kNoToAll };

// What the support library and the FTP layer need of the running
// application: messages to the user, the run's log, the life-cycle status and
// the run's start stamp. The application object implements it and makes
// itself the current channel while it lives.
class AppChannel {
 public:
  virtual ~AppChannel() = default;

  virtual void Msg(long m, const std::string& sModule, const std::string& sMsg = "", const std::string& sAction = "",
                   const OrvError* pErr = nullptr, const std::string& sAddInfo = "") = 0;
  virtual void Log(const std::string& s, long eTyp) = 0;
  virtual long Status() const = 0;
  virtual std::string StartUtc() const = 0;
  // A plain modal box with an OK button and no icon.
  virtual void MsgBox(const std::string& sText, const std::string& sTitle) = 0;
  // A modal question with Yes and No, No the default; true for Yes.
  virtual bool Ask(const std::string& sQuestion, const std::string& sTitle) = 0;
  // The same question about one of several things, with "Yes to all" and
  // "No to all" beside Yes and No; No the default. Without those buttons it
  // is Ask's question.
  virtual AppAnswer AskForEach(const std::string& sQuestion, const std::string& sTitle) {
    return Ask(sQuestion, sTitle) ? AppAnswer::kYes : AppAnswer::kNo;
  }
};

// The current application, or nullptr while there is none.
AppChannel* OrvApp();
void OrvApp_Set(AppChannel* pApp);
