#include "LibOrv.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "OrvError.h"
#include "RecordingApp.h"
#include "TempFolder.h"

namespace {

const std::string kOverflowText =
    "\xC3\x9C"
    "berlauf: Mehr als 1000 Eintr\xC3\xA4ge k\xC3\xB6nnen nicht bearbeitet werden!";

long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const OrvError& e) {
    return e.Number();
  }
  return 0;
}

TEST(LibOrvText, CutAtNull) {
  EXPECT_EQ(LibOrv_CutAtNull("abc"), "abc");
  EXPECT_EQ(LibOrv_CutAtNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(LibOrv_CutAtNull(std::string("ab\0c\0", 5)), "ab");
}

TEST(LibOrvText, MaxReturnsSecondOnTie) {
  EXPECT_EQ(LibOrv_Max(0, -5), 0);
  EXPECT_EQ(LibOrv_Max(-5, 0), 0);
  EXPECT_DOUBLE_EQ(LibOrv_Max(2.5, 2.0), 2.5);
  // On a tie the second value comes back, with its own sign of zero.
  EXPECT_TRUE(std::signbit(LibOrv_Max(0.0, -0.0)));
}

TEST(LibOrvText, DecodeEscapes) {
  EXPECT_EQ(LibOrv_DecodeEscapes("line1\\nline2"), "line1\nline2");
  EXPECT_EQ(LibOrv_DecodeEscapes("a\\rb\\tc\\bd\\ee"),
            "a\rb\tc\bd\x1b"
            "e");
  EXPECT_EQ(LibOrv_DecodeEscapes("a\\qb"), "a\\qb");
  EXPECT_EQ(LibOrv_DecodeEscapes("end\\"), "end\\");
  EXPECT_EQ(LibOrv_DecodeEscapes("no escapes"), "no escapes");
  // A decoded backslash is not read again as the start of an escape.
  EXPECT_EQ(LibOrv_DecodeEscapes("\\\\n"), "\\n");
  EXPECT_EQ(LibOrv_DecodeEscapes("\\\\\\n"), "\\\n");
  EXPECT_EQ(LibOrv_DecodeEscapes("\\q\\n"), "\\q\n");
}

TEST(LibOrvExtract, FieldsAndNegativeIndexes) {
  RecordingApp app;
  EXPECT_EQ(LibOrv_Extract("a/b/c", "/", 0), "a");
  EXPECT_EQ(LibOrv_Extract("a/b/c", "/", 1), "b");
  EXPECT_EQ(LibOrv_Extract("a/b/c", "/", -1), "c");
  EXPECT_EQ(LibOrv_Extract("a/b/c", "/", -3), "a");
  EXPECT_EQ(LibOrv_Extract("a/b/c", "/", 3), "");
  EXPECT_EQ(LibOrv_Extract("a/b/", "/", -1), "");
  EXPECT_EQ(LibOrv_Extract("abc", "/", -1), "abc");
  EXPECT_EQ(LibOrv_Extract("C:\\dir\\file.txt", "\\", -1), "file.txt");
  EXPECT_EQ(LibOrv_Extract("/pub/in/", "/", -1), "");
  EXPECT_EQ(LibOrv_Extract("a::b::c", "::x", 1), "");
  EXPECT_EQ(LibOrv_Extract("a::xb", "::x", 1), "b");
  EXPECT_EQ(LibOrv_Extract("", "/", 0), "");
  EXPECT_TRUE(app.messages.empty());
}

TEST(LibOrvExtract, IndexBeyondTheFirstFieldFails) {
  RecordingApp app;
  EXPECT_EQ(ErrorNumberOf([] { LibOrv_Extract("a/b", "/", -3); }), OrvError::kSubscriptOutOfRange);
}

TEST(LibOrvExtract, TwoCharacterSeparatorAlternates) {
  RecordingApp app;
  EXPECT_EQ(LibOrv_Extract("a(b)c", "()", 0), "a");
  EXPECT_EQ(LibOrv_Extract("a(b)c", "()", 1), "b");
  EXPECT_EQ(LibOrv_Extract("a(b)c", "()", 2), "c");
  // Never searched for as a unit: "()" in the text is an empty field.
  EXPECT_EQ(LibOrv_Extract("x()y", "()", 1), "");
  EXPECT_EQ(LibOrv_Extract("x()y", "()", 2), "y");
  // A closing mark before the first opening one is plain text.
  EXPECT_EQ(LibOrv_Extract("a)b(c)d", "()", 0), "a)b");
}

TEST(LibOrvExtract, DelimiterLimit) {
  RecordingApp app;
  std::string s998;
  for (int i = 0; i <= 998; ++i) s998 += (i ? "/" : "") + std::to_string(i);
  EXPECT_EQ(LibOrv_Extract(s998, "/", -1), "998");
  EXPECT_EQ(LibOrv_Extract(s998, "/", 500), "500");
  EXPECT_TRUE(app.messages.empty());

  std::string s999 = s998 + "/999";
  EXPECT_EQ(LibOrv_Extract(s999, "/", 0), "");
  EXPECT_EQ(LibOrv_Extract(s999, "/", -1), "");
  ASSERT_EQ(app.messages.size(), 2u);
  EXPECT_EQ(app.messages[0].m, 1);
  EXPECT_EQ(app.messages[0].sModule, "LibOrv_Extract");
  EXPECT_EQ(app.messages[0].sMsg, kOverflowText);
  EXPECT_EQ(app.messages[0].sAction, "");
  EXPECT_EQ(app.messages[0].lErrNumber, 0);
}

TEST(LibOrvExtract, EmptyDelimiterOverflows) {
  RecordingApp app;
  EXPECT_EQ(LibOrv_Extract("abc", "", 0), "");
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_EQ(app.messages[0].sMsg, kOverflowText);
  // On an empty text nothing is found, so there is no warning.
  EXPECT_EQ(LibOrv_Extract("", "", 0), "");
  EXPECT_EQ(app.messages.size(), 1u);
}

TEST(LibOrvPath, GetPathAndFileNameOnBothSeparators) {
  EXPECT_EQ(LibOrv_GetPath("/pub/in/x.jpg"), "/pub/in/");
  EXPECT_EQ(LibOrv_GetFileName("/pub/in/x.jpg"), "x.jpg");
  EXPECT_EQ(LibOrv_GetPath("C:\\alarm\\cam1.jpg"), "C:\\alarm\\");
  EXPECT_EQ(LibOrv_GetFileName("C:\\alarm\\cam1.jpg"), "cam1.jpg");
  EXPECT_EQ(LibOrv_GetPath("C:\\mixed/dir\\f.txt"), "C:\\mixed/dir\\");
  EXPECT_EQ(LibOrv_GetPath("file.txt"), "");
  EXPECT_EQ(LibOrv_GetFileName("file.txt"), "file.txt");
  EXPECT_EQ(LibOrv_GetFileName("/pub/in/"), "");
  EXPECT_EQ(LibOrv_GetPath("/"), "/");
}

TEST(LibOrvPath, RemotePathsSplitAtSlashOnly) {
  EXPECT_EQ(LibOrv_GetRemoteFolder("/in/back\\..\\..\\evilbs"), "/in/");
  EXPECT_EQ(LibOrv_GetRemoteName("/in/back\\..\\..\\evilbs"), "back\\..\\..\\evilbs");
  EXPECT_EQ(LibOrv_GetRemoteFolder("/pub/in/"), "/pub/in/");
  EXPECT_EQ(LibOrv_GetRemoteName("/pub/in/"), "");
  EXPECT_EQ(LibOrv_GetRemoteFolder("a\\b"), "");
  EXPECT_EQ(LibOrv_GetRemoteName("a\\b"), "a\\b");
}

TEST(LibOrvNumber, String2LongFollowsTheRuntime) {
  EXPECT_EQ(LibOrv_String2Long("21"), 21);
  EXPECT_EQ(LibOrv_String2Long("  2 1 "), 21);
  EXPECT_EQ(LibOrv_String2Long("\t-42\n"), -42);
  EXPECT_EQ(LibOrv_String2Long("12abc"), 12);
  EXPECT_EQ(LibOrv_String2Long("abc"), 0);
  EXPECT_EQ(LibOrv_String2Long(""), 0);
  EXPECT_EQ(LibOrv_String2Long("&H1F"), 31);
  EXPECT_EQ(LibOrv_String2Long("&o17"), 15);
  EXPECT_EQ(LibOrv_String2Long("&HFFFF"), -1);
  EXPECT_EQ(LibOrv_String2Long("&H10000"), 65536);
  EXPECT_EQ(LibOrv_String2Long("2.5"), 2);
  EXPECT_EQ(LibOrv_String2Long("3.5"), 4);
  EXPECT_EQ(LibOrv_String2Long("-2.5"), -2);
  EXPECT_EQ(LibOrv_String2Long("2.51"), 3);
  EXPECT_EQ(LibOrv_String2Long("1e3"), 1000);
  EXPECT_EQ(LibOrv_String2Long("1.5.5"), 2);
  EXPECT_EQ(LibOrv_String2Long("2147483647"), 2147483647L);
  EXPECT_EQ(LibOrv_String2Long("-2147483648"), -2147483648L);
  EXPECT_EQ(ErrorNumberOf([] { LibOrv_String2Long("2147483648"); }), OrvError::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { LibOrv_String2Long("-2147483649"); }), OrvError::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { LibOrv_String2Long("&H1FFFFFFFF"); }), OrvError::kOverflow);
}

// Qt sets the locale from the environment at start; under a German one the
// C library writes and reads numbers with a decimal comma.
TEST(LibOrvNumber, TheDecimalPointIsADotUnderAnyLocale) {
  const std::string sBefore = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the locale de_DE.UTF-8 is missing; scripts/install-deps.sh makes it "
         "(localedef -i de_DE -f UTF-8 de_DE.UTF-8)";
  const double dComma = std::strtod("0,5", nullptr);
  EXPECT_EQ(LibOrv_Val("99.6"), 99.6);
  EXPECT_EQ(LibOrv_Val(" -1 2.5e1"), -125.0);
  EXPECT_EQ(LibOrv_Val("1,5"), 1.0);
  EXPECT_EQ(LibOrv_String2Long("2.51"), 3);
  EXPECT_EQ(LibOrv_String2Long("3.5"), 4);
  EXPECT_EQ(LibOrv_String2Long("2.5"), 2);
  EXPECT_TRUE(LibOrv_IsNumeric("99.6"));
  std::setlocale(LC_NUMERIC, sBefore.c_str());
  EXPECT_EQ(dComma, 0.5) << "the locale was in effect";
}

TEST(LibOrvNumber, IsNumeric) {
  EXPECT_TRUE(LibOrv_IsNumeric("21"));
  EXPECT_TRUE(LibOrv_IsNumeric(" 21 "));
  EXPECT_TRUE(LibOrv_IsNumeric("&H15"));
  EXPECT_FALSE(LibOrv_IsNumeric(""));
  EXPECT_FALSE(LibOrv_IsNumeric("2a"));
  EXPECT_FALSE(LibOrv_IsNumeric("   "));
}

class LibOrvFiles : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string Path(const std::string& s) { return dir.Path() + "/" + s; }
};

TEST_F(LibOrvFiles, WriteOverALongerFileLeavesExactlyTheNewContent) {
  std::string sName = Path("f.bin");
  LibOrv_WriteFile(std::string(10000, 'x'), sName);
  std::string sAllBytes;
  for (int i = 0; i < 256; ++i) sAllBytes += static_cast<char>(i);
  LibOrv_WriteFile(sAllBytes, sName);
  EXPECT_EQ(LibOrv_ReadFile(sName), sAllBytes);
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(LibOrvFiles, WriteOverAReadOnlyFileFailsAndKeepsTheOldContent) {
  std::string sName = Path("ro.txt");
  LibOrv_WriteFile("old", sName);
  ASSERT_EQ(::chmod(sName.c_str(), 0444), 0);
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_WriteFile("new", sName); }), OrvError::kPermissionDenied);
  EXPECT_EQ(LibOrv_ReadFile(sName), "old");
}

TEST_F(LibOrvFiles, WriteIntoAMissingFolderFails) {
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_WriteFile("x", Path("no/such/file")); }), OrvError::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_WriteFile("x", dir.Path()); }), OrvError::kPathFileAccess);
}

TEST_F(LibOrvFiles, WriteKeepsOrRestrictsTheMode) {
  std::string sName = Path("m.txt");
  LibOrv_WriteFile("a", sName);
  ASSERT_EQ(::chmod(sName.c_str(), 0640), 0);
  LibOrv_WriteFile("b", sName);
  struct stat st {};
  ASSERT_EQ(::stat(sName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  LibOrv_WriteFile("c", sName, true);
  ASSERT_EQ(::stat(sName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LibOrvFiles, WriteThatRunsOutOfSpaceFailsAndKeepsTheOldContent) {
  std::string sName = Path("keep.txt");
  LibOrv_WriteFile("old content", sName);
  // A file size limit makes the write fail the way a full disk does.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  long lNumber = ErrorNumberOf([&] { LibOrv_WriteFile(std::string(100000, 'n'), sName); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(lNumber, OrvError::kDiskFull);
  EXPECT_EQ(LibOrv_ReadFile(sName), "old content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(LibOrvFiles, ReadMissingEmptyAndFolder) {
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_ReadFile(Path("missing")); }), OrvError::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_ReadFile(Path("nodir/missing")); }), OrvError::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_ReadFile(dir.Path()); }), OrvError::kPathFileAccess);
  std::ofstream(Path("empty")).close();
  EXPECT_EQ(LibOrv_ReadFile(Path("empty")), "");
  std::string sInto = "previous";
  LibOrv_ReadFileInto(sInto, Path("empty"));
  EXPECT_EQ(sInto, "");
}

TEST_F(LibOrvFiles, ReadUpToALimitRefusesLongerAndSpecialFiles) {
  std::string sData = "previous";
  LibOrv_WriteFile("12345", Path("five"));
  EXPECT_TRUE(LibOrv_ReadFileUpTo(sData, Path("five"), 5));
  EXPECT_EQ(sData, "12345");
  EXPECT_FALSE(LibOrv_ReadFileUpTo(sData, Path("five"), 4));
  EXPECT_EQ(sData, "");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  sData = "previous";
  EXPECT_FALSE(LibOrv_ReadFileUpTo(sData, Path("fifo"), 5));
  EXPECT_EQ(sData, "");
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_ReadFileUpTo(sData, Path("missing"), 5); }), OrvError::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LibOrv_ReadFileUpTo(sData, dir.Path(), 5); }), OrvError::kPathFileAccess);
}

TEST_F(LibOrvFiles, ErrorsCarryTheRuntimeDescriptions) {
  try {
    LibOrv_ReadFile(Path("missing"));
    FAIL();
  } catch (const OrvError& e) {
    EXPECT_EQ(e.Description(), "File not found");
    EXPECT_EQ(e.Source(), "LibOrv_ReadFile");
  }
  EXPECT_EQ(OrvError::StandardDescription(54), "Bad file mode");
  EXPECT_EQ(OrvError::StandardDescription(70), "Permission denied");
  EXPECT_EQ(OrvError::StandardDescription(75), "Path/File access error");
  EXPECT_EQ(OrvError::StandardDescription(61), "Disk full");
  EXPECT_EQ(OrvError::StandardDescription(76), "Path not found");
  EXPECT_EQ(OrvError::StandardDescription(6), "Overflow");
}

struct Counted {
  int iValue = 7;
};

TEST(LibOrvObjects, HandlesAreNonOwning) {
  EXPECT_EQ(LibOrv_ObjToPtr(std::shared_ptr<Counted>()), 0);
  EXPECT_EQ(LibOrv_PtrToObj<Counted>(0), nullptr);

  auto o = std::make_shared<Counted>();
  long lPtr = LibOrv_ObjToPtr(o);
  EXPECT_NE(lPtr, 0);
  EXPECT_EQ(o.use_count(), 1);
  EXPECT_EQ(LibOrv_ObjToPtr(o), lPtr);
  {
    auto back = LibOrv_PtrToObj<Counted>(lPtr);
    EXPECT_EQ(back.get(), o.get());
    EXPECT_EQ(o.use_count(), 2);
  }
  EXPECT_EQ(o.use_count(), 1);

  auto other = std::make_shared<Counted>();
  EXPECT_NE(LibOrv_ObjToPtr(other), lPtr);
  o.reset();
  EXPECT_EQ(LibOrv_PtrToObj<Counted>(lPtr), nullptr);
  // A later object never takes over the handle of an ended one.
  auto third = std::make_shared<Counted>();
  EXPECT_NE(LibOrv_ObjToPtr(third), lPtr);
  EXPECT_EQ(LibOrv_PtrToObj<Counted>(lPtr), nullptr);
}

}  // namespace
