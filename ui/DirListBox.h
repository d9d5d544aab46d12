#pragma once

#include <QListWidget>
#include <QString>

#include <string>
#include <vector>

// A folder list: the chain of folders from the drive's root down to the
// current folder, then the current folder's subfolders. One entry is
// highlighted, at first the current folder's own. A click highlights an
// entry and reports Click, and so does a drag that ends with another entry
// highlighted than the press did (the right and middle buttons' clicks as
// well); a double click (or Enter) makes the entry the
// current folder. Folder paths are byte strings with "/" separators.
class DirListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit DirListBox(QWidget* pParent = nullptr);

  // Makes sFolder the current folder, shown below the drive root sRoot
  // (which must hold it). Raises OrvError when the folder cannot be read;
  // the list then stays as it was.
  void SetPath(const std::string& sFolder, const std::string& sRoot);
  // As above, keeping the drive root when it holds sFolder, else below "/".
  void SetPath(const std::string& sFolder);

  const std::string& Path() const { return m_sPath; }
  const std::string& Root() const { return m_sRoot; }

  int ListCount() const { return static_cast<int>(m_vsEntries.size()); }
  // The highlighted entry's index, -1 while there is no entry.
  int ListIndex() const { return currentRow(); }
  void SetListIndex(int iIndex) { setCurrentRow(iIndex); }
  // The full folder path of the entry at iIndex, empty outside the list.
  std::string EntryPath(int iIndex) const;
  // The index of the entry for sFolder, -1 when it is not listed.
  int IndexOf(const std::string& sFolder) const;
  // The highlighted entry's folder; the current folder when none is.
  std::string SelectedFolder() const;

 signals:
  // The user highlighted an entry.
  void Click();
  // The current folder changed after a double click or Enter.
  void Change();
  // A double click or Enter on a folder that could not be opened.
  void OpenFailed(const QString& sFolder, long lNumber, const QString& sDescription);

 protected:
  void keyPressEvent(QKeyEvent* pEvent) override;
  void mousePressEvent(QMouseEvent* pEvent) override;
  void mouseReleaseEvent(QMouseEvent* pEvent) override;
  void mouseDoubleClickEvent(QMouseEvent* pEvent) override;

 private:
  void OpenEntry(int iIndex);

  std::string m_sRoot = "/";
  std::string m_sPath;
  std::vector<std::string> m_vsEntries;
  // The entry the left button's press highlighted while it is held; -1 when
  // no press is followed.
  int m_iPressIndex = -1;
};
