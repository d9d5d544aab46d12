#pragma once

#include <QWidget>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppWindow.h"
#include "CommandLine.h"
#include "ImageList.h"
#include "frmMainLayout.h"

class DirListBox;
class QAbstractItemView;
class OrvError;
class Outbox;
class OutboxDelivery;
class OutboxDraft;
class QComboBox;
class QEventLoop;
class QLabel;
class QLineEdit;
class QPoint;
class QListWidget;
class QPushButton;
class QShortcut;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class cOrvFtpClient;
class ctlSecurePwdEdit;

// The program's one main window: the local file system on the left, the FTP
// server on the right, the credential fields and commands on top, a status
// line at the bottom. The controls carry their own names; the window owns
// them through the parent chain.
class frmMain : public QWidget, public AppWindow {
  Q_OBJECT

 public:
  // oCommandLine is the command line the program was started with; a
  // non-empty one starts the automatic run when the window loads.
  // sOutboxFolder is where an automatic run keeps an alarm it could not
  // deliver and finds the alarms earlier runs kept; empty for none.
  explicit frmMain(CommandLineArgs oCommandLine = {}, std::string sOutboxFolder = "", QWidget* pParent = nullptr);
  ~frmMain() override;

  // AppWindow
  void Load() override { Form_Load(); }
  std::string FtpUrlText() override;
  void SetFtpUrlText(const std::string& s) override;
  std::string FtpUsrText() override;
  void SetFtpUsrText(const std::string& s) override;
  std::string FtpPwdText() override;
  void SetFtpPwdText(const std::string& s) override;
  void SetAutoTimer(const std::string& sStatus, long lTime) override;
  void ShowWindow() override;
  void CloseWindow() override;

  // Event handlers, named after their control and event.
  void Form_Load();
  // Returns true when the close is cancelled.
  bool Form_Unload();
  void Form_Resize();
  void dlb_Click();
  void Drive1_Change();
  void lbLocalFiles_Click();

  void cbConnect_Click();
  void cbDisconnect_Click();
  void cbGet_Click();
  void cbPut_Click();
  void cbReName_Click();
  void cbDelete_Click();
  void cbMkDir_Click();
  void cbSize_Click();

  void m_oFtpClient_DirEvent(const std::string& sDirList, const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_PutEvent(const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_GetEvent(const std::string& sData, const std::string& sRequestID, bool bEndOfData, long lErrCode);
  void m_oFtpClient_GetFileEvent(const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_MkDirEvent(const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_RenameEvent(const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_DeleteEvent(const std::string& sRequestID, long lErrCode);
  void m_oFtpClient_SizeEvent(const std::string& sRequestID, long lErrCode, std::int64_t lSize);

  void tvFtpDirs_Collapse(QTreeWidgetItem* pNode);
  void tvFtpDirs_Expand(QTreeWidgetItem* pNode);
  void tvFtpDirs_NodeClick(QTreeWidgetItem* pNode);
  void lbFtpFiles_Click();
  // Enter in the remote path (frmMainKeyboard.cpp).
  void tbFtpPath_Enter();

  void timAuto_Timer();

  // Progress and cancel of puts and gets (frmMainProgress.cpp). Only a
  // window without an automatic run watches progress and offers Cancel.
  void cbCancel_Click();
  void m_oFtpClient_ProgressEvent(const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal);
  // A put or get was requested as sRequestID; sCommand ("FTP-PUT",
  // "FTP-GET") heads its progress text. Requests run in the order made, so
  // their events end them in that order too.
  void TransferStarted(const std::string& sCommand, const std::string& sRequestID);
  // The event of the earliest transfer still outstanding arrived: its
  // progress goes, and Cancel with the last one.
  void TransferEnded();
  // Whether a put or get of this window is outstanding.
  bool TransferRunning() const { return !m_oTransfers.empty(); }

  // The window's client object; empty while disconnected.
  const std::shared_ptr<cOrvFtpClient>& FtpClient() const { return m_oFtpClient; }
  // The client that gets and puts go over: in the window a second
  // connection to the same server, so that listings and the commands go on
  // meanwhile; in an automatic run the one connection, which keeps the
  // run's order of requests.
  const std::shared_ptr<cOrvFtpClient>& TransferClient() const {
    return m_oTransferClient ? m_oTransferClient : m_oFtpClient;
  }
  // The automatic run's message text and image path, from the command line.
  const std::string& AutoMsg() const { return m_sMsg; }
  const std::string& AutoAlarmImg() const { return m_sAlarmImg; }

  // Refills the drive list with the given mount points and shows the drive
  // that holds the folder list's current folder as chosen; the folder list
  // stays where it is. The window starts with the mounted file systems.
  void SetDriveList(const std::vector<std::string>& vsDrives);
  // The mount point of the drive list's current entry.
  std::string Drive1Text() const;

  // A file of a queue of gets or puts; sName is what the status line calls
  // it ("cam2.jpg", "photos/cam2.jpg").
  struct QueuedFile {
    std::string sSource;
    std::string sTarget;
    std::string sName;
  };

  // Local files and folders put into the remote folder sRemoteFolder
  // ("/in/"), and remote files and folders ("/in/photos/") fetched into the
  // local folder sLocalFolder, folders with everything in them, in one
  // queue (what a drop or a folder's context menu starts).
  void PutLocalPaths(const std::vector<std::string>& vsPaths, const std::string& sRemoteFolder);
  void GetRemotePaths(const std::vector<std::string>& vsPaths, const std::string& sLocalFolder);

  // The automatic run's state as SetAutoTimer last recorded it.
  const std::string& AutoStatus() const { return m_sAutoStatus; }

  // The remote folder tree's nodes by key: "ROOT" for the root, the full
  // remote path ("/a/docs") for a folder; nullptr for an unknown key.
  QTreeWidgetItem* FtpNode(const std::string& sKey) const;
  static std::string FtpNodeKey(const QTreeWidgetItem* pNode);
  static std::string FtpNodeImage(const QTreeWidgetItem* pNode);

  // Controls, in the order of their first places.
  QLabel* Label1 = nullptr;
  QLineEdit* tbFtpUrl = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* tbFtpUsr = nullptr;
  QLabel* Label4 = nullptr;
  ctlSecurePwdEdit* tbFtpPwd = nullptr;
  QLineEdit* tbFtpText = nullptr;
  QPushButton* cbConnect = nullptr;
  QPushButton* cbDisconnect = nullptr;
  QPushButton* cbMkDir = nullptr;
  QPushButton* cbReName = nullptr;
  QPushButton* cbSize = nullptr;
  QPushButton* cbDelete = nullptr;
  QLabel* labLocalCaption = nullptr;
  QLabel* labLocalFileCnt = nullptr;
  QLabel* labFtpCaption = nullptr;
  QLabel* labFtpFileCnt = nullptr;
  QComboBox* Drive1 = nullptr;
  DirListBox* dlb = nullptr;
  QListWidget* lbLocalFiles = nullptr;
  QPushButton* cbGet = nullptr;
  QPushButton* cbPut = nullptr;
  QTreeWidget* tvFtpDirs = nullptr;
  QListWidget* lbFtpFiles = nullptr;
  QLineEdit* tbLocalPath = nullptr;
  QLineEdit* tbFtpPath = nullptr;
  QLabel* labStatus = nullptr;
  // Over the status line's right end while a put or get is outstanding.
  QPushButton* cbCancel = nullptr;
  QTimer* timAuto = nullptr;
  const ImageList ImageList1;

 protected:
  void resizeEvent(QResizeEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;
  // In the file lists, only a key that moves through the list, or the end
  // of a click or drag, chooses an entry (frmMainLocal.cpp).
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

 private:
  void CreateControls();
  void ApplyPlaces();
  void SetTabOrder();
  // Runs one step of the load handler; an error in it is reported and the
  // next step still runs.
  template <typename Fn>
  void LoadStep(Fn fnStep);

  void ShowStartFolder();
  void ReadCommandLine();
  void RefreshLocalFiles();
  void SetConnected(bool bConnected);
  void RefreshFtpDir();
  void ShowListingPending();
  void SetFtpPathFromTree();
  void ResetFtpTree();
  void AddListing(const std::string& sDirList);
  // Lists the remote folder sFolder ("/a/"), under its node where the tree
  // has one.
  void ListFtpFolder(const std::string& sFolder);
  // After the first listing of a connection: opens the tree down to the
  // folder the server put the user in and lists it, when that is not the
  // root.
  void OpenLoginFolder();
  // Takes a folder node and the nodes below it out of the tree.
  void RemoveFtpNode(const std::string& sKey);
  // A request the server refused or that failed on the way: reported with
  // sWhy (FailureReason or TransferFailureReason), shown as "<sCommand>
  // failed: Error <n>", the button red.
  void ShowCommandFailure(const std::string& sCommand, QPushButton* pButton, long lErrCode, const std::string& sWhy);
  void ReportLocalViewError(const std::string& sWhat, const OrvError& oErr);
  // The status line shows sText. A failure's tool tip tells why it failed:
  // sWhy, or else the FTP library's reason for the request that failed;
  // a success clears it.
  void ShowStatus(const std::string& sText, bool bFailed = false, const std::string& sWhy = "");
  // The FTP library's reason for the request whose event runs; empty
  // without a connection. TransferFailureReason for a get or put.
  std::string FailureReason() const;
  std::string TransferFailureReason() const;
  // Over SFTP, a server whose host key the user does not know yet: offers
  // the key to the user and, once trusted, connects again; false when
  // nothing was done.
  bool OfferHostKey(long lErrCode);
  void ShowDrive(const std::string& sDrive);

  // Keyboard (frmMainKeyboard.cpp).
  void ConnectKeyboard();
  void ConnectByKey();
  void PickListedFile();

  // Progress (frmMainProgress.cpp).
  void CreateProgressControls();
  void PlaceCancel();
  void WatchProgress();
  void ShowProgress();
  // A close answered Yes while a put or get runs: cancels it and waits
  // briefly for its answer.
  void CancelTransfersForClose();

  // Several files picked in a list: their gets or puts run one after
  // another (frmMainQueue.cpp). True when the click is handled so.
  bool QueuePicked(bool bPut);
  // Asks about each file that would replace one, then runs the others.
  // vsFailed: "name: why" of what failed before the queue (a folder that
  // could not be listed), counted as its failures.
  void RunQueue(bool bPut, std::vector<QueuedFile> vFiles, std::vector<std::string> vsFailed = {});
  void HandQueued();
  void TellQueueFront();
  void ShowQueueFront();
  void QueuedFileDone(long lErrCode);
  void EndQueue();

  // A queue of gets or puts runs, or a remote folder is being walked for
  // one.
  bool QueueBusy() const;

  // Drag and drop (frmMainDrop.cpp): true when the event was handled.
  bool DropEvent(QObject* pWatched, QEvent* pEvent);
  bool DragOutEvent(QObject* pWatched, QEvent* pEvent);
  void StartDragOut(QAbstractItemView* pView);
  std::string RemoteDropFolder(QObject* pTarget, const QPoint& oAt) const;
  std::string LocalDropFolder(QObject* pTarget, const QPoint& oAt) const;
  void MarkDropNode(QTreeWidgetItem* pNode);

  // Folders moved whole (frmMainFolders.cpp).
  void ListNextWalkedFolder();
  void m_oTransferClient_DirEvent(const std::string& sDirList, const std::string& sRequestID, long lErrCode);
  // The context menu of the local folder list and the remote tree; true
  // when the event was handled.
  bool FolderMenuEvent(QObject* pWatched, QEvent* pEvent);

  // The automatic run's alarm and outbox (frmMainAutoRun.cpp).
  void PlanAlarm();
  void AfterOwnAlarm();
  // Nothing more of the run goes to the server: the connection goes now,
  // not after the wait before the disconnect, so that the server's slot is
  // free for other runs.
  void ReleaseConnection();
  void PutNextKeptFile();
  void KeptFilePutDone(long lErrCode);
  void StopOutbox(const std::string& sWhy);
  bool AutoRunAwaitsAnswer() const;
  void AutoRunConnectionLost();
  void KeepOwnAlarm();
  void LogOutboxCount();

  QTreeWidgetItem* AddFtpNode(const std::string& sKey, const std::string& sText, const std::string& sImage,
                              QTreeWidgetItem* pParent);
  // Raises OrvError for an image key that ImageList1 does not hold.
  void RequireImage(const std::string& sImage) const;
  void SetFtpNodeImage(QTreeWidgetItem* pNode, const std::string& sImage);

  frmMainLayout m_oPlaces;
  std::map<std::string, QTreeWidgetItem*> m_oFtpNodes;
  std::vector<std::string> m_vsDrives;
  // The folder whose files the local file list shows.
  std::string m_sListedFolder;
  std::string m_sCommandLine;
  std::vector<CommandLinePair> m_vCommandLinePairs;
  std::shared_ptr<cOrvFtpClient> m_oFtpClient;
  std::shared_ptr<cOrvFtpClient> m_oTransferClient;
  std::string m_sAutoStatus;
  std::string m_sMsg;
  std::string m_sAlarmImg;
  // The local file the command line named, which the automatic run puts
  // after the image; whether it named one.
  std::string m_sAutoLocalPath;
  bool m_bAutoLocalPath = false;
  // The outbox (none without a folder), the run's own alarm until it
  // arrived or was kept, and the delivery of earlier runs' alarms.
  std::unique_ptr<Outbox> m_oOutbox;
  std::unique_ptr<OutboxDraft> m_oAlarm;
  std::unique_ptr<OutboxDelivery> m_oDelivery;
  bool m_bOutboxUsed = false;
  // The wait of a close for the cancelled transfer's answer, else nullptr.
  QEventLoop* m_pCloseWait = nullptr;
  // The close under way is the program's own (CloseWindow).
  bool m_bProgramCloses = false;

  // The puts and gets requested and not yet answered, earliest first; the
  // first is the one the library runs or will run next.
  struct Transfer {
    using Clock = std::chrono::steady_clock;
    std::string sCommand;
    std::string sRequestID;
    // Its progress has been heard of: the library runs it now.
    bool bMoving = false;
    // Cancel was asked for; the library is told (bCancelSent) once the
    // transfer is known to run and has data left to move.
    bool bCancel = false;
    bool bCancelSent = false;
    std::uint64_t lDone = 0;
    std::uint64_t lTotal = 0;
    Clock::time_point tFirst;
    // Recent (time, bytes done) pairs, for the rate.
    std::deque<std::pair<Clock::time_point, std::uint64_t>> vSamples;
  };
  std::deque<Transfer> m_oTransfers;
  // The files of one Get or Put of several, while it runs.
  struct TransferQueue {
    std::string sCommand;  // "FTP-PUT" or "FTP-GET"
    std::deque<QueuedFile> vWaiting;
    int iTotal = 0;
    int iStarted = 0;
    int iOk = 0;
    int iFailed = 0;
    // "name: why" of each file that failed.
    std::vector<std::string> vsFailures;
    bool bCancelled = false;
    // The files handed to the transfer connection, in order; the first
    // runs, and the others wait there behind it. A file that could not be
    // handed keeps its place with why.
    struct Handed {
      QueuedFile file;
      std::string sHead;     // "FTP-PUT 2 of 5: cam2.jpg"
      std::string sFailure;  // "cam2.jpg: why"
      bool bTold = false;    // its "FTP Put …" line is in the log
    };
    std::deque<Handed> vHanded;
  };
  std::optional<TransferQueue> m_oQueue;
  // When the status line last told the queue's place, and the timer that
  // tells a later change once it may.
  std::chrono::steady_clock::time_point m_tQueueShown;
  QTimer* m_pQueueShowTimer = nullptr;
  // The remote folders of a folder get, listed one after another on the
  // transfer connection before their files are fetched.
  struct FolderWalk {
    struct Folder {
      std::string sRemote;   // "/in/photos/"
      std::string sLocal;    // where it goes
      std::string sShownAs;  // "photos/"
      int iDepth = 1;
      // What the listings of the folders it lies in looked like.
      std::vector<std::size_t> vlAbove;
    };
    std::deque<Folder> vWaiting;  // the first is being listed
    std::vector<QueuedFile> vFiles;
    std::vector<std::string> vsFailures;
    std::string sRequestID;
    int iListed = 0;
    bool bCancelled = false;
  };
  std::optional<FolderWalk> m_oFolderWalk;
  // The list or tree a left button was pressed on, over an entry, until
  // released.
  QAbstractItemView* m_pDragFrom = nullptr;
  // The remote folder node a drag hovers over, highlighted.
  QTreeWidgetItem* m_pDropNode = nullptr;
  // A put queue's outcome, which the status line shows again once the
  // listing after it has arrived.
  struct KeptStatus {
    std::string sText;
    bool bFailed = false;
    std::string sWhy;
  };
  std::optional<KeptStatus> m_oStatusAfterListing;
  // The new paths of the renames requested and not yet answered, earliest
  // first.
  std::deque<std::string> m_vsRenamedTo;
  QShortcut* m_pEscape = nullptr;
  // The file list or remote tree whose key press is being handled, else
  // nullptr.
  QObject* m_pKeyList = nullptr;
  // Lists the remote tree's current folder once the arrow keys rest.
  QTimer* m_pTreeKeyTimer = nullptr;
  // The next listing is the connection's first: the login folder opens
  // after it (window only).
  bool m_bOpenLoginFolder = false;
  // The remote folder whose files the remote list shows ("/a/"), and
  // whether its listing is still on its way.
  std::string m_sListedFtpFolder;
  bool m_bFtpListingPending = false;
  // The file Enter in the remote path named, picked when its folder's
  // listing arrives.
  std::string m_sPickAfterListing;
};
