#include "ctlSecurePwdEdit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <algorithm>
#include <iterator>
#include <limits>
#include <vector>

namespace {

// The limit a Qt line edit starts with.
constexpr int kDefaultMaxLength = 32767;

// Character codes of the keys that are not plain characters.
constexpr int kCharBackspace = 8;
constexpr int kCharTab = 9;
constexpr int kCharEnter = 13;
constexpr int kCharEscape = 27;

// --- Qt key events onto Windows key codes and character codes ------------

qint16 KeyCodeOf(const QKeyEvent& e) {
  const int k = e.key();
  const bool bKeypad = e.modifiers().testFlag(Qt::KeypadModifier);
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return qint16(k);  // Qt uses 'A'..'Z' too
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return qint16(bKeypad ? 96 + (k - Qt::Key_0) : k);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return qint16(112 + (k - Qt::Key_F1));
  switch (k) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Print: return 44;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Meta: return 91;
    case Qt::Key_Menu: return 93;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    // The shifted digits of a US keyboard, which Qt names by their symbol.
    case Qt::Key_ParenRight: return 48;
    case Qt::Key_Exclam: return 49;
    case Qt::Key_At: return 50;
    case Qt::Key_NumberSign: return 51;
    case Qt::Key_Dollar: return 52;
    case Qt::Key_Percent: return 53;
    case Qt::Key_AsciiCircum: return 54;
    case Qt::Key_Ampersand: return 55;
    case Qt::Key_ParenLeft: return 57;
    case Qt::Key_Asterisk: return bKeypad ? 106 : 56;
    case Qt::Key_Plus: return bKeypad ? 107 : 187;
    case Qt::Key_Minus: return bKeypad ? 109 : 189;
    case Qt::Key_Period: return bKeypad ? 110 : 190;
    case Qt::Key_Slash: return bKeypad ? 111 : 191;
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 186;
    case Qt::Key_Equal: return 187;
    case Qt::Key_Comma: case Qt::Key_Less: return 188;
    case Qt::Key_Underscore: return 189;
    case Qt::Key_Greater: return 190;
    case Qt::Key_Question: return 191;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 192;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 219;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 220;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 221;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 222;
    default: return 0;
  }
}

qint16 ShiftOf(const QKeyEvent& e) {
  qint16 lShift = 0;
  if (e.modifiers().testFlag(Qt::ShiftModifier)) lShift |= ctlSecurePwdEdit::kShiftMask;
  if (e.modifiers().testFlag(Qt::ControlModifier)) lShift |= ctlSecurePwdEdit::kCtrlMask;
  if (e.modifiers().testFlag(Qt::AltModifier)) lShift |= ctlSecurePwdEdit::kAltMask;
  return lShift;
}

bool IsControlChar(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsLineBreak(char32_t c) {
  return c == u'\n' || c == u'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The code points of s; a surrogate without its partner stands for no
// character and is left out.
std::vector<char32_t> CodePoints(QStringView s) {
  std::vector<char32_t> result;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
      result.push_back(QChar::surrogateToUcs4(c, s[i + 1]));
      ++i;
    } else if (!c.isSurrogate()) {
      result.push_back(c.unicode());
    }
  }
  return result;
}

// The character keys one key event stands for: the control codes of
// Backspace, Tab, Enter and Escape, 1 to 26 for Ctrl with a letter, else
// every character of the event's text (an input of several characters at
// once gives several character keys). Delete and the keys that move the
// caret give none.
std::vector<int> CharacterCodesOf(const QKeyEvent& e) {
  switch (e.key()) {
    case Qt::Key_Delete: return {};
    case Qt::Key_Backspace: return {kCharBackspace};
    case Qt::Key_Tab: case Qt::Key_Backtab: return {kCharTab};
    case Qt::Key_Return: case Qt::Key_Enter: return {kCharEnter};
    case Qt::Key_Escape: return {kCharEscape};
    default: break;
  }
  // Ctrl and Ctrl+Shift make control codes; Ctrl with Alt is AltGr on
  // Windows keyboards and types the character of the key.
  const Qt::KeyboardModifiers mods = e.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (mods == Qt::ControlModifier) {
    if (e.key() >= Qt::Key_A && e.key() <= Qt::Key_Z) return {e.key() - Qt::Key_A + 1};
    return {};
  }
  std::vector<int> codes;
  for (char32_t c : CodePoints(e.text())) {
    if (!IsControlChar(c)) codes.push_back(int(c));
  }
  return codes;
}

// The keys that move the caret or the selection, read through the
// platform's key bindings. Word moves go to the ends, as in Qt's own
// password boxes: a mask has no words.
struct CaretMove {
  QKeySequence::StandardKey key;
  bool bForward;
  bool bToEnd;
  bool bMark;
  bool bFollowsLayout;  // Right is backwards in a right-to-left layout
};

constexpr CaretMove kCaretMoves[] = {
    {QKeySequence::MoveToNextChar, true, false, false, true},
    {QKeySequence::MoveToPreviousChar, false, false, false, true},
    {QKeySequence::SelectNextChar, true, false, true, true},
    {QKeySequence::SelectPreviousChar, false, false, true, true},
    {QKeySequence::MoveToNextWord, true, true, false, true},
    {QKeySequence::MoveToPreviousWord, false, true, false, true},
    {QKeySequence::SelectNextWord, true, true, true, true},
    {QKeySequence::SelectPreviousWord, false, true, true, true},
    {QKeySequence::MoveToStartOfLine, false, true, false, false},
    {QKeySequence::MoveToStartOfBlock, false, true, false, false},
    {QKeySequence::MoveToStartOfDocument, false, true, false, false},
    {QKeySequence::MoveToEndOfLine, true, true, false, false},
    {QKeySequence::MoveToEndOfBlock, true, true, false, false},
    {QKeySequence::MoveToEndOfDocument, true, true, false, false},
    {QKeySequence::SelectStartOfLine, false, true, true, false},
    {QKeySequence::SelectStartOfBlock, false, true, true, false},
    {QKeySequence::SelectStartOfDocument, false, true, true, false},
    {QKeySequence::SelectEndOfLine, true, true, true, false},
    {QKeySequence::SelectEndOfBlock, true, true, true, false},
    {QKeySequence::SelectEndOfDocument, true, true, true, false},
};

const CaretMove* CaretMoveOf(const QKeyEvent& e) {
  const auto it = std::find_if(std::begin(kCaretMoves), std::end(kCaretMoves),
                               [&e](const CaretMove& m) { return e.matches(m.key); });
  return it == std::end(kCaretMoves) ? nullptr : it;
}

// Keys the control claims before the window's shortcuts see them, the same
// set a Qt line edit claims: its editing keys, the keys that type, and the
// clipboard and undo shortcuts, which the control swallows.
bool IsOwnShortcut(const QKeyEvent& e) {
  if (e.key() == Qt::Key_Delete || e.key() == Qt::Key_Backspace) return true;
  if (CaretMoveOf(e)) return true;
  for (auto key : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo,
                   QKeySequence::Redo, QKeySequence::SelectAll}) {
    if (e.matches(key)) return true;
  }
  // Alt with a character is left to the window's mnemonics.
  if (e.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) return false;
  const std::vector<int> codes = CharacterCodesOf(e);
  return !codes.empty() && codes.front() >= 0x20;
}

bool IsFocusKey(const QKeyEvent& e) {
  if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
  return e.key() == Qt::Key_Tab || e.key() == Qt::Key_Backtab;
}

bool IsPassedOnKey(const QKeyEvent& e) {
  return e.key() == Qt::Key_Return || e.key() == Qt::Key_Enter || e.key() == Qt::Key_Escape;
}

// --- Positions that count characters, not UTF-16 units --------------------

qsizetype CharCount(QStringView s) {
  qsizetype n = s.size();
  for (qsizetype i = 0; i + 1 < s.size(); ++i) {
    if (s[i].isHighSurrogate() && s[i + 1].isLowSurrogate()) {
      --n;
      ++i;
    }
  }
  return n;
}

// The UTF-16 offset of character lChars of s, or the end of s.
qsizetype UnitOffset(QStringView s, qsizetype lChars) {
  qsizetype i = 0;
  for (; i < s.size() && lChars > 0; ++i, --lChars) {
    if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ++i;
  }
  return i;
}

QString FirstChar(const QString& s) { return s.left(UnitOffset(s, 1)); }

// Only what a single-line box can take: up to the first line break, without
// control characters, which no key can type either.
QString SingleLine(const QString& s) {
  std::vector<char32_t> kept;
  for (char32_t c : CodePoints(s)) {
    if (IsLineBreak(c)) break;
    if (!IsControlChar(c)) kept.push_back(c);
  }
  return QString::fromUcs4(kept.data(), qsizetype(kept.size()));
}

bool IsTypable(int KeyAscii) {
  if (KeyAscii < 0 || KeyAscii > 0x10FFFF) return false;
  const auto c = char32_t(KeyAscii);
  return !QChar::isSurrogate(c) && !IsControlChar(c);
}

}  // namespace

ctlSecurePwdEdit::ctlSecurePwdEdit(QWidget* parent)
    : QWidget(parent), m_sPasswordChar(QStringLiteral("*")), m_iMaxLength(kDefaultMaxLength),
      tb(new QLineEdit(this)) {
  tb->setObjectName(QStringLiteral("tb"));
  // The box must always show the whole mask; the control applies MaxLength.
  tb->setMaxLength(std::numeric_limits<int>::max());
  tb->setContextMenuPolicy(Qt::NoContextMenu);
  tb->setAcceptDrops(false);
  tb->setDragEnabled(false);
  tb->setAttribute(Qt::WA_InputMethodEnabled, false);
  tb->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                          Qt::ImhNoAutoUppercase);
  tb->installEventFilter(this);
  connect(tb, &QLineEdit::textChanged, this, &ctlSecurePwdEdit::tb_TextChanged);

  setFocusPolicy(tb->focusPolicy());
  setFocusProxy(tb);
  setSizePolicy(tb->sizePolicy());
}

int ctlSecurePwdEdit::MaxLength() const { return m_iMaxLength; }

void ctlSecurePwdEdit::SetMaxLength(int iMaxLength) { m_iMaxLength = std::max(iMaxLength, 0); }

QString ctlSecurePwdEdit::PasswordChar() const { return m_sPasswordChar; }

void ctlSecurePwdEdit::SetPasswordChar(const QString& sPasswordChar) {
  m_sPasswordChar = sPasswordChar.isEmpty() ? QStringLiteral("*") : FirstChar(sPasswordChar);
}

QString ctlSecurePwdEdit::Text() const { return m_sText; }

void ctlSecurePwdEdit::SetText(const QString& sText) {
  m_sText = sText;
  ShowMask();
  emit Change();
}

QString ctlSecurePwdEdit::ToolTipText() const { return tb->toolTip(); }

void ctlSecurePwdEdit::SetToolTipText(const QString& sToolTipText) { tb->setToolTip(sToolTipText); }

std::string ctlSecurePwdEdit::TextUtf8() const { return m_sText.toUtf8().toStdString(); }

void ctlSecurePwdEdit::SetTextUtf8(const std::string& sText) {
  SetText(QString::fromUtf8(sText.data(), qsizetype(sText.size())));
}

QSize ctlSecurePwdEdit::sizeHint() const { return tb->sizeHint(); }

QSize ctlSecurePwdEdit::minimumSizeHint() const { return tb->minimumSizeHint(); }

void ctlSecurePwdEdit::resizeEvent(QResizeEvent* /*pEvent*/) {
  tb->setGeometry(0, 0, width(), height());
}

// Every event of tb that could change its text or hand it out stops here;
// what reaches the control's own handlers is keys and clicks.
bool ctlSecurePwdEdit::eventFilter(QObject* pWatched, QEvent* pEvent) {
  if (pWatched != tb) return QWidget::eventFilter(pWatched, pEvent);

  switch (pEvent->type()) {
    case QEvent::ShortcutOverride: {
      auto* e = static_cast<QKeyEvent*>(pEvent);
      e->setAccepted(IsOwnShortcut(*e));
      return true;
    }
    case QEvent::KeyPress: {
      auto* e = static_cast<QKeyEvent*>(pEvent);
      // Tab moves the focus as in any box; only where there is nowhere to
      // go does it count as a key of the control.
      const bool bNext = e->key() == Qt::Key_Tab && !(e->modifiers() & Qt::ShiftModifier);
      if (IsFocusKey(*e) && focusNextPrevChild(bNext)) {
        e->accept();
        return true;
      }
      tb_KeyDown(e);
      return true;
    }
    case QEvent::KeyRelease:
      tb_KeyUp(static_cast<QKeyEvent*>(pEvent));
      return true;
    case QEvent::MouseButtonPress:
      m_bInDblClick = false;
      return false;
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(pEvent)->button() == Qt::LeftButton) {
        m_bInDblClick = true;
        tb_DblClick();
      }
      return false;
    case QEvent::MouseButtonRelease: {
      // The box would copy its selection into the X11 selection on a left
      // release and paste that selection on a middle one; it gets neither.
      auto* e = static_cast<QMouseEvent*>(pEvent);
      e->accept();
      if (e->button() != Qt::LeftButton) return true;
      if (m_bInDblClick) {
        m_bInDblClick = false;
      } else if (tb->rect().contains(e->position().toPoint())) {
        tb_Click();
      }
      return true;
    }
    case QEvent::InputMethodQuery: {
      auto* e = static_cast<QInputMethodQueryEvent*>(pEvent);
      if (e->queries() & Qt::ImEnabled) e->setValue(Qt::ImEnabled, false);
      if (e->queries() & Qt::ImHints) e->setValue(Qt::ImHints, int(tb->inputMethodHints()));
      e->accept();
      return true;
    }
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
      pEvent->ignore();
      return true;
    default:
      return false;
  }
}

void ctlSecurePwdEdit::tb_Click() { emit Click(); }

void ctlSecurePwdEdit::tb_DblClick() { emit DblClick(); }

void ctlSecurePwdEdit::tb_KeyDown(QKeyEvent* pEvent) {
  const qint16 lOwnKeyCode = KeyCodeOf(*pEvent);
  qint16 KeyCode = lOwnKeyCode;
  qint16 Shift = ShiftOf(*pEvent);
  emit KeyDown(KeyCode, Shift);

  // The control redraws the box after Delete itself rather than letting the
  // box delete too: Shift+Delete would cut, Ctrl+Delete remove a word.
  bool bUsed = false;
  if (KeyCode == kKeyDelete) {
    DeleteSelection();
    bUsed = true;
  } else if (KeyCode == lOwnKeyCode) {
    bUsed = MoveCaret(*pEvent);
  }

  const std::vector<int> codes = CharacterCodesOf(*pEvent);
  for (int KeyAscii : codes) tb_KeyPress(KeyAscii);
  if (!codes.empty()) bUsed = true;

  // Enter and Escape also go on to the window, for its default and cancel
  // buttons, as from any line edit.
  pEvent->setAccepted(bUsed && !IsPassedOnKey(*pEvent));
}

void ctlSecurePwdEdit::tb_KeyPress(int KeyAscii) {
  emit KeyPress(KeyAscii);

  qsizetype s = SelStart();
  const qsizetype n = SelLength();
  if (KeyAscii == kCharBackspace) {
    if (s > 0) {
      Replace(s - 1, n + 1, QString());
      --s;
    }
  } else if (KeyAscii == kCharPaste) {
    const QMimeData* pData = QGuiApplication::clipboard()->mimeData();
    if (pData && pData->hasText()) {
      const QString p = SingleLine(pData->text());
      const qsizetype lRoom = RoomFor(n);
      if (p.isEmpty() || lRoom > 0) {
        const QString sFits = p.left(UnitOffset(p, lRoom));
        Replace(s, n, sFits);
        s += CharCount(sFits);
      }
    }
  } else if (IsTypable(KeyAscii) && RoomFor(n) > 0) {
    const char32_t c = char32_t(KeyAscii);
    Replace(s, n, QString::fromUcs4(&c, 1));
    ++s;
  }

  ShowMask();
  SetCaret(s);
  emit Change();
}

void ctlSecurePwdEdit::tb_KeyUp(QKeyEvent* pEvent) {
  // A held key repeats its key-down, not its key-up.
  if (pEvent->isAutoRepeat()) return;
  qint16 KeyCode = KeyCodeOf(*pEvent);
  qint16 Shift = ShiftOf(*pEvent);
  emit KeyUp(KeyCode, Shift);
}

// Anything that changed the box's text other than the control (an
// accessibility client, say) is undone, so the box keeps showing exactly
// one mask character per character of the hidden text.
void ctlSecurePwdEdit::tb_TextChanged() {
  if (tb->text() != m_sShownMask) tb->setText(m_sShownMask);
}

bool ctlSecurePwdEdit::MoveCaret(const QKeyEvent& e) {
  const CaretMove* pMove = CaretMoveOf(e);
  if (!pMove) return false;

  bool bForward = pMove->bForward;
  if (pMove->bFollowsLayout && tb->layoutDirection() == Qt::RightToLeft) bForward = !bForward;
  if (pMove->bToEnd) {
    bForward ? tb->end(pMove->bMark) : tb->home(pMove->bMark);
  } else if (!pMove->bMark && tb->hasSelectedText()) {
    tb->setCursorPosition(bForward ? tb->selectionEnd() : tb->selectionStart());
  } else {
    bForward ? tb->cursorForward(pMove->bMark) : tb->cursorBackward(pMove->bMark);
  }
  return true;
}

void ctlSecurePwdEdit::DeleteSelection() {
  const qsizetype n = std::max<qsizetype>(SelLength(), 1);
  const qsizetype s = SelStart();
  Replace(s, n, QString());
  ShowMask();
  SetCaret(s);
  emit Change();
}

// How many characters may replace a selection of lReplaced characters.
qsizetype ctlSecurePwdEdit::RoomFor(qsizetype lReplaced) const {
  if (m_iMaxLength == 0) return std::numeric_limits<qsizetype>::max();
  return std::max<qsizetype>(m_iMaxLength - (CharCount(m_sText) - lReplaced), 0);
}

// m_sText = its first s characters + sInsert + what follows the n after them.
void ctlSecurePwdEdit::Replace(qsizetype s, qsizetype n, const QString& sInsert) {
  const qsizetype lFrom = UnitOffset(m_sText, s);
  const qsizetype lTo = lFrom + UnitOffset(QStringView(m_sText).mid(lFrom), n);
  m_sText = m_sText.left(lFrom) + sInsert + m_sText.mid(lTo);
}

void ctlSecurePwdEdit::ShowMask() {
  m_lShownWidth = m_sPasswordChar.size();
  m_sShownMask = m_sPasswordChar.repeated(CharCount(m_sText));
  tb->setText(m_sShownMask);
}

qsizetype ctlSecurePwdEdit::SelStart() const {
  const int iUnits = tb->hasSelectedText() ? tb->selectionStart() : tb->cursorPosition();
  return iUnits / m_lShownWidth;
}

qsizetype ctlSecurePwdEdit::SelLength() const {
  return tb->hasSelectedText() ? tb->selectionLength() / m_lShownWidth : 0;
}

void ctlSecurePwdEdit::SetCaret(qsizetype s) { tb->setCursorPosition(int(s * m_lShownWidth)); }
