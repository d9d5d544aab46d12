// The main window's make-up: controls, pictures, tab order, load state,
// layout on screen and the automatic-run timer.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DirListBox.h"
#include "LocalFiles.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "ctlSecurePwdEdit.h"
#include "frmMain.h"
#include "frmMainImages.h"

namespace {

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pWindow = std::make_unique<frmMain>();
    m_pWindow->Load();
  }

  RecordingApp m_oApp;
  std::unique_ptr<frmMain> m_pWindow;
};

// The controls that Form_Resize moves.
std::vector<QWidget*> Resized(const frmMain& w) {
  return {w.labStatus, w.tbLocalPath,     w.tbFtpPath, w.labLocalCaption, w.Drive1,
          w.dlb,       w.lbLocalFiles,    w.labLocalFileCnt, w.cbGet,      w.cbPut,
          w.tvFtpDirs, w.lbFtpFiles,      w.labFtpCaption,   w.labFtpFileCnt};
}

std::vector<QWidget*> Controls(const frmMain& w) {
  std::vector<QWidget*> v = Resized(w);
  for (QWidget* p : std::initializer_list<QWidget*>{w.Label1, w.tbFtpUrl, w.Label3, w.tbFtpUsr, w.Label4, w.tbFtpPwd,
                                                    w.tbFtpText, w.cbConnect, w.cbDisconnect, w.cbMkDir, w.cbReName,
                                                    w.cbSize, w.cbDelete}) {
    v.push_back(p);
  }
  return v;
}

TEST_F(Window, CaptionSizeAndFrame) {
  frmMain& w = *m_pWindow;
  EXPECT_EQ(w.windowTitle(), QString(" Orv FTP-Uploader"));
  EXPECT_EQ(w.size(), QSize(804, 431));
  EXPECT_TRUE(w.isWindow());
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.minimumSize(), QSize(0, 0));
  EXPECT_FALSE(w.windowIcon().pixmap(16, 16).isNull());
  EXPECT_EQ(frmMainImages_WindowIconImage().size(), QSize(16, 16));
}

TEST_F(Window, ResizingLeavesTheTopRowsAtTheirFirstPlaces) {
  frmMain& w = *m_pWindow;
  w.resize(1200, 700);
  w.Form_Resize();
  EXPECT_EQ(w.Label1->geometry(), QRect(-2, 6, 100, 17));
  EXPECT_EQ(w.Label4->geometry(), QRect(-2, 42, 100, 17));
  EXPECT_EQ(w.tbFtpUrl->geometry(), QRect(104, 2, 200, 19));
  EXPECT_EQ(w.tbFtpPwd->geometry(), QRect(104, 40, 200, 17));
  EXPECT_EQ(w.tbFtpText->geometry(), QRect(334, 40, 413, 19));
  EXPECT_EQ(w.cbConnect->geometry(), QRect(104, 59, 100, 22));
  EXPECT_EQ(w.cbDelete->geometry(), QRect(633, 59, 114, 22));
  EXPECT_EQ(w.labStatus->geometry(), QRect(0, 681, 1200, 19));
}

int CountPixels(const QImage& oImage, QRgb rgb) {
  int n = 0;
  for (int y = 0; y < oImage.height(); ++y)
    for (int x = 0; x < oImage.width(); ++x) n += (oImage.pixel(x, y) | 0xff000000u) == rgb;
  return n;
}

TEST_F(Window, ImagesShowWhatTheirNamesSay) {
  const ImageList& o = m_pWindow->ImageList1;
  ASSERT_EQ(o.Count(), 3);
  EXPECT_EQ(o.Key(0), QString("OpenFld"));
  EXPECT_EQ(o.Key(1), QString("CloseFld"));
  EXPECT_EQ(o.Key(2), QString("File"));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(o.Image(o.Key(i)).size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(o.TransparentImage(o.Key(i)).pixel(0, 0)), 0) << "silver is see-through";
  }
  // Two yellow folders, one of them open; a white page without yellow.
  EXPECT_GT(CountPixels(o.Image("OpenFld"), 0xffffff00u), 30);
  EXPECT_GT(CountPixels(o.Image("CloseFld"), 0xffffff00u), 60);
  EXPECT_NE(o.Image("OpenFld"), o.Image("CloseFld"));
  EXPECT_EQ(CountPixels(o.Image("File"), 0xffffff00u), 0);
  EXPECT_GT(CountPixels(o.Image("File"), 0xffffffffu), 40);

  // Black arrows on silver, the tip on the side they point to.
  const QImage oLeft = frmMainImages_ArrowLeft(), oRight = frmMainImages_ArrowRight();
  EXPECT_EQ(oLeft.size(), QSize(19, 17));
  EXPECT_EQ(oRight.pixel(17, 8), 0xff000000u);
  EXPECT_EQ(oRight.pixel(1, 8), kImageSilver);
  EXPECT_EQ(oLeft, oRight.mirrored(true, false));
  EXPECT_EQ(CountPixels(oRight, 0xff000000u) + CountPixels(oRight, kImageSilver), 19 * 17);
}

TEST_F(Window, TabKeyVisitsTheControlsInTheirOrder) {
  frmMain& w = *m_pWindow;
  for (QWidget* p : Controls(w)) p->setEnabled(true);
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  const std::vector<QWidget*> vExpected = {
      w.tbFtpUrl, w.tbFtpUsr,  w.cbGet,       w.cbPut,      w.cbDelete,  w.cbConnect, w.cbDisconnect,
      w.cbSize,   w.cbReName,  w.tbFtpText,   w.cbMkDir,    w.tbLocalPath, w.tbFtpPath, w.tvFtpDirs,
      w.dlb,      w.Drive1,    w.lbFtpFiles,  w.lbLocalFiles, w.tbFtpPwd, w.tbFtpUrl};
  w.tbFtpUrl->setFocus(Qt::TabFocusReason);
  for (std::size_t i = 0; i < vExpected.size(); ++i) {
    QWidget* pFocus = QApplication::focusWidget();
    // A composite control takes focus in its inner box.
    while (pFocus && pFocus->parentWidget() != &w) pFocus = pFocus->parentWidget();
    ASSERT_EQ(pFocus, vExpected[i]) << "step " << i << ": " << (pFocus ? pFocus->objectName().toStdString() : "none");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

TEST_F(Window, LoadLeavesTheWindowDisconnectedWithTheRootNode) {
  frmMain& w = *m_pWindow;
  ASSERT_EQ(w.tvFtpDirs->topLevelItemCount(), 1);
  QTreeWidgetItem* pRoot = w.tvFtpDirs->topLevelItem(0);
  EXPECT_EQ(pRoot, w.FtpNode("ROOT"));
  EXPECT_EQ(pRoot->text(0), QString("Root"));
  EXPECT_EQ(frmMain::FtpNodeImage(pRoot), "CloseFld");
  EXPECT_EQ(w.tvFtpDirs->currentItem(), pRoot);
  EXPECT_EQ(w.labStatus->text(), QString("Disconnected"));
  for (QWidget* p : std::initializer_list<QWidget*>{w.cbGet, w.cbPut, w.cbMkDir, w.cbReName, w.cbSize, w.cbDelete,
                                                    w.tvFtpDirs, w.lbFtpFiles}) {
    EXPECT_FALSE(p->isEnabled()) << p->objectName().toStdString();
  }
  EXPECT_TRUE(w.cbConnect->isEnabled());
  EXPECT_TRUE(w.cbDisconnect->isEnabled());
  EXPECT_EQ(w.cbConnect->palette().color(QPalette::Button), QApplication::palette().color(QPalette::Button));
  EXPECT_FALSE(w.timAuto->isActive());
  EXPECT_TRUE(m_oApp.messages.empty());
}

TEST_F(Window, AFailingLoadStepIsReportedAndTheLaterStepsStillRun) {
  frmMain& w = *m_pWindow;
  w.labStatus->clear();
  w.Load();  // the root node is there already
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "frmMain.Load");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Fehler Nr. 35602: Key is not unique in collection");
  EXPECT_EQ(w.labStatus->text(), QString("Disconnected"));
}

TEST_F(Window, CredentialFieldsCarryUtf8Bytes) {
  frmMain& w = *m_pWindow;
  w.SetFtpUrlText("ftp.b\xC3\xBCro.example");
  w.SetFtpUsrText("j\xC3\xB6rg");
  w.SetFtpPwdText("p\xC3\xA4ss word");
  EXPECT_EQ(w.tbFtpUrl->text(), QString::fromUtf8("ftp.büro.example"));
  EXPECT_EQ(w.FtpUrlText(), "ftp.b\xC3\xBCro.example");
  EXPECT_EQ(w.FtpUsrText(), "j\xC3\xB6rg");
  EXPECT_EQ(w.FtpPwdText(), "p\xC3\xA4ss word");
  EXPECT_EQ(w.tbFtpPwd->Text(), QString::fromUtf8("päss word"));
}

TEST_F(Window, AutoTimerIsIdleUntilGivenAnInterval) {
  frmMain& w = *m_pWindow;
  EXPECT_EQ(w.timAuto->interval(), 0);
  w.SetAutoTimer("connect", 500);
  EXPECT_EQ(w.AutoStatus(), "connect");
  EXPECT_TRUE(w.timAuto->isActive());
  EXPECT_EQ(w.timAuto->interval(), 500);
  EXPECT_EQ(w.labStatus->text(), QString("AutoStatus=connect"));
  ASSERT_FALSE(m_oApp.logs.empty());
  EXPECT_EQ(m_oApp.logs.back().s, "AutoStatus=connect");
  EXPECT_EQ(m_oApp.logs.back().eTyp, 0);
  w.SetAutoTimer("bye", 0);
  EXPECT_EQ(w.AutoStatus(), "bye");
  EXPECT_FALSE(w.timAuto->isActive());
  EXPECT_EQ(w.timAuto->interval(), 0);
}

// True when two controls overlap only where a heading's lower edge runs
// under the list or drive list that starts right below it, which is drawn
// over it.
bool HeadingUnderList(const frmMain& w, QWidget* a, QWidget* b) {
  const std::vector<QWidget*> vHeadings = {w.labLocalCaption, w.labLocalFileCnt, w.labFtpCaption, w.labFtpFileCnt};
  const std::vector<QWidget*> vLists = {w.Drive1, w.lbLocalFiles, w.tvFtpDirs, w.lbFtpFiles};
  auto in = [](const std::vector<QWidget*>& v, QWidget* p) { return std::find(v.begin(), v.end(), p) != v.end(); };
  if (in(vLists, a)) std::swap(a, b);
  if (!in(vHeadings, a) || !in(vLists, b)) return false;
  const QRect oBoth = a->geometry().intersected(b->geometry());
  if (oBoth.height() > 3 || oBoth.bottom() != a->geometry().bottom()) return false;
  QWidget* pOnTop = w.childAt(oBoth.center());
  while (pOnTop && pOnTop->parentWidget() != &w) pOnTop = pOnTop->parentWidget();
  return pOnTop == b;
}

void CheckPlaces(const frmMain& w) {
  const QRect oClient = w.rect();
  EXPECT_EQ(w.Label1->x(), -2);
  for (QWidget* p : Resized(w)) {
    EXPECT_TRUE(oClient.contains(p->geometry())) << p->objectName().toStdString() << " at " << p->x() << ","
                                                 << p->y() << " " << p->width() << "x" << p->height();
  }
  const std::vector<QWidget*> vAll = Controls(w);
  const std::vector<QWidget*> vResized = Resized(w);
  for (std::size_t i = 0; i < vResized.size(); ++i) {
    for (QWidget* pOther : vAll) {
      QWidget* p = vResized[i];
      if (pOther == p) continue;
      const auto itOther = std::find(vResized.begin(), vResized.end(), pOther);
      if (itOther != vResized.end() && itOther < vResized.begin() + static_cast<long>(i)) continue;
      if (!p->geometry().intersects(pOther->geometry())) continue;
      EXPECT_TRUE(HeadingUnderList(w, p, pOther))
          << p->objectName().toStdString() << " overlaps " << pOther->objectName().toStdString();
    }
  }
}

TEST(WindowScreenshot, LaidOutInsideTheClientAreaWithoutOverlaps) {
  RecordingApp oApp;
  TempFolder oTemp;
  for (const char* sz : {"alarm.jpg", "report.txt", "cam1.log"}) std::ofstream(oTemp.Path() + "/" + sz) << "x";
  std::filesystem::create_directory(oTemp.Path() + "/archive");
  const std::filesystem::path oOld = std::filesystem::current_path();
  std::filesystem::current_path(oTemp.Path());
  frmMain w;
  w.Load();
  std::filesystem::current_path(oOld);
  w.SetFtpUrlText("ftp.example.org");
  w.SetFtpUsrText("alarm");
  w.SetFtpPwdText("secret");
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

  for (const QSize& oSize : {QSize(804, 431), QSize(1200, 700)}) {
    w.resize(oSize);
    QTRY_COMPARE(w.size(), oSize);
    QApplication::processEvents();
    const QString sFile = QString(ORV_UI_SHOT_DIR "/frmMain_%1x%2.png").arg(oSize.width()).arg(oSize.height());
    EXPECT_TRUE(w.grab().save(sFile)) << sFile.toStdString();
    const frmMainLayout oExpected =
        frmMainLayout_Arrange(frmMainLayout::FirstPlaces(), oSize.width(), oSize.height());
    const PixelRect oGet = frmMainLayout_ToPixels(oExpected.cbGet);
    EXPECT_EQ(w.cbGet->geometry(), QRect(oGet.iLeft, oGet.iTop, oGet.iWidth, oGet.iHeight));
    const PixelRect oFiles = frmMainLayout_ToPixels(oExpected.lbFtpFiles);
    EXPECT_EQ(w.lbFtpFiles->geometry(), QRect(oFiles.iLeft, oFiles.iTop, oFiles.iWidth, oFiles.iHeight));
    CheckPlaces(w);
  }
}

TEST(WindowLayout, ControlsArePlacedBeforeTheWindowIsFirstShown) {
  RecordingApp oApp;
  frmMain w;
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.labStatus->geometry(), QRect(0, 412, 804, 19));
  EXPECT_EQ(w.tbLocalPath->geometry(), QRect(0, 393, 350, 19));
  EXPECT_EQ(w.cbPut->geometry(), QRect(350, 248, 30, 30));
}

}  // namespace
