#include "cStringList.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "LibOrv.h"
#include "OrvError.h"

struct cStringListTestPeer {
  static const std::string& Text(const cStringList& o) { return o.m_sList; }
  static void SetText(cStringList& o, const std::string& s) { o.m_sList = s; }
  static std::string SetColumn(const std::string& sLine, long lCol, const std::string& sNew) {
    return cStringList::ListSetItem(sLine, "=", lCol, sNew);
  }
};
using Peer = cStringListTestPeer;

namespace {

const std::string kSettingsKey =
    "\xF6"
    "RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

cStringList ListOf(const std::string& s) {
  cStringList o;
  Peer::SetText(o, s);
  return o;
}

class TempDir {
 public:
  TempDir() {
    std::string s = (std::filesystem::temp_directory_path() / "cStringList_test.XXXXXX").string();
    if (::mkdtemp(s.data()) == nullptr) throw std::runtime_error("no temporary folder");
    m_path = s;
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  std::string File(const std::string& sName) const { return (m_path / sName).string(); }
  bool IsEmpty() const { return std::filesystem::is_empty(m_path); }

 private:
  std::filesystem::path m_path;
};

}  // namespace

TEST(cStringList, AddKeepsEveryItemEnded) {
  cStringList o;
  o.Add("a");
  EXPECT_EQ(Peer::Text(o), "a\r\n");
  o = ListOf("a");
  o.Add("b");
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\n");
  o.Add("");
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\n\r\n");
}

TEST(cStringList, NumberingReadsFirstItemAtOneOrLessAndEmptyBeyondTheEnd) {
  const cStringList o = ListOf("a\r\nb\r\n");
  EXPECT_EQ(o.GetItem(-5), "a");
  EXPECT_EQ(o.GetItem(0), "a");
  EXPECT_EQ(o.GetItem(1), "a");
  EXPECT_EQ(o.GetItem(2), "b");
  EXPECT_EQ(o.GetItem(3), "");
  EXPECT_EQ(o.GetItem(9), "");
  EXPECT_EQ(ListOf("a\r\nb").GetItem(2), "b");
  EXPECT_EQ(ListOf("a\r\r\nb\n").GetItem(2), "b\n");
}

TEST(cStringList, SetItemReplacesOrPads) {
  cStringList o = ListOf("a\r\nb\r\n");
  o.SetItem("X", 5);
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\n\r\n\r\nX\r\n");
  o = ListOf("a\r\nb");
  o.SetItem("X", 4);
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\n\r\nX\r\n");
  o = ListOf("a\r\nb\r\nc");
  o.SetItem("X", 0);
  o.SetItem("Y", 3);  // the last item gets its separator
  o.SetItem("Z", 2);
  EXPECT_EQ(Peer::Text(o), "X\r\nZ\r\nY\r\n");
}

TEST(cStringList, InsertPutsTheItemBeforeTheIndexedOne) {
  cStringList o = ListOf("a\r\nb\r\n");
  o.Insert("X", 1);
  o.Insert("Y", -1);
  EXPECT_EQ(Peer::Text(o), "Y\r\nX\r\na\r\nb\r\n");
  o.Insert("Z", 5);  // count + 1
  EXPECT_EQ(Peer::Text(o), "Y\r\nX\r\na\r\nb\r\nZ\r\n");
  o = ListOf("a\r\nb\r\n");
  o.Insert("M", 2);
  o.Insert("P", 6);
  EXPECT_EQ(Peer::Text(o), "a\r\nM\r\nb\r\n\r\n\r\nP\r\n");
}

TEST(cStringList, RemoveItem) {
  cStringList o = ListOf("a\r\nb\r\nc\r\n");
  o.RemoveItem(5);
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\nc\r\n");
  o.RemoveItem(4);  // count + 1: only the final separator goes
  EXPECT_EQ(Peer::Text(o), "a\r\nb\r\nc");
  o.RemoveItem(2);
  EXPECT_EQ(Peer::Text(o), "a\r\nc");
  o.RemoveItem(0);
  EXPECT_EQ(Peer::Text(o), "c");
  o.RemoveItem(1);
  EXPECT_EQ(Peer::Text(o), "");
  o.RemoveItem(1);
  EXPECT_EQ(Peer::Text(o), "");
}

TEST(cStringList, NamesMatchOnlyWholeAtLineStartsAndTheFirstLineWins) {
  cStringList o = ListOf("xftpurl=1\r\nFTPURL=0\r\nftpurlx=9\r\nk=ftpurl=8\r\nftpurl=2\r\nftpurl=3\r\n");
  EXPECT_EQ(o.GetValue("ftpurl"), "2");
  EXPECT_TRUE(o.ExistValue("ftpurl"));
  EXPECT_FALSE(o.ExistValue("ftpur"));
  EXPECT_FALSE(o.ExistValue("url"));
  o.SetValue("ftpurl", "new");
  EXPECT_EQ(Peer::Text(o), "xftpurl=1\r\nFTPURL=0\r\nftpurlx=9\r\nk=ftpurl=8\r\nftpurl=new\r\nftpurl=3\r\n");
  o.RemoveValue("ftpurl");
  EXPECT_EQ(Peer::Text(o), "xftpurl=1\r\nFTPURL=0\r\nftpurlx=9\r\nk=ftpurl=8\r\nftpurl=3\r\n");
  EXPECT_EQ(o.GetValue("ftpurl"), "3");
  EXPECT_EQ(ListOf("ftpurl=5").GetValue("ftpurl"), "5");
}

TEST(cStringList, DefaultsOnlyForMissingNames) {
  const cStringList o = ListOf("empty=\r\nfull=x\r\n");
  EXPECT_EQ(o.GetValue("missing", "dflt"), "dflt");
  EXPECT_EQ(o.GetValue("missing"), "");
  EXPECT_EQ(o.GetValue("empty", "dflt"), "");
  EXPECT_EQ(o.GetValue("full", "dflt"), "x");
}

TEST(cStringList, SetValueAppendsNewNamesAsFullLines) {
  cStringList o = ListOf("a=1");
  o.SetValue("name", "value");
  EXPECT_EQ(Peer::Text(o), "a=1\r\nname=value\r\n");
  o = ListOf("");
  o.SetValue("ftppwd", "p=w");
  EXPECT_EQ(Peer::Text(o), "ftppwd=p=w\r\n");
  o = ListOf("a=1\r\nb=2");
  o.SetValue("b", "");
  EXPECT_EQ(Peer::Text(o), "a=1\r\nb=\r\n");
}

TEST(cStringList, RemoveValueKeepsTheListEnded) {
  cStringList o = ListOf("a=1\r\nb=2");
  o.RemoveValue("b");
  EXPECT_EQ(Peer::Text(o), "a=1\r\n");
  o.RemoveValue("c");
  EXPECT_EQ(Peer::Text(o), "a=1\r\n");
  o.RemoveValue("a");
  EXPECT_EQ(Peer::Text(o), "");
  o = ListOf("a=1\r\nb=2\r\nc=3\r\n");
  o.RemoveValue("a");
  EXPECT_EQ(Peer::Text(o), "b=2\r\nc=3\r\n");
  o = ListOf("b=2");
  o.RemoveValue("b");
  EXPECT_EQ(Peer::Text(o), "");
}

TEST(cStringList, ColumnsAndParameterParts) {
  cStringList o = ListOf("ftppwd=s3cr=t\r\nplain\r\nname=old\r\n");
  EXPECT_EQ(o.GetValue("ftppwd"), "s3cr=t");
  EXPECT_EQ(o.GetParamValue(1), "s3cr=t");
  EXPECT_EQ(o.GetParamName(1), "ftppwd");
  EXPECT_EQ(o.GetSubItem(1, 2), "s3cr");
  EXPECT_EQ(o.GetSubItem(1, 3), "t");
  EXPECT_EQ(o.GetSubItem(1, 4), "");
  EXPECT_EQ(o.GetParamName(2), "plain");
  EXPECT_EQ(o.GetParamValue(2), "plain");
  o.SetSubItem(3, 2, "new");
  EXPECT_EQ(o.GetItem(3), "name=new=");
  o.SetSubItem(1, 1, "pwd");
  EXPECT_EQ(Peer::Text(o), "pwd=s3cr=t\r\nplain\r\nname=new=\r\n");
  EXPECT_EQ(Peer::SetColumn("a=b", 4, "X"), "a=b==X=");
}

TEST(cStringList, TextSearchAndReplace) {
  cStringList o = ListOf("aaa\r\nxax\r\n");
  EXPECT_EQ(o.FindString("xa"), 6);
  EXPECT_EQ(o.FindString("q"), 0);
  EXPECT_EQ(o.GetSeparatorCount(), 2);
  EXPECT_EQ(ListOf("\r\r\n\n\r\n").GetSeparatorCount(), 2);
  EXPECT_EQ(ListOf("").GetSeparatorCount(), 0);
  o.ReplaceAll("aa", "a");
  EXPECT_EQ(Peer::Text(o), "aa\r\nxax\r\n");
  o.ReplaceAll("a", "aa");  // the replacement is not searched again
  EXPECT_EQ(Peer::Text(o), "aaaa\r\nxaax\r\n");
  o.ReplaceAll("", "z");
  EXPECT_EQ(Peer::Text(o), "aaaa\r\nxaax\r\n");
}

TEST(cStringList, InsertAscending) {
  cStringList o = ListOf("2\r\n9\r\n12\r\n");
  o.InsertAscending("10");
  o.InsertAscending("12.0");  // after the equal 12
  o.InsertAscending("9.5");
  o.InsertAscending("-1");
  o.InsertAscending("2.00");
  EXPECT_EQ(Peer::Text(o), "-1\r\n2\r\n2.00\r\n9\r\n9.5\r\n10\r\n12\r\n12.0\r\n");
  for (const std::string s : {"5", "-5", "abc"}) {
    cStringList oEmpty;
    oEmpty.InsertAscending(s);
    EXPECT_EQ(Peer::Text(oEmpty), s + "\r\n");
  }
}

TEST(cStringList, StoreAndLoadRoundTrip) {
  TempDir dir;
  const std::string sFile = dir.File("OrvFtpUploader.cfg");
  const std::string sText = "ftpurl=ftp.example.org\r\nftpusr=alarm\r\nftppwd=s3cr=t\r\n";

  cStringList oPlain = ListOf(sText);
  EXPECT_TRUE(oPlain.Store(sFile));
  EXPECT_EQ(LibOrv_ReadFile(sFile), sText);

  cStringList o;
  EXPECT_TRUE(o.SetKey(kSettingsKey));
  o.SetValue("ftpurl", "ftp.example.org");
  o.SetValue("ftpusr", "alarm");
  o.SetValue("ftppwd", "s3cr=t");
  EXPECT_TRUE(o.Store(sFile));
  EXPECT_EQ(Peer::Text(o), sText);
  const std::string sDisk = LibOrv_ReadFile(sFile);
  std::string sCipher = sText;
  cSEC oSEC;
  oSEC.SetKey(kSettingsKey);
  oSEC.Encode(sCipher);
  EXPECT_EQ(sDisk, sCipher);
  EXPECT_EQ(sDisk.find("ftppwd"), std::string::npos);
  EXPECT_EQ(sDisk.find("s3cr"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(sFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  cStringList oBack;
  oBack.SetKey(kSettingsKey);
  EXPECT_TRUE(oBack.Load(sFile, true));
  EXPECT_EQ(Peer::Text(oBack), sText);
  oBack.SetValue("ftppwd", "");
  EXPECT_TRUE(oBack.Store());  // to the name given at loading
  cStringList oAgain;
  oAgain.SetKey(kSettingsKey);
  EXPECT_TRUE(oAgain.Load(sFile));
  EXPECT_EQ(oAgain.GetValue("ftppwd", "none"), "");
  EXPECT_EQ(oAgain.GetValue("ftpusr"), "alarm");
}

// Changed() tells the caller whether the file needs writing.
TEST(cStringList, ChangedOnlyWhenTheTextDiffersFromTheFile) {
  TempDir dir;
  const std::string sFile = dir.File("OrvFtpUploader.cfg");
  cStringList o = ListOf("ftpurl=srv\r\nftpusr=usr\r\n");
  o.SetKey(kSettingsKey);
  EXPECT_TRUE(o.Store(sFile));
  EXPECT_FALSE(o.Changed());

  cStringList oRun;
  oRun.SetKey(kSettingsKey);
  ASSERT_TRUE(oRun.Load(sFile));
  EXPECT_FALSE(oRun.Changed());
  oRun.SetValue("ftpurl", "srv");
  oRun.SetItem("ftpusr=usr", 2);
  oRun.ReplaceAll("srv", "srv");
  oRun.RemoveValue("missing");
  EXPECT_FALSE(oRun.Changed());
  oRun.SetValue("ftppwd", "");  // a new name, even with an empty value
  EXPECT_TRUE(oRun.Changed());
  EXPECT_TRUE(oRun.Store());
  EXPECT_FALSE(oRun.Changed());
  oRun.SetValue("ftpusr", "other");
  EXPECT_TRUE(oRun.Changed());
  oRun.SetValue("ftpusr", "usr");  // back as it was: still to be written, as far as the list knows
  EXPECT_TRUE(oRun.Changed());

  // A file that does not decipher, and one that is not there.
  cStringList oOther;
  oOther.SetKey("another key");
  EXPECT_FALSE(oOther.Load(sFile));
  EXPECT_TRUE(oOther.Changed());
  cStringList oMissing;
  EXPECT_THROW(oMissing.Load(dir.File("missing.cfg")), OrvError);
  EXPECT_TRUE(oMissing.Changed());
}

TEST(cStringList, LoadThatDoesNotDecipherLeavesAnEmptyList) {
  TempDir dir;
  const std::string sFile = dir.File("x.cfg");
  cStringList o = ListOf("a=1\r\n");
  o.SetKey("first key");
  o.Store(sFile);
  cStringList oOther = ListOf("old\r\n");
  oOther.SetKey("other key");
  EXPECT_FALSE(oOther.Load(sFile));
  EXPECT_EQ(Peer::Text(oOther), "");
  LibOrv_WriteFile("", sFile);
  cStringList oEmpty = ListOf("old\r\n");
  oEmpty.SetKey(kSettingsKey);
  EXPECT_FALSE(oEmpty.Load(sFile));
  EXPECT_EQ(Peer::Text(oEmpty), "");
}

// A settings file longer than any the program writes, or one that is no
// regular file, holds no list; it is neither read whole nor waited for.
TEST(cStringList, ALoadOfAFileTooLongOrNotRegularLeavesAnEmptyList) {
  TempDir dir;
  const std::string sLong = dir.File("long.cfg");
  cStringList oBig;
  oBig.SetKey(kSettingsKey);
  oBig.SetValue("ftpusr", "big");
  oBig.SetValue("pad", std::string(cStringList::kMaxFileSize, 'p'));
  ASSERT_TRUE(oBig.Store(sLong));
  const std::string sSparse = dir.File("sparse.cfg");
  LibOrv_WriteFile("", sSparse);
  ASSERT_EQ(::truncate(sSparse.c_str(), off_t{1} << 30), 0);  // 1 GiB that takes no room on the disk
  const std::string sFifo = dir.File("fifo.cfg");
  ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);

  struct rusage ruBefore {
  }, ruAfter{};
  ::getrusage(RUSAGE_SELF, &ruBefore);
  for (const std::string& sFile : {sLong, sSparse, sFifo}) {
    SCOPED_TRACE(sFile);
    cStringList o = ListOf("old\r\n");
    o.SetKey(kSettingsKey);
    EXPECT_FALSE(o.Load(sFile));
    EXPECT_TRUE(Peer::Text(o).empty()) << Peer::Text(o).size() << " bytes in the list";
    EXPECT_TRUE(o.Changed());
  }
  ::getrusage(RUSAGE_SELF, &ruAfter);
  EXPECT_LT(ruAfter.ru_maxrss - ruBefore.ru_maxrss, 64 * 1024) << "KiB more at the peak";
}

TEST(cStringList, StoreWithoutAnyFileNameWritesNothing) {
  TempDir dir;
  cStringList o = ListOf("a\r\n");
  EXPECT_FALSE(o.Store());
  EXPECT_TRUE(dir.IsEmpty());
}

TEST(cStringList, FileErrorsTravelToTheCaller) {
  TempDir dir;
  cStringList o = ListOf("kept\r\n");
  try {
    o.Load(dir.File("missing.cfg"));
    FAIL() << "no error";
  } catch (const OrvError& e) {
    EXPECT_EQ(e.Number(), OrvError::kFileNotFound);
  }
  EXPECT_EQ(Peer::Text(o), "kept\r\n");
  EXPECT_TRUE(o.Store());  // the failed Load still took the name
  EXPECT_EQ(LibOrv_ReadFile(dir.File("missing.cfg")), "kept\r\n");

  cStringList oNoName;
  EXPECT_THROW(oNoName.Load(), OrvError);
  EXPECT_THROW(o.Store(dir.File("no/such/folder.cfg")), OrvError);
}
