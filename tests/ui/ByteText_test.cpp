// Byte strings to widget texts and back: every byte string comes back
// unchanged, well-formed UTF-8 reads as its characters.
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ByteText.h"

namespace {

QString Utf16(std::initializer_list<char16_t> vc) {
  QString s;
  for (char16_t c : vc) s.append(QChar(c));
  return s;
}

TEST(ByteText, EverySingleByteComesBack) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string s(1, static_cast<char>(b));
    const QString q = ByteText_FromBytes(s);
    ASSERT_EQ(q.size(), 1);
    // ASCII is itself; any other byte alone is no UTF-8 and stands as U+DC80..U+DCFF.
    EXPECT_EQ(q[0].unicode(), b < 0x80 ? b : 0xDC00 + b);
    EXPECT_EQ(ByteText_ToBytes(q), s);
  }
}

TEST(ByteText, IllFormedUtf8ComesBackByteForByte) {
  const std::vector<std::string> vs = {
      "caf\xE9.txt",                   // Latin-1
      "d\xE9p\xF4t",                   //
      "\xE2\x82",                      // cut short
      "\xE2\x82" "A",                  //
      "\xF0\x9F\x98",                  //
      "\x80\xBF",                      // continuation bytes without a start
      "\xC0\xAF",                      // overlong "/"
      "\xE0\x80\xAF",                  //
      "\xF0\x80\x80\xAF",              //
      "\xED\xA0\x80",                  // a surrogate written as UTF-8
      "\xED\xB3\xA9",                  // ... the very one that stands for the byte E9
      "\xED\xA0\xBD\xED\xB8\x80",      // a surrogate pair written as UTF-8
      "\xF4\x90\x80\x80",              // beyond U+10FFFF
      "\xF5\x80\x80\x80",              //
      "\xFE\xFF\xFF\xFE",              //
      "a\xC3\xA4\xE9\xC3\xB6\xF0\x9F\x98\x80\xE9",  // mixed with well-formed characters
  };
  for (const std::string& s : vs) {
    SCOPED_TRACE(s);
    EXPECT_EQ(ByteText_ToBytes(ByteText_FromBytes(s)), s);
  }
  EXPECT_EQ(ByteText_FromBytes("\xED\xB3\xA9"), Utf16({0xDCED, 0xDCB3, 0xDCA9}));
  EXPECT_EQ(ByteText_FromBytes("\xE2\x82" "A"), Utf16({0xDCE2, 0xDC82, u'A'}));

  std::mt19937 gen(7);
  for (int i = 0; i < 20000; ++i) {
    std::string s(gen() % 12, '\0');
    for (char& c : s) c = static_cast<char>(gen() % 4 == 0 ? 0x80 + gen() % 0x80 : gen() % 0x100);
    ASSERT_EQ(ByteText_ToBytes(ByteText_FromBytes(s)), s) << testing::PrintToString(s);
  }
}

TEST(ByteText, WellFormedUtf8ReadsAsItsCharacters) {
  for (const std::string& s : {std::string(""), std::string("readme.txt"), std::string("B\xC3\xBCro \xE2\x82\xAC"),
                               std::string("\xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"),
                               std::string("nul\0byte", 8)}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(ByteText_FromBytes(s), QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
    EXPECT_EQ(ByteText_ToBytes(ByteText_FromBytes(s)), s);
  }
  // A name may begin with a byte order mark; it stays part of the name.
  EXPECT_EQ(ByteText_FromBytes("\xEF\xBB\xBF" "a"), Utf16({0xFEFF, u'a'}));
  EXPECT_EQ(ByteText_ToBytes(Utf16({0xFEFF, u'a'})), "\xEF\xBB\xBF" "a");
  // A pair whose second half lies in the escape range is a character.
  EXPECT_EQ(ByteText_ToBytes(Utf16({0xD800, 0xDC80})), "\xF0\x90\x82\x80");
  // Other unpaired surrogates are no bytes of a name; written as Qt writes them.
  EXPECT_EQ(ByteText_ToBytes(Utf16({u'a', 0xD800, u'b'})), Utf16({u'a', 0xD800, u'b'}).toUtf8().toStdString());
}

// A path field keeps what it is given, and draws a mark where a byte is no
// UTF-8.
TEST(ByteText, ALineEditKeepsTheBytesAndShowsAMarkForEach) {
  const std::string sPath = "/d\xE9p\xF4t/caf\xE9.txt";
  QLineEdit oEdit;
  oEdit.resize(300, 24);
  oEdit.setText(ByteText_FromBytes(sPath));
  oEdit.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&oEdit));
  EXPECT_EQ(ByteText_ToBytes(oEdit.text()), sPath);
  EXPECT_FALSE(oEdit.grab().isNull());
  const QFontMetrics oMetrics(oEdit.font());
  EXPECT_GT(oMetrics.horizontalAdvance(oEdit.text()), oMetrics.horizontalAdvance(QStringLiteral("/dpt/caf.txt")));
}

}  // namespace
