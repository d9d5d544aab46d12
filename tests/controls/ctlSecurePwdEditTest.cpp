#include "ctlSecurePwdEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

class ctlSecurePwdEditTest : public ::testing::Test {
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

TEST_F(ctlSecurePwdEditTest, TypingKeepsTheTextHiddenAndRaisesChangePerKey) {
  QTest::keyClicks(tb, "abc");
  ExpectText("abc", 3);
  EXPECT_EQ(lChanges, 3);
  // The caret keys move over the mask as over the text.
  Key(Qt::Key_Home);
  Key(Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClicks(tb, "x");
  Key(Qt::Key_End);
  Key(Qt::Key_Left);
  QTest::keyClicks(tb, "y");
  ExpectText("xbyc", 3);
}

// One key on a text with the caret at lStart or lLen characters selected
// from there; every one raises Change once, even when nothing changes.
struct EditCase {
  const char* sText;
  int lStart, lLen;
  Qt::Key key;
  Qt::KeyboardModifiers mods;
  const char* sResult;
  int lCaret;
};

TEST_F(ctlSecurePwdEditTest, EditKeysActOnTheHiddenTextAtTheCaretAndSelection) {
  const EditCase kCases[] = {
      {"abcd", 1, 2, Qt::Key_X, {}, "axd", 2},
      {"abc", 2, 0, Qt::Key_Backspace, {}, "ac", 1},
      {"abcd", 1, 2, Qt::Key_Backspace, {}, "d", 0},  // the character before goes too
      {"abcd", 0, 2, Qt::Key_Backspace, {}, "abcd", 0},
      {"ab cd", 5, 0, Qt::Key_Backspace, Qt::ControlModifier, "ab c", 4},  // not a word
      {"abcd", 1, 2, Qt::Key_Delete, {}, "ad", 1},
      {"abcd", 1, 0, Qt::Key_Delete, {}, "acd", 1},
      {"ab", 2, 0, Qt::Key_Delete, {}, "ab", 2},
      {"abcd", 1, 2, Qt::Key_Delete, Qt::ShiftModifier, "ad", 1},  // not a cut
      {"ab cd", 0, 0, Qt::Key_Delete, Qt::ControlModifier, "b cd", 0},
  };
  for (const EditCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.sText << " " << c.lStart << "+" << c.lLen << " key " << c.key);
    Start(c.sText, c.lStart, c.lLen);
    Key(c.key, c.mods);
    ExpectText(c.sResult, c.lCaret);
    EXPECT_EQ(lChanges, 1);
  }
  EXPECT_EQ(Clipboard(), "");
}

TEST_F(ctlSecurePwdEditTest, CtrlVPastesOneLineOfPlainTextOverTheSelection) {
  SetClipboard("12");
  Start("ab", 2);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("ab12", 4);

  SetClipboard("pw\r\nnext line");
  Start("abcd", 1, 2);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("apwd", 3);

  QGuiApplication::clipboard()->clear();
  Start("ab", 1);
  Key(Qt::Key_V, Qt::ControlModifier);
  ExpectText("ab", 1);
  EXPECT_EQ(lChanges, 1);
}

TEST_F(ctlSecurePwdEditTest, NoKeyCopiesCutsOrUndoesAndOnlyCtrlVPastes) {
  Start("abcd", 0, 4);
  for (Qt::Key k : {Qt::Key_C, Qt::Key_X, Qt::Key_A, Qt::Key_Z, Qt::Key_Y}) Key(k, Qt::ControlModifier);
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

TEST_F(ctlSecurePwdEditTest, TheBoxesOwnWaysInAndOutAreClosed) {
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

TEST_F(ctlSecurePwdEditTest, MouseReleasesNeitherPublishNorPasteTheX11Selection) {
  QClipboard* pClipboard = QGuiApplication::clipboard();
  if (!pClipboard->supportsSelection()) {
    if (std::getenv("ORV_REQUIRE_X11_SELECTION")) FAIL() << "the X server offers no selection clipboard";
    GTEST_SKIP() << "this platform has no selection clipboard";
  }
  pClipboard->setText("zz", QClipboard::Selection);
  Start("ab", 0);
  QTest::mouseClick(tb, Qt::MiddleButton);
  tb->selectAll();
  QTest::mouseRelease(tb, Qt::LeftButton);
  EXPECT_EQ(tb->text(), "**");
  EXPECT_EQ(pClipboard->text(QClipboard::Selection), "zz");
}

TEST_F(ctlSecurePwdEditTest, PasswordCharTakesOneWholeCharacterFromTheNextEdit) {
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

TEST_F(ctlSecurePwdEditTest, AssignedTextShowsItsMaskAndRaisesChangeOnce) {
  ctl.SetText("secret");
  EXPECT_EQ(tb->text(), "******");
  EXPECT_EQ(lChanges, 1);
  ctl.SetTextUtf8("p\xC3\xA4\xF0\x9F\x98\x80");
  EXPECT_EQ(tb->text(), "***");
  EXPECT_EQ(ctl.TextUtf8(), "p\xC3\xA4\xF0\x9F\x98\x80");
}

TEST_F(ctlSecurePwdEditTest, NonAsciiCharactersStayWholeWhenTypedAndPasted) {
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

TEST_F(ctlSecurePwdEditTest, MaxLengthLimitsWhatTheUserEntersOnly) {
  EXPECT_EQ(ctl.MaxLength(), 32767);
  ctl.SetMaxLength(3);
  QTest::keyClicks(tb, "abcd");
  ExpectText("abc", 3);
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

TEST_F(ctlSecurePwdEditTest, TheContainerSeesAndChangesTheKeyArguments) {
  std::vector<int> downs, presses;
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyDown,
                   [&](qint16& KeyCode, qint16& Shift) { downs.push_back(KeyCode * 10 + Shift); });
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyUp, [&](qint16& KeyCode, qint16&) { downs.push_back(-KeyCode); });
  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyPress, [&](int& KeyAscii) { presses.push_back(KeyAscii); });
  SendKey(Qt::Key_A, Qt::ShiftModifier, "A");
  SendKey(Qt::Key_V, Qt::ControlModifier, "\x16");
  SendKey(Qt::Key_Delete, Qt::NoModifier, "\x7f");
  SendKey(Qt::Key_Left, Qt::NoModifier, "");
  SendKey(Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ(downs, (std::vector<int>{651, -65, 862, -86, 460, -46, 370, -37, 130, -13}));
  EXPECT_EQ(presses, (std::vector<int>{'A', 22, 13}));

  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyPress, [](int& KeyAscii) { KeyAscii = 0; });
  Start("abcd", 1, 2);
  QTest::keyClicks(tb, "xy");
  ExpectText("abcd", 1);
  EXPECT_EQ(lChanges, 2);

  QObject::connect(&ctl, &ctlSecurePwdEdit::KeyDown, [](qint16& KeyCode, qint16&) { KeyCode = 0; });
  Key(Qt::Key_Delete);
  ExpectText("abcd", 1);
}

TEST_F(ctlSecurePwdEditTest, EditingKeysWinOverTheWindowsShortcutsOthersDoNot) {
  int lDeletes = 0, lTyped = 0, lQuits = 0;
  QAction del, typed, quit;
  del.setShortcut(Qt::Key_Delete);
  typed.setShortcut(Qt::Key_Q);
  quit.setShortcut(Qt::ALT | Qt::Key_Q);
  QObject::connect(&del, &QAction::triggered, [&] { ++lDeletes; });
  QObject::connect(&typed, &QAction::triggered, [&] { ++lTyped; });
  QObject::connect(&quit, &QAction::triggered, [&] { ++lQuits; });
  ctl.addActions({&del, &typed, &quit});
  ctl.activateWindow();
  tb->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&ctl));
  Start("ab", 0);
  Key(Qt::Key_Delete);
  Key(Qt::Key_Q);
  Key(Qt::Key_Q, Qt::AltModifier);
  ExpectText("qb", 1);
  EXPECT_EQ(lDeletes + lTyped, 0);
  EXPECT_EQ(lQuits, 1);
}

TEST_F(ctlSecurePwdEditTest, ClickAndDoubleClickAreRaised) {
  int lClicks = 0, lDblClicks = 0;
  QObject::connect(&ctl, &ctlSecurePwdEdit::Click, [&] { ++lClicks; });
  QObject::connect(&ctl, &ctlSecurePwdEdit::DblClick, [&] { ++lDblClicks; });
  QTest::mouseClick(tb, Qt::LeftButton);
  // Qt's test double click is the second press, the double click and the
  // release; the release that ends a double click is no click of its own.
  QTest::mouseDClick(tb, Qt::LeftButton);
  EXPECT_EQ(lClicks, 1);
  EXPECT_EQ(lDblClicks, 1);
  QTest::mouseClick(tb, Qt::LeftButton);
  EXPECT_EQ(lClicks, 2);
}

}  // namespace
