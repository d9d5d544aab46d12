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
#include "Waits.h"
#include "cOrvFtpClient.h"
#include "ctlSecurePwdEdit.h"
#include "frmMainImages.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

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

}  // namespace

frmMain::frmMain(CommandLineArgs oCommandLine, std::string sOutboxFolder, QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowCloseButtonHint),
      ImageList1(frmMainImages_ImageList1()),
      m_oPlaces(frmMainLayout::FirstPlaces()),
      m_sCommandLine(std::move(oCommandLine.sText)),
      m_vCommandLinePairs(std::move(oCommandLine.pairs)) {
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
  tbFtpText->setPlaceholderText(QStringLiteral("name for Create Directory or Rename File"));

  cbConnect = NewButton(this, "Connect", "Connect with FTP server");
  cbConnect->setGeometry(104, 59, 100, 22);
  cbDisconnect = NewButton(this, "Disconnect", "Disconnect from FTP server");
  cbDisconnect->setGeometry(204, 59, 100, 22);
  cbMkDir = NewButton(this, "Create Directory", "Create the folder named in the text field in the path's folder");
  cbMkDir->setGeometry(334, 59, 100, 22);
  cbReName = NewButton(this, "Rename File",
                       "Give the file the path names (a folder: path ending with /) the name in the text field");
  cbReName->setGeometry(434, 59, 100, 22);
  cbSize = NewButton(this, "Get Size", "Show the size of the file the path names in the status line");
  cbSize->setGeometry(534, 59, 100, 22);
  cbDelete = NewButton(this, "Delete", "Delete the file the path names, or the empty folder when it ends with /");
  cbDelete->setGeometry(633, 59, 114, 22);

  labLocalCaption = NewHeading(this, "Windows File System");
  labLocalFileCnt = NewHeading(this, "");
  labFtpCaption = NewHeading(this, "FTP Server File System");
  labFtpFileCnt = NewHeading(this, "");

  Drive1 = new QComboBox(this);
  dlb = new DirListBox(this);
  lbLocalFiles = new QListWidget(this);
  lbLocalFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  cbGet = NewPictureButton(this, frmMainImages_ArrowLeft(), "Get file from FTP server");
  cbPut = NewPictureButton(this, frmMainImages_ArrowRight(), "Put file to FTP server");
  tvFtpDirs = new QTreeWidget(this);
  tvFtpDirs->setColumnCount(1);
  tvFtpDirs->setHeaderHidden(true);
  tvFtpDirs->setIconSize(ImageList1.ImageSize());
  // Every node is one line with one picture: the tree never measures each
  // of a large folder's thousands of nodes to find where one of them is.
  tvFtpDirs->setUniformRowHeights(true);
  lbFtpFiles = new QListWidget(this);
  lbFtpFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tbLocalPath = new QLineEdit(this);
  tbFtpPath = new QLineEdit(this);
  labStatus = new QLabel(this);
  labStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette oStatus = labStatus->palette();
  oStatus.setColor(QPalette::WindowText, kBlue);
  labStatus->setPalette(oStatus);
  CreateProgressControls();

  // The headings' lower edge runs under the drive list and the file lists
  // below them, which therefore lie on top.
  for (QLabel* p : {labLocalCaption, labLocalFileCnt, labFtpCaption, labFtpFileCnt}) p->lower();

  ApplyPlaces();

  // Idle until the automatic run gives it an interval. The run's waits are
  // meant as given: a coarse timer may fire up to 5 % early.
  timAuto = new QTimer(this);
  timAuto->setTimerType(Qt::PreciseTimer);
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
  // A file is chosen by a click (or a drag that ends on it), or by a key
  // that moves through the list (eventFilter); the row the list makes
  // current as it takes the focus, or as it is filled, chooses nothing.
  for (QListWidget* p : {lbLocalFiles, lbFtpFiles}) {
    p->installEventFilter(this);
    p->viewport()->installEventFilter(this);
  }
  // Files and folders are dropped onto the other side (frmMainDrop.cpp).
  dlb->viewport()->installEventFilter(this);
  for (QWidget* p : {lbLocalFiles->viewport(), lbFtpFiles->viewport(), tvFtpDirs->viewport(), dlb->viewport()})
    p->setAcceptDrops(true);
  connect(lbLocalFiles, &QListWidget::currentRowChanged, this, [this] {
    if (m_pKeyList == lbLocalFiles) lbLocalFiles_Click();
  });

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
  connect(lbFtpFiles, &QListWidget::currentRowChanged, this, [this] {
    if (m_pKeyList == lbFtpFiles) lbFtpFiles_Click();
  });
  connect(timAuto, &QTimer::timeout, this, [this] { timAuto_Timer(); });
  ConnectKeyboard();
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
    timAuto->start(static_cast<int>(Waits_ScaledMs(lTime)));
  } else {
    timAuto->stop();
    timAuto->setInterval(0);
  }
  if (AppChannel* pApp = OrvApp()) pApp->Log("AutoStatus=" + m_sAutoStatus, 0);
  labStatus->setText(ByteText_FromBytes("AutoStatus=" + m_sAutoStatus));
}

void frmMain::ShowWindow() {
  // The fields now hold what an automatic run will use: its alarm is kept
  // before anything goes out.
  if (m_oAlarm)
    m_oAlarm->Commit(CommandLine_MaskedServer(FtpUrlText()), FtpUsrText(),
                     LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text())), [](const std::string& s) {
                       if (AppChannel* pApp = OrvApp()) pApp->Log(s, 0);
                     });
  show();
}
void frmMain::CloseWindow() {
  // The program's own close (a quit signal) asks nothing.
  m_bProgramCloses = true;
  close();
  m_bProgramCloses = false;
}

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
  LoadStep([this] { ShowStartFolder(); });
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
  PlaceCancel();
}

// --- Unload ---------------------------------------------------------------

void frmMain::closeEvent(QCloseEvent* pEvent) {
  // A person closing the window mid-transfer is asked first, No the
  // default; Yes ends the transfer as Cancel does. A close the program
  // makes (CloseWindow: a quit signal) and an automatic run's are not.
  AppChannel* pApp = OrvApp();
  if (!m_bProgramCloses && m_sCommandLine.empty() && TransferRunning() && pApp && pApp->Status() != 2) {
    if (!pApp->Ask("A transfer is still running. Close anyway?", "Close")) {
      Log24("Close answered No: the transfer goes on");
      pEvent->ignore();
      return;
    }
    CancelTransfersForClose();
  }
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
  m_oTransferClient.reset();
  m_oFtpClient.reset();
  return false;
}
