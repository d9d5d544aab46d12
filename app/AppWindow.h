#pragma once

#include <string>

// What the application frame needs of the main window: the three credential
// fields, the automatic-run timer, and showing the window.
class AppWindow {
 public:
  virtual ~AppWindow() = default;

  // Runs the window's load handler (Form_Load). Called once, right after the
  // window was created and before anything else is asked of it.
  virtual void Load() = 0;

  virtual std::string FtpUrlText() = 0;
  virtual void SetFtpUrlText(const std::string& s) = 0;
  virtual std::string FtpUsrText() = 0;
  virtual void SetFtpUsrText(const std::string& s) = 0;
  // The password control's Text, as UTF-8 bytes.
  virtual std::string FtpPwdText() = 0;
  virtual void SetFtpPwdText(const std::string& s) = 0;

  virtual void SetAutoTimer(const std::string& sStatus, long lTime) = 0;
  virtual void ShowWindow() = 0;
  // Closes the window the way a user's close does (the unload handler runs).
  virtual void CloseWindow() = 0;
};
