#include "frmMain.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>


#include "AppChannel.h"
#include "DirListBox.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "ctlSecurePwdEdit.h"
#include "frmMainImages.h"

namespace {

constexpr int kNodeKeyRole = Qt::UserRole;
constexpr int kNodeImageRole = Qt::UserRole + 1;

// Errors of the tree control, numbered as the platform's tree view numbers them.
constexpr long kKeyNotUnique = 35602;
constexpr long kElementNotFound = 35601;

const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);

QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ToBytes(const QString& s) { return s.toUtf8().toStdString(); }

void Apply(QWidget* pControl, const LayoutRect& r) {
  const PixelRect o = frmMainLayout_ToPixels(r);
  pControl->setGeometry(o.iLeft, o.iTop, o.iWidth, o.iHeight);
}

QLabel* NewLabel(QWidget* pParent, const char* szCaption, int iLeft, int iTop, int iWidth, int iHeight) {
  auto* p = new QLabel(QString::fromUtf8(szCaption), pParent);
  p->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  p->setGeometry(iLeft, iTop, iWidth, iHeight);
  return p;
}

// A heading of one side: black lettering on white.
QLabel* NewHeading(QWidget* pParent, const char* szCaption) {
  auto* p = new QLabel(QString::fromUtf8(szCaption), pParent);
  p->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  p->setAutoFillBackground(true);
  QPalette o = p->palette();
  o.setColor(QPalette::Window, Qt::white);
  o.setColor(QPalette::WindowText, o.color(QPalette::Text));
  p->setPalette(o);
  return p;
}

QPushButton* NewButton(QWidget* pParent, const char* szCaption, const char* szToolTip) {
  auto* p = new QPushButton(QString::fromUtf8(szCaption), pParent);
  if (*szToolTip) p->setToolTip(QString::fromUtf8(szToolTip));
  return p;
}

QPushButton* NewPictureButton(QWidget* pParent, const QImage& oPicture, const char* szToolTip) {
  auto* p = NewButton(pParent, "", szToolTip);
  p->setIcon(QIcon(QPixmap::fromImage(oPicture)));
  p->setIconSize(oPicture.size());
  return p;
}

void SetButtonColour(QPushButton* p, const QColor& c) {
  QPalette o = p->palette();
  o.setColor(QPalette::Button, c);
  p->setPalette(o);
}

// Back to the system's button face.
void SetButtonFace(QPushButton* p) { p->setPalette(QPalette()); }

}  // namespace

frmMain::frmMain(QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowCloseButtonHint),
      ImageList1(frmMainImages_ImageList1()),
      m_oPlaces(frmMainLayout::FirstPlaces()) {
  setWindowTitle(QStringLiteral(" Orv FTP-Uploader"));
  setWindowIcon(frmMainImages_WindowIcon());
  CreateControls();
  SetTabOrder();
  resize(804, 431);
  Form_Resize();
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
  Label1 = NewLabel(this, "FTP Server Name", -2, 6, 100, 17);
  tbFtpUrl = new QLineEdit(this);
  tbFtpUrl->setGeometry(104, 2, 200, 19);
  Label3 = NewLabel(this, "UserName", -2, 24, 100, 17);
  tbFtpUsr = new QLineEdit(this);
  tbFtpUsr->setGeometry(104, 21, 200, 19);
  Label4 = NewLabel(this, "Password", -2, 42, 100, 17);
  tbFtpPwd = new ctlSecurePwdEdit(this);
  tbFtpPwd->setGeometry(104, 40, 200, 17);
  tbFtpText = new QLineEdit(this);
  tbFtpText->setGeometry(334, 40, 413, 19);

  cbConnect = NewButton(this, "Connect", "Connect with FTP server");
  cbConnect->setGeometry(104, 59, 100, 22);
  cbDisconnect = NewButton(this, "Disconnect", "Disconnect from FTP server");
  cbDisconnect->setGeometry(204, 59, 100, 22);
  cbMkDir = NewButton(this, "Create Directory", "");
  cbMkDir->setGeometry(334, 59, 100, 22);
  cbReName = NewButton(this, "Rename File", "");
  cbReName->setGeometry(434, 59, 100, 22);
  cbSize = NewButton(this, "Get Size", "");
  cbSize->setGeometry(534, 59, 100, 22);
  cbDelete = NewButton(this, "Delete", "");
  cbDelete->setGeometry(633, 59, 114, 22);

  labLocalCaption = NewHeading(this, "Windows File System");
  labLocalFileCnt = NewHeading(this, "");
  labFtpCaption = NewHeading(this, "FTP Server File System");
  labFtpFileCnt = NewHeading(this, "");

  Drive1 = new QComboBox(this);
  dlb = new DirListBox(this);
  lbLocalFiles = new QListWidget(this);
  cbGet = NewPictureButton(this, frmMainImages_ArrowLeft(), "Get file from FTP server");
  cbPut = NewPictureButton(this, frmMainImages_ArrowRight(), "Put file to FTP server");
  tvFtpDirs = new QTreeWidget(this);
  tvFtpDirs->setColumnCount(1);
  tvFtpDirs->setHeaderHidden(true);
  tvFtpDirs->setIconSize(ImageList1.ImageSize());
  lbFtpFiles = new QListWidget(this);
  tbLocalPath = new QLineEdit(this);
  tbFtpPath = new QLineEdit(this);
  labStatus = new QLabel(this);
  labStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette oStatus = labStatus->palette();
  oStatus.setColor(QPalette::WindowText, kBlue);
  labStatus->setPalette(oStatus);

  // The headings' lower edge runs under the drive list and the file lists
  // below them, which therefore lie on top.
  for (QLabel* p : {labLocalCaption, labLocalFileCnt, labFtpCaption, labFtpFileCnt}) p->lower();

  ApplyPlaces();

  // Idle until the automatic run gives it an interval.
  timAuto = new QTimer(this);
  timAuto->setInterval(0);

  for (const auto& [pControl, szName] : std::initializer_list<std::pair<QObject*, const char*>>{
       {Label1, "Label1"},
       {tbFtpUrl, "tbFtpUrl"},
       {Label3, "Label3"},
       {tbFtpUsr, "tbFtpUsr"},
       {Label4, "Label4"},
       {tbFtpPwd, "tbFtpPwd"},
       {tbFtpText, "tbFtpText"},
       {cbConnect, "cbConnect"},
       {cbDisconnect, "cbDisconnect"},
       {cbMkDir, "cbMkDir"},
       {cbReName, "cbReName"},
       {cbSize, "cbSize"},
       {cbDelete, "cbDelete"},
       {labLocalCaption, "labLocalCaption"},
       {labLocalFileCnt, "labLocalFileCnt"},
       {labFtpCaption, "labFtpCaption"},
       {labFtpFileCnt, "labFtpFileCnt"},
       {Drive1, "Drive1"},
       {dlb, "dlb"},
       {lbLocalFiles, "lbLocalFiles"},
       {cbGet, "cbGet"},
       {cbPut, "cbPut"},
       {tvFtpDirs, "tvFtpDirs"},
       {lbFtpFiles, "lbFtpFiles"},
       {tbLocalPath, "tbLocalPath"},
       {tbFtpPath, "tbFtpPath"},
       {labStatus, "labStatus"},
       {timAuto, "timAuto"}}) {
    pControl->setObjectName(QString::fromUtf8(szName));
  }

  SetDriveList(LocalFiles_MountedDrives());

  connect(Drive1, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
  connect(dlb, &DirListBox::Click, this, [this] { dlb_Click(); });
  connect(dlb, &DirListBox::OpenFailed, this, [this](const QString& sFolder, long lNumber, const QString& sText) {
    ReportLocalViewError("Cannot open folder " + ToBytes(sFolder), OrvError(lNumber, ToBytes(sText), "DirListBox"));
  });
  connect(lbLocalFiles, &QListWidget::currentRowChanged, this, [this] { lbLocalFiles_Click(); });
  connect(lbLocalFiles, &QListWidget::itemClicked, this, [this] { lbLocalFiles_Click(); });
}

void frmMain::SetTabOrder() {
  const QWidget* const apOrder[] = {tbFtpUrl,  tbFtpUsr,  cbGet,       cbPut,     cbDelete,  cbConnect, cbDisconnect,
                                    cbSize,    cbReName,  tbFtpText,   cbMkDir,   tbLocalPath, tbFtpPath, tvFtpDirs,
                                    dlb,       Drive1,    lbFtpFiles,  lbLocalFiles, tbFtpPwd};
  for (std::size_t i = 1; i < std::size(apOrder); ++i) {
    QWidget::setTabOrder(const_cast<QWidget*>(apOrder[i - 1]), const_cast<QWidget*>(apOrder[i]));
  }
}

// --- AppWindow ------------------------------------------------------------

std::string frmMain::FtpUrlText() { return ToBytes(tbFtpUrl->text()); }
void frmMain::SetFtpUrlText(const std::string& s) { tbFtpUrl->setText(FromBytes(s)); }
std::string frmMain::FtpUsrText() { return ToBytes(tbFtpUsr->text()); }
void frmMain::SetFtpUsrText(const std::string& s) { tbFtpUsr->setText(FromBytes(s)); }
std::string frmMain::FtpPwdText() { return tbFtpPwd->TextUtf8(); }
void frmMain::SetFtpPwdText(const std::string& s) { tbFtpPwd->SetTextUtf8(s); }

void frmMain::SetAutoTimer(const std::string& sStatus, long lTime) {
  m_sAutoStatus = sStatus;
  // Interval 0 means idle; a running timer restarts with the new interval.
  if (lTime > 0) {
    timAuto->start(static_cast<int>(lTime));
  } else {
    timAuto->stop();
    timAuto->setInterval(0);
  }
  if (AppChannel* pApp = OrvApp()) pApp->Log("AutoStatus=" + m_sAutoStatus, 0);
  labStatus->setText(FromBytes("AutoStatus=" + m_sAutoStatus));
}

void frmMain::ShowWindow() { show(); }
void frmMain::CloseWindow() { close(); }

// --- Load and layout ------------------------------------------------------

template <typename Fn>
void frmMain::LoadStep(Fn fnStep) {
  try {
    fnStep();
  } catch (const OrvError& e) {
    if (AppChannel* pApp = OrvApp()) {
      pApp->Msg(2, "frmMain.Load", "Fehler Nr. " + std::to_string(e.Number()) + ": " + e.Description());
    }
  }
}

void frmMain::Form_Load() {
  ShowStartFolder();
  LoadStep([this] {
    if (!AddFtpNode("ROOT", "Root", "CloseFld", nullptr)) {
      throw OrvError(kKeyNotUnique, "Key is not unique in collection", "frmMain.Form_Load");
    }
  });
  LoadStep([this] {
    QTreeWidgetItem* pRoot = FtpNode("ROOT");
    if (!pRoot) throw OrvError(kElementNotFound, "Element not found", "frmMain.Form_Load");
    tvFtpDirs->setCurrentItem(pRoot);
  });
  LoadStep([this] { dlb_Click(); });
  LoadStep([this] { SetConnected(false); });
  LoadStep([this] { labStatus->setText(QStringLiteral("Disconnected")); });
}

void frmMain::resizeEvent(QResizeEvent* pEvent) {
  QWidget::resizeEvent(pEvent);
  Form_Resize();
}

void frmMain::Form_Resize() {
  m_oPlaces = frmMainLayout_Arrange(m_oPlaces, width(), height());
  ApplyPlaces();
}

void frmMain::ApplyPlaces() {
  Apply(labStatus, m_oPlaces.labStatus);
  Apply(tbLocalPath, m_oPlaces.tbLocalPath);
  Apply(tbFtpPath, m_oPlaces.tbFtpPath);
  Apply(labLocalCaption, m_oPlaces.labLocalCaption);
  Apply(Drive1, m_oPlaces.Drive1);
  Apply(dlb, m_oPlaces.dlb);
  Apply(lbLocalFiles, m_oPlaces.lbLocalFiles);
  Apply(labLocalFileCnt, m_oPlaces.labLocalFileCnt);
  Apply(cbGet, m_oPlaces.cbGet);
  Apply(cbPut, m_oPlaces.cbPut);
  Apply(tvFtpDirs, m_oPlaces.tvFtpDirs);
  Apply(lbFtpFiles, m_oPlaces.lbFtpFiles);
  Apply(labFtpCaption, m_oPlaces.labFtpCaption);
  Apply(labFtpFileCnt, m_oPlaces.labFtpFileCnt);
}

// --- Local file view ------------------------------------------------------

// The folder list starts on the process's current folder; when that cannot
// be read, on the root of its drive.
void frmMain::ShowStartFolder() {
  const std::string sCwd = LocalFiles_Normal(".");
  const std::string sDrive = LocalFiles_DriveOf(sCwd, m_vsDrives);
  try {
    dlb->SetPath(sCwd, sDrive);
  } catch (const OrvError& e) {
    ReportLocalViewError("Cannot open folder " + sCwd, e);
    try {
      dlb->SetPath(sDrive, sDrive);
    } catch (const OrvError& eDrive) {
      ReportLocalViewError("Cannot open drive " + sDrive, eDrive);
      return;
    }
  }
  ShowDrive(sDrive);
}

void frmMain::dlb_Click() { RefreshLocalFiles(); }

void frmMain::RefreshLocalFiles() {
  const std::string sFolder = dlb->SelectedFolder();
  if (sFolder.empty()) return;
  std::vector<std::string> vsNames;
  try {
    vsNames = LocalFiles_List(sFolder);
  } catch (const OrvError& e) {
    ReportLocalViewError("Cannot read folder " + sFolder, e);
    // The file list still shows the folder listed before; so does the highlight.
    const int iListed = dlb->IndexOf(m_sListedFolder);
    if (iListed >= 0) dlb->SetListIndex(iListed);
    return;
  }
  m_sListedFolder = sFolder;
  tbLocalPath->setText(FromBytes(LocalFiles_FolderPath(sFolder)));
  lbLocalFiles->clear();
  for (const std::string& sName : vsNames) lbLocalFiles->addItem(FromBytes(sName));
  labLocalFileCnt->setText(QString::number(lbLocalFiles->count()) + QStringLiteral(" files"));
}

void frmMain::Drive1_Change() {
  const std::string sDrive = Drive1Text();
  if (sDrive.empty()) return;
  try {
    dlb->SetPath(LocalFiles_DriveFolder(sDrive, m_vsDrives), sDrive);
  } catch (const OrvError& e) {
    ReportLocalViewError("Cannot open drive " + sDrive, e);
    ShowDrive(LocalFiles_DriveOf(dlb->Path(), m_vsDrives));
    return;
  }
  tbLocalPath->clear();
}

void frmMain::lbLocalFiles_Click() {
  const QListWidgetItem* pItem = lbLocalFiles->currentItem();
  if (!pItem) return;
  // Joined onto the folder the list was read from: after a drive change the
  // folder list may already stand elsewhere.
  tbLocalPath->setText(FromBytes(LocalFiles_Join(m_sListedFolder, ToBytes(pItem->text()))));
}

void frmMain::SetDriveList(const std::vector<std::string>& vsDrives) {
  m_vsDrives = vsDrives;
  {
    const QSignalBlocker oBlock(Drive1);
    Drive1->clear();
    for (const std::string& sDrive : m_vsDrives) Drive1->addItem(FromBytes(sDrive));
  }
  if (!dlb->Path().empty()) ShowDrive(LocalFiles_DriveOf(dlb->Path(), m_vsDrives));
}

std::string frmMain::Drive1Text() const {
  const int iIndex = Drive1->currentIndex();
  if (iIndex < 0 || iIndex >= static_cast<int>(m_vsDrives.size())) return std::string();
  return m_vsDrives[static_cast<std::size_t>(iIndex)];
}

// Shows sDrive as the chosen drive without the change handler running.
void frmMain::ShowDrive(const std::string& sDrive) {
  for (std::size_t i = 0; i < m_vsDrives.size(); ++i) {
    if (m_vsDrives[i] != sDrive) continue;
    const QSignalBlocker oBlock(Drive1);
    Drive1->setCurrentIndex(static_cast<int>(i));
    return;
  }
}

void frmMain::ReportLocalViewError(const std::string& sWhat, const OrvError& oErr) {
  AppChannel* pApp = OrvApp();
  if (!pApp) return;
  pApp->Msg(2, "Local file view",
            sWhat + " (Error " + std::to_string(oErr.Number()) + ": " + oErr.Description() + ")", "", &oErr, "");
}

// --- Remote side ----------------------------------------------------------

void frmMain::SetConnected(bool bConnected) {
  for (QWidget* p : std::initializer_list<QWidget*>{cbGet, cbPut, cbMkDir, cbReName, cbSize, cbDelete, tvFtpDirs,
                                                    lbFtpFiles}) {
    p->setEnabled(bConnected);
  }
  if (bConnected) {
    SetButtonColour(cbConnect, kGreen);
    return;
  }
  for (QPushButton* p : {cbConnect, cbPut, cbGet}) SetButtonFace(p);
}

QTreeWidgetItem* frmMain::AddFtpNode(const std::string& sKey, const std::string& sText, const std::string& sImage,
                                     QTreeWidgetItem* pParent) {
  if (m_oFtpNodes.count(sKey) != 0) return nullptr;
  RequireImage(sImage);
  auto* pNode = pParent ? new QTreeWidgetItem(pParent) : new QTreeWidgetItem(tvFtpDirs);
  pNode->setText(0, FromBytes(sText));
  pNode->setData(0, kNodeKeyRole, QByteArray(sKey.data(), static_cast<qsizetype>(sKey.size())));
  SetFtpNodeImage(pNode, sImage);
  m_oFtpNodes.emplace(sKey, pNode);
  return pNode;
}

void frmMain::RequireImage(const std::string& sImage) const {
  if (!ImageList1.Contains(FromBytes(sImage))) {
    throw OrvError(kElementNotFound, "Element not found", "frmMain.ImageList1");
  }
}

void frmMain::SetFtpNodeImage(QTreeWidgetItem* pNode, const std::string& sImage) {
  RequireImage(sImage);
  pNode->setData(0, kNodeImageRole, QByteArray(sImage.data(), static_cast<qsizetype>(sImage.size())));
  pNode->setIcon(0, ImageList1.Icon(FromBytes(sImage)));
}

QTreeWidgetItem* frmMain::FtpNode(const std::string& sKey) const {
  const auto it = m_oFtpNodes.find(sKey);
  return it == m_oFtpNodes.end() ? nullptr : it->second;
}

std::string frmMain::FtpNodeKey(const QTreeWidgetItem* pNode) {
  return pNode ? pNode->data(0, kNodeKeyRole).toByteArray().toStdString() : std::string();
}

std::string frmMain::FtpNodeImage(const QTreeWidgetItem* pNode) {
  return pNode ? pNode->data(0, kNodeImageRole).toByteArray().toStdString() : std::string();
}
