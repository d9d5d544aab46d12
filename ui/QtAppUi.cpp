#include "QtAppUi.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <utility>

#include "ByteText.h"

QtAppUi::QtAppUi(WindowFactory createWindow) : m_createWindow(std::move(createWindow)) {}

QtAppUi::~QtAppUi() = default;

bool QtAppUi::Offscreen() { return QGuiApplication::platformName() == QStringLiteral("offscreen"); }

void QtAppUi::ShowMessageBox(const std::string& sText, const std::string& sTitle) {
  // Line breaks inside messages are single CRs; shown as line breaks.
  QString qText = ByteText_FromBytes(sText);
  qText.replace(QChar('\r'), QChar('\n'));
  const QString qTitle = ByteText_FromBytes(sTitle);
  if (Offscreen()) {
    // Without a screen a box would wait forever; the text goes to standard
    // error, with the bytes of any name in it, and the program goes on as
    // if OK had been pressed.
    std::fprintf(stderr, "%s\n%s\n\n", ByteText_ToBytes(qTitle).c_str(), ByteText_ToBytes(qText).c_str());
    std::fflush(stderr);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, qTitle, qText, QMessageBox::Ok);
  box.exec();
}

namespace {

// Yes, No and the other buttons asked for; No the default and Escape's.
QMessageBox::StandardButton AskWith(const std::string& sQuestion, const std::string& sTitle,
                                    QMessageBox::StandardButtons eButtons) {
  QString qText = ByteText_FromBytes(sQuestion);
  qText.replace(QChar('\r'), QChar('\n'));
  const QString qTitle = ByteText_FromBytes(sTitle);
  if (QtAppUi::Offscreen()) {
    // Nobody can answer without a screen: the question goes to standard
    // error and the answer is the default, No.
    std::fprintf(stderr, "%s\n%s\n(answered No)\n\n", ByteText_ToBytes(qTitle).c_str(),
                 ByteText_ToBytes(qText).c_str());
    std::fflush(stderr);
    return QMessageBox::No;
  }
  QMessageBox box(QMessageBox::Question, qTitle, qText, eButtons);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

bool QtAppUi::AskQuestion(const std::string& sQuestion, const std::string& sTitle) {
  return AskWith(sQuestion, sTitle, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

AppAnswer QtAppUi::AskQuestionForEach(const std::string& sQuestion, const std::string& sTitle) {
  switch (
      AskWith(sQuestion, sTitle, QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll)) {
    case QMessageBox::Yes: return AppAnswer::kYes;
    case QMessageBox::YesToAll: return AppAnswer::kYesToAll;
    case QMessageBox::NoToAll: return AppAnswer::kNoToAll;
    default: return AppAnswer::kNo;
  }
}

AppWindow& QtAppUi::MainWindow() {
  if (!m_pWindow) {
    // Stored before loading: the load handler may already report through
    // messages that reach the window again.
    m_pWindow = m_createWindow();
    m_pWindow->Load();
  }
  return *m_pWindow;
}
