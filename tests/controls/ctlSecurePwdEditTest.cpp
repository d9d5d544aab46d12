#include "ctlSecurePwdEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace {

class PwdEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::clipboard()->clear();
    ctl.resize(200, 30);
    ctl.show();
    tb = ctl.findChild<QLineEdit*>("tb");
    ASSERT_NE(tb, nullptr);
    QObject::connect(&ctl, &ctlSecurePwdEdit::Change, [this] { ++lChanges; });
  }

  // Text s with lLen characters selected from lStart (or the caret there).
  void Start(const QString& s, int lStart, int lLen = 0) {
    ctl.SetText(s);
    lLen ? tb->setSelection(lStart, lLen) : tb->setCursorPosition(lStart);
    lChanges = 0;
  }
  void Key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(tb, k, m); }
  // A key event as a platform delivers it, with its whole text at once.
  void SendKey(int k, Qt::KeyboardModifiers m, const QString& s) {
    QKeyEvent press(QEvent::KeyPress, k, m, s);
    QApplication::sendEvent(tb, &press);
    QKeyEvent release(QEvent::KeyRelease, k, m, s);
    QApplication::sendEvent(tb, &release);
  }
  void SendText(const QString& s) { SendKey(Qt::Key_unknown, Qt::NoModifier, s); }
  void ExpectText(const QString& sText, int lCaret) {
    EXPECT_EQ(ctl.Text(), sText);
    EXPECT_EQ(tb->text(), QString(sText.toUcs4().size(), u'*'));
    EXPECT_FALSE(tb->hasSelectedText());
    EXPECT_EQ(tb->cursorPosition(), lCaret);
  }
  void SetClipboard(const QString& s) { QGuiApplication::clipboard()->setText(s); }
  QString Clipboard() { return QGuiApplication::clipboard()->text(); }

  ctlSecurePwdEdit ctl;
  QLineEdit* tb = nullptr;
  int lChanges = 0;
};

TEST_F(PwdEditTest, TypingKeepsTextHiddenAndRaisesChangePerKey) {
  QTest::keyClicks(tb, "abc");
  ExpectText("abc", 3);
  EXPECT_EQ(lChanges, 3);

  Start("abcd", 1, 2);
  QTest::keyClicks(tb, "x");
  ExpectText("axd", 2);

  Start("abc", 0);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClicks(tb, "x");
  ExpectText("xbc", 1);
  Key(Qt::Key_End);
  Key(Qt::Key_Left);
  QTest::keyClicks(tb, "y");
  ExpectText("xbyc", 3);
}

TEST_F(PwdEditTest, BackspaceTakesTheCharacterBeforeTheCaretWithTheSelection) {
  Start("abc", 2);
  Key(Qt::Key_Backspace);
  ExpectText("ac", 1);

  Start("abcd", 1, 2);
  Key(Qt::Key_Backspace);
  ExpectText("d", 0);

  Start("abcd", 0, 2);
  Key(Qt::Key_Backspace);
  ExpectText("abcd", 0);
  EXPECT_EQ(lChanges, 1);

  Start("ab cd", 5);
  Key(Qt::Key_Backspace, Qt::ControlModifier);
  ExpectText("ab c", 4);
}

TEST_F(PwdEditTest, DeleteRemovesTheSelectionOrTheNextCharacterWhateverTheShiftState) {
  Start("abcd", 1, 2);
  Key(Qt::Key_Delete);
  ExpectText("ad", 1);

  Start("abcd", 1);
  Key(Qt::Key_Delete);
  ExpectText("acd", 1);

  Start("ab", 2);
  Key(Qt::Key_Delete);
  ExpectText("ab", 2);
  EXPECT_EQ(lChanges, 1);

  Start("abcd", 1, 2);
  Key(Qt::Key_Delete, Qt::ShiftModifier);
  ExpectText("ad", 1);
  Start("ab cd", 0);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  ExpectText("b cd", 0);
  EXPECT_EQ(Clipboard(), "");
}

TEST_F(PwdEditTest, CtrlVPastesOneLineOfPlainTextOverTheSelection) {
  SetClipboard("12");
  Start("ab", 2);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("ab12", 4);

  Start("abcd", 1, 2);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("a12d", 3);

  SetClipboard("pw\r\nnext line");
  Start("", 0);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("pw", 2);

  QGuiApplication::clipboard()->clear();
  Start("ab", 1);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("ab", 1);
  EXPECT_EQ(lChanges, 1);
}

TEST_F(PwdEditTest, NoKeyCopiesCutsOrUndoesAndOnlyCtrlVPastes) {
  Start("abcd", 0, 4);
  for (Qt::Key k : {Qt::Key_C, Qt::Key_X, Qt::Key_A, Qt::Key_Z, Qt::Key_Y})
    Key(k, Qt::ControlModifier);
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  tb->selectAll();
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(Clipboard(), "");

  SetClipboard("zz");
  Key(Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(ctl.Text(), "abcd");
  EXPECT_EQ(tb->text(), "****");
  EXPECT_EQ(Clipboard(), "zz");
}

TEST_F(PwdEditTest, TheBoxesOwnWaysInAndOutAreClosed) {
  Start("ab", 0, 2);

  QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), tb->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(tb, &menu);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

  QMimeData drag;
  drag.setText("zz");
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &drag, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tb, &enter);
  EXPECT_FALSE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &drag, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tb, &drop);

  QInputMethodEvent commit;
  commit.setCommitString("zz");
  QApplication::sendEvent(tb, &commit);
  QInputMethodQueryEvent query(Qt::ImEnabled | Qt::ImSurroundingText);
  QApplication::sendEvent(tb, &query);
  EXPECT_FALSE(query.value(Qt::ImEnabled).toBool());
  EXPECT_EQ(query.value(Qt::ImSurroundingText).toString(), "");

  // Whatever still reaches the box directly is undone.
  tb->insert("zz");
  EXPECT_EQ(ctl.Text(), "ab");
  EXPECT_EQ(tb->text(), "**");
  EXPECT_EQ(lChanges, 0);
}

TEST_F(PwdEditTest, MouseReleasesNeitherPublishNorPasteTheX11Selection) {
  QClipboard* pClipboard = QGuiApplication::clipboard();
  if (!pClipboard->supportsSelection()) GTEST_SKIP() << "this platform has no selection clipboard";
  pClipboard->setText("zz", QClipboard::Selection);
  Start("ab", 0);
  QTest::mouseClick(tb, Qt::MiddleButton);
  tb->selectAll();
  QTest::mouseRelease(tb, Qt::LeftButton);
  EXPECT_EQ(tb->text(), "**");
  EXPECT_EQ(pClipboard->text(QClipboard::Selection), "zz");
}

TEST_F(PwdEditTest, PasswordCharTakesOneWholeCharacterFromTheNextEdit) {
  Start("abc", 3);
  ctl.SetPasswordChar("#x");
  EXPECT_EQ(ctl.PasswordChar(), "#");
  EXPECT_EQ(tb->text(), "***");
  QTest::keyClicks(tb, "d");
  EXPECT_EQ(tb->text(), "####");

  ctl.SetPasswordChar("");
  EXPECT_EQ(ctl.PasswordChar(), "*");

  const QString sLock = QString::fromUtf8("\xF0\x9F\x94\x92");  // outside the BMP
  ctl.SetPasswordChar(sLock + "x");
  EXPECT_EQ(ctl.PasswordChar(), sLock);
  Start("abc", 0);
  EXPECT_EQ(tb->text(), sLock.repeated(3));
  Key(Qt::Key_End);
  Key(Qt::Key_Left);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(ctl.Text(), "ac");
  EXPECT_EQ(tb->cursorPosition(), 2);
}

TEST_F(PwdEditTest, AssignedTextShowsItsMaskAndRaisesChangeOnce) {
  ctl.SetText("secret");
  EXPECT_EQ(tb->text(), "******");
  EXPECT_EQ(lChanges, 1);
  ctl.SetTextUtf8("p\xC3\xA4\xF0\x9F\x98\x80");
  EXPECT_EQ(tb->text(), "***");
  EXPECT_EQ(ctl.TextUtf8(), "p\xC3\xA4\xF0\x9F\x98\x80");
}

TEST_F(PwdEditTest, NonAsciiCharactersStayWholeWhenTypedAndPasted) {
  for (const char* c : {"ä", "ß", "€"}) SendText(QString::fromUtf8(c));
  SendText(QString::fromUtf8("\xF0\x9F\x98\x80"));
  SendText(QString(QChar(0xD83D)));  // half a character is none
  EXPECT_EQ(ctl.TextUtf8(), "\xC3\xA4\xC3\x9F\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(tb->text(), "****");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(ctl.TextUtf8(), "\xC3\xA4\xC3\x9F\xE2\x82\xAC");

  SetClipboard(QString::fromUtf8("a\xF0\x9F\x98\x80z"));
  Start("", 0);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText(QString::fromUtf8("a\xF0\x9F\x98\x80z"), 3);
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  Key(Qt::Key_Delete);
  ExpectText("az", 1);
}

TEST_F(PwdEditTest, MaxLengthLimitsWhatTheUserEntersOnly) {
  EXPECT_EQ(ctl.MaxLength(), 32767);
  ctl.SetMaxLength(3);
  QTest::keyClicks(tb, "abcd");
  ExpectText("abc", 3);
  tb->setSelection(1, 1);
  QTest::keyClicks(tb, "x");
  ExpectText("axc", 2);

  SetClipboard("12345");
  Start("a", 1);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("a12", 3);

  ctl.SetText("abcdef");
  EXPECT_EQ(tb->text(), "******");
  ctl.SetMaxLength(0);
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ctl.Text(), "abcdef12345");
}

TEST_F(PwdEditTest, TheContainerSeesAndChangesTheKeyArguments) {
  std::vector<int> downs, presses, ups;
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyDown,
                   [&](qint16& KeyCode, qint16& Shift) { downs.push_back(KeyCode * 10 + Shift); });
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyUp, [&](qint16& KeyCode, qint16&) { ups.push_back(KeyCode); });
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyPress, [&](int& KeyAscii) { presses.push_back(KeyAscii); });
  SendKey(Qt::Key_A, Qt::ShiftModifier, "A");
  SendKey(Qt::Key_V, Qt::ControlModifier, "\x16");
  Key(Qt::Key_Delete);
  Key(Qt::Key_Left);
  Key(Qt::Key_Return);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(downs, (std::vector<int>{651, 862, 460, 370, 130, 80}));
  EXPECT_EQ(presses, (std::vector<int>{'A', 22, 13, 8}));
  EXPECT_EQ(ups, (std::vector<int>{65, 86, 46, 37, 13, 8}));

  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyPress, [](int& KeyAscii) { KeyAscii = 0; });
  Start("abcd", 1, 2);
  QTest::keyClicks(tb, "xy");
  ExpectText("abcd", 1);
  EXPECT_EQ(lChanges, 2);

  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyDown, [](qint16& KeyCode, qint16&) { KeyCode = 0; });
  Key(Qt::Key_Delete);
  ExpectText("abcd", 1);
}

TEST_F(PwdEditTest, ClickAndDoubleClickAreRaised) {
  int lClicks = 0, lDblClicks = 0;
  QObject::connect(&ctl, &ctlSecurePwdEdit::Click, [&] { ++lClicks; });
  QObject::connect(&ctl, &ctlSecurePwdEdit::DblClick, [&] { ++lDblClicks; });
  QTest::mouseClick(tb, Qt::LeftButton);
  EXPECT_EQ(lClicks, 1);
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  QTest::mouseDClick(tb, Qt::LeftButton);
  EXPECT_EQ(lDblClicks, 1);
  EXPECT_LE(lClicks, 2);
}

}  // namespace
