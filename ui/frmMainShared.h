#pragma once

// What the parts of the main window's implementation share: the remote
// tree's node keys, the command buttons' colours and the ways a command
// reports. Used by the frmMain*.cpp files only.

#include <QColor>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidgetItem>

#include <string>
#include <string_view>

#include "AppChannel.h"
#include "OrvError.h"
#include "OrvFtpLibrary.h"
#include "frmMain.h"

namespace frmMainShared {

// Calls fnEntry with each entry of a listing as the FTP client hands it
// over ("name\r\n" each, a folder's name ending in "/"), leaving out "./",
// "../" and empty ones. A piece after the last CR LF is never looked at.
template <typename Fn>
void ForEachListed(std::string_view sDirList, Fn fnEntry) {
  std::size_t p = 0;
  for (;;) {
    const std::size_t e = sDirList.find("\r\n", p);
    if (e == std::string_view::npos) return;
    const std::string_view sPiece = sDirList.substr(p, e - p);
    p = e + 2;
    if (!sPiece.empty() && sPiece != "./" && sPiece != "../") fnEntry(sPiece);
  }
}

inline constexpr int kNodeKeyRole = Qt::UserRole;
inline constexpr int kNodeImageRole = Qt::UserRole + 1;

// The remote tree's root node. Every folder node is keyed by the folder's
// full remote path as the server's bytes ("/a/docs"), which also tells
// folders of the same name in different places apart.
inline constexpr char kRootKey[] = "ROOT";

// The remote folder a node stands for, without a closing "/": its key;
// empty for the root or no node.
inline std::string FtpNodeFolder(const QTreeWidgetItem* pNode) {
  const std::string sKey = frmMain::FtpNodeKey(pNode);
  return sKey == kRootKey ? std::string() : sKey;
}

// Errors of the tree control, numbered as the platform's tree view numbers
// them.
inline constexpr long kKeyNotUnique = 35602;
inline constexpr long kElementNotFound = 35601;

inline const QColor kGreen(0, 255, 0);
inline const QColor kBlue(0, 0, 255);
inline const QColor kYellow(255, 255, 0);
inline const QColor kRed(255, 0, 0);

inline void SetButtonColour(QPushButton* p, const QColor& c) {
  QPalette o = p->palette();
  o.setColor(QPalette::Button, c);
  p->setPalette(o);
}

// Back to the system's button face.
inline void SetButtonFace(QPushButton* p) { p->setPalette(QPalette()); }

inline void Report(long m, const std::string& sModule, const std::string& sMsg) {
  if (AppChannel* pApp = OrvApp()) pApp->Msg(m, sModule, sMsg);
}

// A request the FTP library answered with a failure: sMsg, and under it
// sWhy, the server's reply or the connection's fault (never a password:
// the library masks it).
inline void ReportFailure(long m, const std::string& sModule, const std::string& sMsg, const std::string& sWhy) {
  if (AppChannel* pApp = OrvApp()) pApp->Msg(m, sModule, sMsg, "", nullptr, sWhy);
}

inline void Log24(const std::string& s) {
  if (AppChannel* pApp = OrvApp()) pApp->Log(s, 24);
}

inline std::string ErrorText(const OrvError& e) {
  return "Error " + std::to_string(e.Number()) + ": " + e.Description();
}

}  // namespace frmMainShared
