// The main window's keyboard: Enter in the server, user and password fields
// connects, Enter in the remote path lists that folder (or picks that file
// in its folder), and the folder the arrow keys move to in the remote tree
// is listed after a short pause.
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <string>
#include <utility>

#include "ByteText.h"
#include "LibOrv.h"
#include "cOrvFtpClient.h"
#include "ctlSecurePwdEdit.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// The pause after the last arrow key before the remote tree's folder is
// listed: going through several folders lists only the last one.
constexpr int kTreeKeyPauseMs = 300;

}  // namespace

void frmMain::ConnectKeyboard() {
  for (QLineEdit* p : {tbFtpUrl, tbFtpUsr}) connect(p, &QLineEdit::returnPressed, this, [this] { ConnectByKey(); });
  connect(tbFtpPwd, &ctlSecurePwdEdit::KeyPress, this, [this](int& iKeyAscii) {
    if (iKeyAscii != 13) return;
    iKeyAscii = 0;
    ConnectByKey();
  });
  connect(tbFtpPath, &QLineEdit::returnPressed, this, [this] { tbFtpPath_Enter(); });

  m_pTreeKeyTimer = new QTimer(this);
  m_pTreeKeyTimer->setSingleShot(true);
  m_pTreeKeyTimer->setInterval(kTreeKeyPauseMs);
  connect(m_pTreeKeyTimer, &QTimer::timeout, this, [this] {
    if (tvFtpDirs->currentItem() && tvFtpDirs->isEnabled()) tvFtpDirs_NodeClick(tvFtpDirs->currentItem());
  });
  tvFtpDirs->installEventFilter(this);
  tvFtpDirs->viewport()->installEventFilter(this);
  connect(tvFtpDirs, &QTreeWidget::currentItemChanged, this, [this] {
    if (m_pKeyList == tvFtpDirs) m_pTreeKeyTimer->start();
  });
}

// As Connect does, while Connect can be pressed.
void frmMain::ConnectByKey() {
  if (cbConnect->isEnabled()) cbConnect_Click();
}

void frmMain::tbFtpPath_Enter() {
  if (!m_oFtpClient || !lbFtpFiles->isEnabled()) return;
  const std::string sPath = ByteText_ToBytes(tbFtpPath->text());
  if (sPath.empty() || LibOrv_HasLineBreak(sPath)) return;
  const std::string sName = LibOrv_GetRemoteName(sPath);
  // A bare name is one of the root folder.
  const std::string sFolder = sName.size() == sPath.size() ? std::string("/") : LibOrv_GetRemoteFolder(sPath);
  // A listing's folders go under the folder's node: only a folder the tree
  // shows can be listed.
  if (sFolder != "/" && !FtpNode(sFolder.substr(0, sFolder.size() - 1))) {
    ShowStatus("Not a folder of the tree: " + sFolder, true, "Open its parent folder first");
    return;
  }
  // A file is picked once its folder's listing has arrived.
  m_sPickAfterListing = sName;
  ListFtpFolder(sFolder);
}

// The file that Enter in the path named, in the listing just arrived.
void frmMain::PickListedFile() {
  const std::string sName = std::exchange(m_sPickAfterListing, std::string());
  if (sName.empty()) return;
  for (int i = 0; i < lbFtpFiles->count(); ++i) {
    if (ByteText_ToBytes(lbFtpFiles->item(i)->text()) != sName) continue;
    lbFtpFiles->setCurrentRow(i);
    lbFtpFiles->scrollToItem(lbFtpFiles->item(i));
    return;
  }
}
