#include "NameOrder.h"

#include <QLocale>

namespace {

QLocale SortLocale() {
  const QLocale oSystem = QLocale::system();
  return oSystem.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : oSystem;
}

}  // namespace

NameOrder::NameOrder() : m_oCollator(SortLocale()) {
  m_oCollator.setCaseSensitivity(Qt::CaseInsensitive);
  m_oCollator.setNumericMode(true);
}

bool NameOrder::Less(const QString& a, const QString& b) const {
  const int i = m_oCollator.compare(a, b);
  return i != 0 ? i < 0 : a < b;
}

bool NameOrder::KeyedLess(const Keyed& a, const Keyed& b) {
  const int i = a.oKey.compare(b.oKey);
  return i != 0 ? i < 0 : a.sName < b.sName;
}
