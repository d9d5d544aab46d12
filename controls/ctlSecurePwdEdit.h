#pragma once

#include <QString>
#include <QWidget>
#include <string>

class QKeyEvent;
class QLineEdit;

// A one-line entry box for passwords. The inner text box tb never holds the
// password: it shows one mask character per password character, so its caret
// and selection address the same positions in the hidden text. The password
// itself lives only in m_sText and leaves the control only through Text.
//
// Every edit goes through the handled keys (printable characters, Backspace,
// Ctrl+V, Delete); the text box's own ways to change or hand out its text
// (context menu, drag and drop, input methods, undo, clipboard shortcuts,
// the X11 selection) are closed.
//
// The key arguments of KeyDown and KeyPress are references: a handler
// connected directly (the default within one thread) may change them, and
// the control then acts on the changed value.
class ctlSecurePwdEdit : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength STORED false)
  Q_PROPERTY(QString PasswordChar READ PasswordChar WRITE SetPasswordChar STORED false)
  Q_PROPERTY(QString Text READ Text WRITE SetText NOTIFY Change STORED false)
  Q_PROPERTY(QString ToolTipText READ ToolTipText WRITE SetToolTipText STORED false)

 public:
  // Windows key codes of the keys the control acts on.
  static constexpr qint16 kKeyBackspace = 8;
  static constexpr qint16 kKeyDelete = 46;
  // Character code of Ctrl+V; Ctrl+A to Ctrl+Z give 1 to 26.
  static constexpr int kCharPaste = 22;
  // Bits of the Shift argument.
  static constexpr qint16 kShiftMask = 1;
  static constexpr qint16 kCtrlMask = 2;
  static constexpr qint16 kAltMask = 4;

  explicit ctlSecurePwdEdit(QWidget* parent = nullptr);

  // The most characters the user can type or paste; 0 means no limit.
  // Texts assigned through Text are never cut.
  int MaxLength() const;
  void SetMaxLength(int iMaxLength);

  // The mask character. Assigning takes the first character of the value,
  // or "*" for an empty value; the mask shown changes with the next edit.
  QString PasswordChar() const;
  void SetPasswordChar(const QString& sPasswordChar);

  QString Text() const;
  void SetText(const QString& sText);

  QString ToolTipText() const;
  void SetToolTipText(const QString& sToolTipText);

  // Text as UTF-8 bytes, the form the rest of the program keeps it in.
  std::string TextUtf8() const;
  void SetTextUtf8(const std::string& sText);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // KeyCode is the Windows virtual-key code (0 for keys without one), Shift
  // the state of Shift (1), Ctrl (2) and Alt (4).
  void KeyDown(qint16& KeyCode, qint16& Shift);
  // KeyAscii is the character's Unicode code point, or a control code:
  // 8 Backspace, 13 Enter, 27 Escape, 1 to 26 for Ctrl+A to Ctrl+Z.
  void KeyPress(int& KeyAscii);
  void KeyUp(qint16& KeyCode, qint16& Shift);
  void Change();
  void Click();
  void DblClick();

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
  void resizeEvent(QResizeEvent* pEvent) override;

 private:
  void tb_Click();
  void tb_DblClick();
  void tb_KeyDown(QKeyEvent* pEvent);
  void tb_KeyPress(int KeyAscii);
  void tb_KeyUp(QKeyEvent* pEvent);
  void tb_TextChanged();

  bool MoveCaret(const QKeyEvent& e);
  void DeleteSelection();
  qsizetype RoomFor(qsizetype lReplaced) const;
  void Replace(qsizetype s, qsizetype n, const QString& sInsert);
  void ShowMask();
  qsizetype SelStart() const;
  qsizetype SelLength() const;
  void SetCaret(qsizetype s);

  QString m_sText;
  QString m_sPasswordChar;
  int m_iMaxLength;
  // The mask as last drawn into tb, and the UTF-16 units per mask character
  // in it; tb's positions divided by this are positions in m_sText.
  QString m_sShownMask;
  qsizetype m_lShownWidth = 1;
  // The release that ends a double click is not a click of its own.
  bool m_bInDblClick = false;
  QLineEdit* tb;
};
