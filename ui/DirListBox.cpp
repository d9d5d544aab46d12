#include "DirListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include <utility>

#include "ByteText.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "frmMainImages.h"

namespace {

constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentPixels = 8;

// Indents each entry by its depth below the drive root.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* pPainter, const QStyleOptionViewItem& oOption, const QModelIndex& oIndex) const override {
    QStyleOptionViewItem o(oOption);
    o.rect.adjust(oIndex.data(kLevelRole).toInt() * kIndentPixels, 0, 0, 0);
    QStyledItemDelegate::paint(pPainter, o, oIndex);
  }
  QSize sizeHint(const QStyleOptionViewItem& oOption, const QModelIndex& oIndex) const override {
    QSize o = QStyledItemDelegate::sizeHint(oOption, oIndex);
    o.rwidth() += oIndex.data(kLevelRole).toInt() * kIndentPixels;
    return o;
  }
};

// The folders from sRoot down to sFolder, both included; sFolder lies
// below sRoot and both are normal paths.
std::vector<std::string> Chain(const std::string& sFolder, const std::string& sRoot) {
  std::vector<std::string> vs{sRoot};
  if (sFolder == sRoot) return vs;
  std::size_t lSlash = sRoot == "/" ? 0 : sRoot.size();
  while ((lSlash = sFolder.find('/', lSlash + 1)) != std::string::npos) vs.push_back(sFolder.substr(0, lSlash));
  vs.push_back(sFolder);
  return vs;
}

}  // namespace

DirListBox::DirListBox(QWidget* pParent) : QListWidget(pParent) {
  setItemDelegate(new IndentDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(16, 16));
  connect(this, &QListWidget::itemClicked, this, [this] { emit Click(); });
  connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* pItem) { OpenEntry(row(pItem)); });
}

void DirListBox::SetPath(const std::string& sFolder) {
  const std::string sNormal = LocalFiles_Normal(sFolder);
  SetPath(sNormal, LocalFiles_IsUnder(sNormal, m_sRoot) ? m_sRoot : std::string("/"));
}

void DirListBox::SetPath(const std::string& sFolder, const std::string& sRoot) {
  const std::string sPath = LocalFiles_Normal(sFolder);
  std::string sTop = LocalFiles_Normal(sRoot);
  // GCC 12 at -O2 sees an overlapping copy in std::string's assignment of
  // a literal, which cannot overlap the string: a false positive, known of
  // that compiler's -Wrestrict in the inlined library code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
  if (!LocalFiles_IsUnder(sPath, sTop)) sTop = "/";
#pragma GCC diagnostic pop
  const std::vector<std::string> vsSub = LocalFiles_SubFolders(sPath);

  const ImageList oImages = frmMainImages_ImageList1();
  const QIcon oOpen = oImages.Icon(QStringLiteral("OpenFld"));
  const QIcon oClosed = oImages.Icon(QStringLiteral("CloseFld"));

  m_sRoot = sTop;
  m_sPath = sPath;
  m_vsEntries = Chain(sPath, sTop);
  const int iCurrent = ListCount() - 1;
  for (const std::string& sName : vsSub) m_vsEntries.push_back(LocalFiles_Join(sPath, sName));

  const QSignalBlocker oBlock(this);
  clear();
  for (int i = 0; i < ListCount(); ++i) {
    const bool bChain = i <= iCurrent;
    const std::string& sEntry = m_vsEntries[static_cast<std::size_t>(i)];
    const std::string sText = i == 0 ? sEntry : sEntry.substr(sEntry.find_last_of('/') + 1);
    auto* pItem = new QListWidgetItem(bChain ? oOpen : oClosed, ByteText_FromBytes(sText), this);
    pItem->setData(kLevelRole, bChain ? i : iCurrent + 1);
    pItem->setToolTip(ByteText_FromBytes(sEntry));
  }
  setCurrentRow(iCurrent);
}

std::string DirListBox::EntryPath(int iIndex) const {
  if (iIndex < 0 || iIndex >= ListCount()) return std::string();
  return m_vsEntries[static_cast<std::size_t>(iIndex)];
}

int DirListBox::IndexOf(const std::string& sFolder) const {
  for (int i = 0; i < ListCount(); ++i) {
    if (m_vsEntries[static_cast<std::size_t>(i)] == sFolder) return i;
  }
  return -1;
}

std::string DirListBox::SelectedFolder() const {
  const int iIndex = ListIndex();
  return iIndex >= 0 ? EntryPath(iIndex) : m_sPath;
}

void DirListBox::OpenEntry(int iIndex) {
  const std::string sFolder = EntryPath(iIndex);
  if (sFolder.empty()) return;
  try {
    SetPath(sFolder, m_sRoot);
  } catch (const OrvError& e) {
    SetListIndex(IndexOf(m_sPath));
    emit OpenFailed(ByteText_FromBytes(sFolder), e.Number(), ByteText_FromBytes(e.Description()));
    return;
  }
  emit Change();
}

void DirListBox::keyPressEvent(QKeyEvent* pEvent) {
  if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
    OpenEntry(ListIndex());
    return;
  }
  const int iBefore = ListIndex();
  QListWidget::keyPressEvent(pEvent);
  if (ListIndex() != iBefore) emit Click();
}

void DirListBox::mousePressEvent(QMouseEvent* pEvent) {
  QListWidget::mousePressEvent(pEvent);
  if (pEvent->button() == Qt::LeftButton) m_iPressIndex = ListIndex();
}

// The highlight follows the mouse while the button is held; a release on
// the entry pressed is a click (itemClicked), one after the highlight moved
// elsewhere is reported here.
void DirListBox::mouseReleaseEvent(QMouseEvent* pEvent) {
  const int iPressed = pEvent->button() == Qt::LeftButton ? std::exchange(m_iPressIndex, -1) : -1;
  QListWidget::mouseReleaseEvent(pEvent);
  if (iPressed >= 0 && ListIndex() >= 0 && ListIndex() != iPressed) emit Click();
  // The other buttons highlight the entry they press as well (itemClicked
  // tells of the left button's only): their release on it is a click too.
  if (pEvent->button() != Qt::LeftButton) {
    const QListWidgetItem* pItem = itemAt(pEvent->position().toPoint());
    if (pItem && pItem == currentItem()) emit Click();
  }
}

// The second press of a double click opens the entry (a new list), which
// no release reports once more.
void DirListBox::mouseDoubleClickEvent(QMouseEvent* pEvent) {
  m_iPressIndex = -1;
  QListWidget::mouseDoubleClickEvent(pEvent);
}
