#include "frmMain.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <optional>
#include <utility>

#include "AppChannel.h"
#include "AutoRunStates.h"
#include "ByteText.h"
#include "CommandLine.h"
#include "DirListBox.h"
#include "FtpServerAddress.h"
#include "LibOrv.h"
#include "LocalFileSource.h"
#include "LocalFiles.h"
#include "MainAndTerminate.h"
#include "OrvError.h"
#include "Outbox.h"
#include "OutboxDelivery.h"
#include "OutboxDraft.h"
#include "cOrvFtpClient.h"
#include "ctlSecurePwdEdit.h"
#include "frmMainImages.h"

namespace {

constexpr int kNodeKeyRole = Qt::UserRole;
constexpr int kNodeImageRole = Qt::UserRole + 1;

// The remote tree's root node. Every folder node is keyed by the folder's
// full remote path as the server's bytes ("/a/docs"), which also tells
// folders of the same name in different places apart.
constexpr char kRootKey[] = "ROOT";

// The remote folder a node stands for, without a closing "/": its key;
// empty for the root or no node.
std::string FtpNodeFolder(const QTreeWidgetItem* pNode) {
  const std::string sKey = frmMain::FtpNodeKey(pNode);
  return sKey == kRootKey ? std::string() : sKey;
}

// Errors of the tree control, numbered as the platform's tree view numbers them.
constexpr long kKeyNotUnique = 35602;
constexpr long kElementNotFound = 35601;

const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

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

// A folder node of the remote tree, filled before it joins the tree: the
// view then takes notice of it once, not of every value set on it.
QTreeWidgetItem* NewFolderNode(const std::string& sKey, const std::string& sText, const std::string& sImage,
                               const QIcon& oIcon) {
  auto* pNode = new QTreeWidgetItem();
  pNode->setText(0, ByteText_FromBytes(sText));
  pNode->setData(0, kNodeKeyRole, QByteArray(sKey.data(), static_cast<qsizetype>(sKey.size())));
  pNode->setData(0, kNodeImageRole, QByteArray(sImage.data(), static_cast<qsizetype>(sImage.size())));
  pNode->setIcon(0, oIcon);
  return pNode;
}

}  // namespace

frmMain::frmMain(std::string sCommandLine, std::string sOutboxFolder, QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowCloseButtonHint),
      ImageList1(frmMainImages_ImageList1()),
      m_oPlaces(frmMainLayout::FirstPlaces()),
      m_sCommandLine(std::move(sCommandLine)) {
  if (!sOutboxFolder.empty()) m_oOutbox = std::make_unique<Outbox>(std::move(sOutboxFolder));
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
    ReportLocalViewError("Cannot open folder " + ByteText_ToBytes(sFolder),
                         OrvError(lNumber, ByteText_ToBytes(sText), "DirListBox"));
  });
  connect(lbLocalFiles, &QListWidget::currentRowChanged, this, [this] { lbLocalFiles_Click(); });
  connect(lbLocalFiles, &QListWidget::itemClicked, this, [this] { lbLocalFiles_Click(); });

  connect(cbConnect, &QPushButton::clicked, this, [this] { cbConnect_Click(); });
  connect(cbDisconnect, &QPushButton::clicked, this, [this] { cbDisconnect_Click(); });
  connect(cbGet, &QPushButton::clicked, this, [this] { cbGet_Click(); });
  connect(cbPut, &QPushButton::clicked, this, [this] { cbPut_Click(); });
  connect(cbReName, &QPushButton::clicked, this, [this] { cbReName_Click(); });
  connect(cbDelete, &QPushButton::clicked, this, [this] { cbDelete_Click(); });
  connect(cbMkDir, &QPushButton::clicked, this, [this] { cbMkDir_Click(); });
  connect(cbSize, &QPushButton::clicked, this, [this] { cbSize_Click(); });
  connect(tvFtpDirs, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* p) { tvFtpDirs_Collapse(p); });
  connect(tvFtpDirs, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* p) { tvFtpDirs_Expand(p); });
  connect(tvFtpDirs, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* p) { tvFtpDirs_NodeClick(p); });
  connect(lbFtpFiles, &QListWidget::currentRowChanged, this, [this] { lbFtpFiles_Click(); });
  connect(lbFtpFiles, &QListWidget::itemClicked, this, [this] { lbFtpFiles_Click(); });
  connect(timAuto, &QTimer::timeout, this, [this] { timAuto_Timer(); });
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

std::string frmMain::FtpUrlText() { return ByteText_ToBytes(tbFtpUrl->text()); }
void frmMain::SetFtpUrlText(const std::string& s) { tbFtpUrl->setText(ByteText_FromBytes(s)); }
std::string frmMain::FtpUsrText() { return ByteText_ToBytes(tbFtpUsr->text()); }
void frmMain::SetFtpUsrText(const std::string& s) { tbFtpUsr->setText(ByteText_FromBytes(s)); }
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
  labStatus->setText(ByteText_FromBytes("AutoStatus=" + m_sAutoStatus));
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
    if (!AddFtpNode(kRootKey, "Root", "CloseFld", nullptr)) {
      throw OrvError(kKeyNotUnique, "Key is not unique in collection", "frmMain.Form_Load");
    }
  });
  LoadStep([this] {
    QTreeWidgetItem* pRoot = FtpNode(kRootKey);
    if (!pRoot) throw OrvError(kElementNotFound, "Element not found", "frmMain.Form_Load");
    tvFtpDirs->setCurrentItem(pRoot);
  });
  LoadStep([this] { dlb_Click(); });
  LoadStep([this] { SetConnected(false); });
  LoadStep([this] { labStatus->setText(QStringLiteral("Disconnected")); });
  LoadStep([this] { ReadCommandLine(); });
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
  tbLocalPath->setText(ByteText_FromBytes(LocalFiles_FolderPath(sFolder)));
  lbLocalFiles->clear();
  for (const std::string& sName : vsNames) lbLocalFiles->addItem(ByteText_FromBytes(sName));
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
  tbLocalPath->setText(ByteText_FromBytes(LocalFiles_Join(m_sListedFolder, ByteText_ToBytes(pItem->text()))));
}

void frmMain::SetDriveList(const std::vector<std::string>& vsDrives) {
  m_vsDrives = vsDrives;
  {
    const QSignalBlocker oBlock(Drive1);
    Drive1->clear();
    for (const std::string& sDrive : m_vsDrives) Drive1->addItem(ByteText_FromBytes(sDrive));
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
  pNode->setText(0, ByteText_FromBytes(sText));
  pNode->setData(0, kNodeKeyRole, QByteArray(sKey.data(), static_cast<qsizetype>(sKey.size())));
  SetFtpNodeImage(pNode, sImage);
  m_oFtpNodes.emplace(sKey, pNode);
  return pNode;
}

void frmMain::RequireImage(const std::string& sImage) const {
  if (!ImageList1.Contains(ByteText_FromBytes(sImage))) {
    throw OrvError(kElementNotFound, "Element not found", "frmMain.ImageList1");
  }
}

void frmMain::SetFtpNodeImage(QTreeWidgetItem* pNode, const std::string& sImage) {
  RequireImage(sImage);
  pNode->setData(0, kNodeImageRole, QByteArray(sImage.data(), static_cast<qsizetype>(sImage.size())));
  pNode->setIcon(0, ImageList1.Icon(ByteText_FromBytes(sImage)));
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

// --- Unload ---------------------------------------------------------------

void frmMain::closeEvent(QCloseEvent* pEvent) {
  if (Form_Unload()) pEvent->ignore();
  else pEvent->accept();
}

bool frmMain::Form_Unload() {
  AppChannel* pApp = OrvApp();
  // While the program runs, a close is the orderly end: the settings are
  // stored and the process exits; the window itself never closes first. An
  // automatic run cut short keeps what it did not deliver.
  if (pApp && pApp->Status() != 2) {
    if (!m_sCommandLine.empty()) {
      KeepOwnAlarm();
      LogOutboxCount();
    }
    Terminate();
  }
  m_oFtpClient.reset();
  return false;
}

// --- Connection and transfer commands -------------------------------------

namespace {

void Report(long m, const std::string& sModule, const std::string& sMsg) {
  if (AppChannel* pApp = OrvApp()) pApp->Msg(m, sModule, sMsg);
}

void Log24(const std::string& s) {
  if (AppChannel* pApp = OrvApp()) pApp->Log(s, 24);
}

// A local file as the put command accepts it: a regular file whose name
// does not mark it hidden.
bool IsPlainFile(const std::string& sPath) {
  if (LibOrv_GetFileName(sPath).rfind('.', 0) == 0) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(sPath, ec);
}

std::string ErrorText(const OrvError& e) {
  return "Error " + std::to_string(e.Number()) + ": " + e.Description();
}

}  // namespace

void frmMain::cbConnect_Click() {
  const std::string sServer = FtpUrlText();
  if (sServer.empty()) {
    Report(2, "FTP Site needed", "Please enter an FTP site");
    return;
  }
  const std::string sUsr = FtpUsrText();
  Log24("FTP Connect to " + CommandLine_MaskedServer(sServer) + " user=" + sUsr);
  cbConnect->setEnabled(false);
  SetButtonColour(cbConnect, kYellow);

  m_oFtpClient = cOrvFtpClient::Create();
  m_oFtpClient->DirEvent = [this](const std::string& sDirList, const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_DirEvent(sDirList, sRequestID, lErrCode);
  };
  m_oFtpClient->PutEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_PutEvent(sRequestID, lErrCode);
  };
  m_oFtpClient->GetEvent = [this](const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                  long lErrCode) { m_oFtpClient_GetEvent(sData, sRequestID, bEndOfData, lErrCode); };

  const FtpServerAddress address = FtpServerAddress_Parse(sServer);
  // The client object reports a failed connection itself; the listing below
  // then fails as well and turns the button red.
  m_oFtpClient->FtpConnect(address.sHost, address.sPort, sUsr, FtpPwdText(), address.eSecurity);
  if (m_oFtpClient) m_oFtpClient->FtpDir("/", "");
}

void frmMain::cbDisconnect_Click() {
  Log24("FTP Disconnect");
  // The answer an automatic run waits for goes with the connection.
  const bool bAnswerLost = AutoRunAwaitsAnswer();
  SetConnected(false);
  cbConnect->setEnabled(true);
  m_oFtpClient.reset();
  lbFtpFiles->clear();
  ResetFtpTree();
  labStatus->setText(QStringLiteral("Disconnected"));
  if (bAnswerLost) AutoRunConnectionLost();
}

void frmMain::cbGet_Click() {
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  Log24("FTP Get " + sFtpPath);
  const std::string sFile = LibOrv_Extract(sFtpPath, "/", -1);
  if (sFile.empty()) {
    Report(2, "Get file from FTP server", "No file selected to get");
    return;
  }
  const std::string sTarget = LibOrv_GetPath(ByteText_ToBytes(tbLocalPath->text())) + sFile;
  if (m_oFtpClient) m_oFtpClient->FtpGet(sFtpPath, sTarget);
}

void frmMain::cbPut_Click() {
  const std::string sLocalPath = ByteText_ToBytes(tbLocalPath->text());
  Log24("FTP Put " + sLocalPath);
  const std::string sFile = LibOrv_Extract(sLocalPath, "/", -1);
  if (sFile.empty()) {
    Report(2, "Put file to FTP server", "No file selected to put");
    return;
  }
  if (!IsPlainFile(sLocalPath)) {
    Report(2, "Put file to FTP server", "File doesnt exist: " + sLocalPath);
    return;
  }
  // A large file is read on while it is sent; its beginning is read here,
  // so that a file that cannot be read is reported now and nothing is sent.
  std::optional<LocalFileSource> oData;
  try {
    oData.emplace(LocalFileSource::Open(sLocalPath));
  } catch (const OrvError& e) {
    if (AppChannel* pApp = OrvApp()) pApp->Msg(2, "Put file to FTP server", ErrorText(e) + ": " + sLocalPath, "", &e);
    return;
  }
  if (oData->Empty()) {
    Report(1, "Put file to FTP server", "File contains no data: " + sLocalPath);
    return;
  }
  const std::string sTarget = LibOrv_GetPath(ByteText_ToBytes(tbFtpPath->text())) + sFile;
  if (!m_oFtpClient) {
    Report(1, "FTP-PUT failed", "Not connected");
    return;
  }
  // The automatic run keeps the file as it is read now, should it not arrive.
  if (m_oAlarm && (m_sAutoStatus == AutoRunState::kAlarmImg || m_sAutoStatus == AutoRunState::kAutoUpload))
    m_oAlarm->Sending(sTarget, sLocalPath);
  m_oFtpClient->FtpPut(std::move(*oData), sTarget, "");
}

namespace {
void NotImplementedYet() {
  if (AppChannel* pApp = OrvApp()) pApp->MsgBox("Not implemented yet!", "OrvFtpUploader");
}
}  // namespace

void frmMain::cbReName_Click() { NotImplementedYet(); }
void frmMain::cbDelete_Click() { NotImplementedYet(); }
void frmMain::cbMkDir_Click() { NotImplementedYet(); }
void frmMain::cbSize_Click() { NotImplementedYet(); }

void frmMain::m_oFtpClient_PutEvent(const std::string&, long lErrCode) {
  if (m_sAutoStatus == AutoRunState::kOutbox) {
    KeptFilePutDone(lErrCode);
    return;
  }
  if (lErrCode != 0) {
    const std::string sError = "Error " + std::to_string(lErrCode);
    Report(1, "FTP-PUT failed", sError);
    labStatus->setText(ByteText_FromBytes("FTP-PUT failed: " + sError));
    SetButtonColour(cbPut, kRed);
    return;
  }
  Log24("FTP-PUT OK");
  labStatus->setText(QStringLiteral("FTP-PUT OK"));
  SetButtonColour(cbPut, kGreen);
  if (m_oAlarm) m_oAlarm->Arrived();
  if (m_sAutoStatus == AutoRunState::kSendMsg) SetAutoTimer(AutoRunState::kAlarmImg, 500);
  else if (m_sAutoStatus == AutoRunState::kAlarmImg) SetAutoTimer(AutoRunState::kAutoUpload, 500);
  else if (m_sAutoStatus == AutoRunState::kAutoUpload) AfterOwnAlarm();
  else RefreshFtpDir();
}

void frmMain::m_oFtpClient_GetEvent(const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                    long lErrCode) {
  auto fail = [this](const std::string& sWhy) {
    labStatus->setText(ByteText_FromBytes("FTP-GET failed: " + sWhy));
    SetButtonColour(cbGet, kRed);
  };
  if (lErrCode != 0) {
    const std::string sError = "Error " + std::to_string(lErrCode);
    Report(1, "FTP-GET failed", sError);
    fail(sError);
    return;
  }
  if (sRequestID.empty()) return;
  if (!bEndOfData) {
    Report(1, "FTP-GET failed", "File size exceeds max chunk size");
    fail("File size exceeds max chunk size");
    return;
  }
  try {
    LibOrv_WriteFile(sData, sRequestID);
  } catch (const OrvError& e) {
    // The file of that name, if any, keeps its old content.
    if (AppChannel* pApp = OrvApp()) pApp->Msg(2, "FTP-GET failed", ErrorText(e) + ": " + sRequestID, "", &e);
    fail(ErrorText(e));
    return;
  }
  Log24("FTP-GET OK: " + sRequestID);
  labStatus->setText(ByteText_FromBytes("FTP-GET OK: " + sRequestID));
  SetButtonColour(cbGet, kGreen);
  RefreshLocalFiles();
}

// --- Remote directory view ------------------------------------------------

void frmMain::m_oFtpClient_DirEvent(const std::string& sDirList, const std::string&, long lErrCode) {
  if (lErrCode != 0) {
    const std::string sError = "Error " + std::to_string(lErrCode);
    Report(1, "FTP-DIR failed", sError);
    labStatus->setText(ByteText_FromBytes("FTP-DIR failed: " + sError));
    SetButtonColour(cbConnect, kRed);
    return;
  }
  try {
    AddListing(sDirList);
  } catch (const OrvError& e) {
    Report(2, "m_oFtpClient_DirEvent", std::to_string(e.Number()) + ": " + e.Description());
    return;
  }
  labFtpFileCnt->setText(QString::number(lbFtpFiles->count()) + QStringLiteral(" files"));
  Log24("FTP-DIR OK");
  labStatus->setText(QStringLiteral("FTP-DIR OK"));
  SetButtonColour(cbConnect, kGreen);
  SetConnected(true);
  if (m_sAutoStatus == AutoRunState::kConnect) SetAutoTimer(AutoRunState::kSendMsg, 500);
}

// Folders go under the selected node, files into the list, in listing order.
void frmMain::AddListing(const std::string& sDirList) {
  lbFtpFiles->clear();
  QTreeWidgetItem* pParent = tvFtpDirs->currentItem();
  const std::string sParentFolder = FtpNodeFolder(pParent);
  QStringList vsFiles;
  // The new folder nodes join the tree together after the loop; they all
  // show the same picture, so one icon serves them all.
  QList<QTreeWidgetItem*> vpNodes;
  QIcon oFolderIcon;
  auto fnJoinTree = [&] {
    if (vpNodes.isEmpty()) return;
    if (pParent) pParent->addChildren(vpNodes);
    else tvFtpDirs->addTopLevelItems(vpNodes);
  };
  try {
    std::size_t p = 0;
    for (;;) {
      const std::size_t e = sDirList.find("\r\n", p);
      if (e == std::string::npos) break;  // the piece after the last CR LF is never looked at
      const std::string sPiece = sDirList.substr(p, e - p);
      p = e + 2;
      if (sPiece.empty() || sPiece == "./" || sPiece == "../") continue;
      if (sPiece.find('/') != std::string::npos) {
        const std::string sName = sPiece.substr(0, sPiece.size() - 1);
        const std::string sKey = sParentFolder + "/" + sName;
        if (m_oFtpNodes.count(sKey) != 0) continue;
        RequireImage("CloseFld");
        if (oFolderIcon.isNull()) oFolderIcon = ImageList1.Icon(QStringLiteral("CloseFld"));
        QTreeWidgetItem* pNode = NewFolderNode(sKey, sName, "CloseFld", oFolderIcon);
        m_oFtpNodes.emplace(sKey, pNode);
        vpNodes.append(pNode);
      } else {
        vsFiles.append(ByteText_FromBytes(sPiece));
      }
    }
  } catch (...) {
    // Nodes made before a failure stay in the tree, as they did when each
    // joined it on its own.
    fnJoinTree();
    throw;
  }
  fnJoinTree();
  lbFtpFiles->addItems(vsFiles);
  if (!vpNodes.isEmpty()) {
    // Every node of one listing shares its parent: one scroll shows them.
    for (QTreeWidgetItem* pUp = pParent; pUp; pUp = pUp->parent()) pUp->setExpanded(true);
    tvFtpDirs->scrollToItem(vpNodes.last());
    if (pParent) SetFtpNodeImage(pParent, "OpenFld");
  }
}

void frmMain::tvFtpDirs_Collapse(QTreeWidgetItem* pNode) { SetFtpNodeImage(pNode, "CloseFld"); }

void frmMain::tvFtpDirs_Expand(QTreeWidgetItem* pNode) { SetFtpNodeImage(pNode, "OpenFld"); }

void frmMain::tvFtpDirs_NodeClick(QTreeWidgetItem*) {
  SetFtpPathFromTree();
  RefreshFtpDir();
}

void frmMain::SetFtpPathFromTree() {
  QTreeWidgetItem* pNode = tvFtpDirs->currentItem();
  if (!pNode) return;
  const std::string sFolder = FtpNodeFolder(pNode);
  if (FtpNodeKey(pNode) == kRootKey) ResetFtpTree();
  tbFtpPath->setText(ByteText_FromBytes(sFolder + "/"));
}

void frmMain::ResetFtpTree() {
  tvFtpDirs->clear();
  m_oFtpNodes.clear();
  tvFtpDirs->setCurrentItem(AddFtpNode(kRootKey, "Root", "CloseFld", nullptr));
}

void frmMain::RefreshFtpDir() {
  if (m_oFtpClient) m_oFtpClient->FtpDir(LibOrv_GetPath(ByteText_ToBytes(tbFtpPath->text())), "");
}

void frmMain::lbFtpFiles_Click() {
  const QListWidgetItem* pItem = lbFtpFiles->currentItem();
  if (!pItem) return;
  const std::string sFolder = LibOrv_GetPath(ByteText_ToBytes(tbFtpPath->text()));
  tbFtpPath->setText(ByteText_FromBytes(sFolder + ByteText_ToBytes(pItem->text())));
}
