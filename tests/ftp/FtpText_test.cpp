#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FtpText.h"

using ::testing::ElementsAre;

namespace {

std::vector<std::string> Names(const FtpListing& listing, FtpListing::Kind eKind) {
  std::vector<std::string> asNames;
  for (const FtpListing::Entry& entry : listing.aEntries)
    if (entry.eKind == eKind) asNames.push_back(entry.sName);
  return asNames;
}

// The files' sizes and times of change, in listing order.
std::vector<std::pair<int64_t, int64_t>> FileFacts(const FtpListing& listing) {
  std::vector<std::pair<int64_t, int64_t>> aFacts;
  for (const FtpListing::Entry& entry : listing.aEntries)
    if (entry.eKind == FtpListing::Kind::kFile) aFacts.emplace_back(entry.lSize, entry.lModified);
  return aFacts;
}

using Facts = std::pair<int64_t, int64_t>;

}  // namespace

TEST(FtpMlsdParserTest, ReadsTypesAndNamesAcrossPieces) {
  FtpListing listing;
  MlsdParser parser(listing);
  const std::string sReply =
      "type=cdir;modify=20260101000000; /top\r\n"
      "type=pdir;modify=20260101000000; /\r\n"
      "Type=DIR;Size=0; a folder; with semicolon\r\n"
      "type=file;size=3;modify=20261208101112.5;perm=r; file  two.txt\r\n"
      "type=OS.unix=slink:/x;size=1; link\n"
      "type=OS.unix=symlink;size=1; other link\n"
      "garbage-without-space\r\n"
      "type=file;size=1; last";
  // Fed in awkward pieces, as the network may deliver it.
  for (std::size_t i = 0; i < sReply.size(); i += 7)
    parser.Feed(sReply.data() + i, std::min<std::size_t>(7, sReply.size() - i));
  parser.Finish();
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFolder), ElementsAre(".", "..", "a folder; with semicolon"));
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFile), ElementsAre("file  two.txt", "last"));
  EXPECT_THAT(Names(listing, FtpListing::Kind::kLink), ElementsAre("link", "other link"));
  EXPECT_THAT(FileFacts(listing), ElementsAre(Facts(3, 1796724672), Facts(1, -1)));
}

TEST(FtpListParserTest, ReadsUnixAndWindowsLinesAcrossPieces) {
  FtpListing listing;
  FtpListParser parser(listing);
  parser.SetNow(1796817600);  // 2026-12-09 12:00 UTC
  const std::string sReply =
      "total 12\r\n"
      "drwxr-xr-x    2 1001     0            4096 Dec 08 16:12 d 1\r\n"
      "-rw-r--r--    1 ftp      ftp            12 Jan  1  2025  lead.txt\r\n"
      "lrwxrwxrwx    1 ftp      ftp             5 Dec 08 16:12 to dir -> d 1\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Dec 08 16:12 .\r\n"
      "12-08-26  10:00AM       <DIR>          Win Folder\r\n"
      "12-08-2026  09:15PM              1,234 win file.txt\r\n"
      "-rw-r--r--    1 ftp      ftp             7 Dec 31 23:59 late.txt\r\n"
      "-rw-r--r-- 1 too few fields\r\n"
      "-rw-r--r--    1 ftp      ftp             1 Dec 08 16:12 \xE4rger.txt";
  for (std::size_t i = 0; i < sReply.size(); i += 7)
    parser.Feed(sReply.data() + i, std::min<std::size_t>(7, sReply.size() - i));
  parser.Finish();
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFolder), ElementsAre("d 1", "Win Folder"));
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFile),
              ElementsAre(" lead.txt", "win file.txt", "late.txt", "\xE4rger.txt"));
  EXPECT_THAT(Names(listing, FtpListing::Kind::kLink), ElementsAre("to dir"));
  // A date without a year lies in the last twelve months: Dec 31 is last
  // year's on Dec 9.
  EXPECT_THAT(FileFacts(listing),
              ElementsAre(Facts(12, 1735689600), Facts(1234, 1796764500), Facts(7, 1767225540), Facts(1, 1796746320)));
}

TEST(FtpUrlTest, PathsAreEncodedAndAbsolutePathsStartAtTheRoot) {
  EXPECT_EQ(FtpUrlPath("/a b/\xC3\xBC%#?;.txt"), "/%2Fa%20b/%C3%BC%25%23%3F%3B.txt");
  EXPECT_EQ(FtpUrlPath("/"), "/%2F/");
  EXPECT_EQ(FtpUrlPath("/x.txt"), "/%2F/x.txt");
  EXPECT_EQ(FtpUrlPath("rel/x/"), "/rel/x/");
  EXPECT_EQ(FtpUrlPath(""), "/");
}

TEST(FtpUrlTest, HostsMustBePlainHosts) {
  EXPECT_EQ(FtpUrlHost("ftp.example.org"), "ftp.example.org");
  EXPECT_EQ(FtpUrlHost("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(FtpUrlHost("::1"), "[::1]");
  EXPECT_EQ(FtpUrlHost("[::1]"), "[::1]");
  EXPECT_EQ(FtpUrlHost("fe80::1%eth0"), "[fe80::1%25eth0]");
  for (const char* sBad : {"", "a b", "user@host", "host:2121", "host/path", "host?x", "host#x", "[::1"})
    EXPECT_EQ(FtpUrlHost(sBad), std::nullopt) << sBad;
}

TEST(FtpMlsdParserTest, NamesThatAreNoPlainNamesAreLeftOutAndCounted) {
  FtpListing listing;
  MlsdParser parser(listing);
  const char kReply[] =
      "type=file;size=1; ../../evil.txt\r\n"
      "type=file;size=1; /etc/evil\r\n"
      "type=dir; a/b\r\n"
      "type=file;size=1; back\\..\\..\\evilbs\r\n"
      "type=file;size=1; cr\rname.txt\r\n"
      "type=file;size=1; nul\0name.txt\r\n"
      "type=file;size=1; ..\r\n"
      "type=OS.unix=slink; .\r\n"
      "type=file;size=1; good.txt\r\n";
  const std::string sReply(kReply, sizeof kReply - 1);
  parser.Feed(sReply.data(), sReply.size());
  parser.Finish();
  // "\" is part of a name; nothing is cut or changed into another name.
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFile), ElementsAre("back\\..\\..\\evilbs", "good.txt"));
  EXPECT_THAT(Names(listing, FtpListing::Kind::kFolder), ElementsAre());
  EXPECT_THAT(Names(listing, FtpListing::Kind::kLink), ElementsAre());
  EXPECT_EQ(listing.lLeftOut, 7u);

  FtpListing unix;
  FtpListParser listParser(unix);
  const std::string sList =
      "-rw-r--r--    1 ftp      ftp             1 Dec 08 16:12 x/y\r\n"
      "-rw-r--r--    1 ftp      ftp             1 Dec 08 16:12 plain\r\n";
  listParser.Feed(sList.data(), sList.size());
  listParser.Finish();
  EXPECT_THAT(Names(unix, FtpListing::Kind::kFile), ElementsAre("plain"));
  EXPECT_EQ(unix.lLeftOut, 1u);
}

TEST(FtpLineParserTest, ListingsBeyondTheirBoundsStopWithTheReason) {
  const auto fnFeed = [](FtpLineParser& parser, const std::string& s, std::size_t lTimes) {
    for (std::size_t i = 0; i < lTimes; ++i)
      if (!parser.Feed(s.data(), s.size())) return i;
    return lTimes;
  };
  {
    // A line of the bound is read; one byte more, in pieces, is not.
    FtpListing listing;
    MlsdParser parser(listing);
    const std::string sLine = "type=file; " + std::string(kFtpMaxListingLine - 11, 'n');
    EXPECT_EQ(fnFeed(parser, sLine + "\n", 1), 1u);
    EXPECT_EQ(fnFeed(parser, sLine, 1), 1u);
    EXPECT_EQ(fnFeed(parser, "n", 1), 0u);
    EXPECT_EQ(parser.Overflow(), "a line of the listing is longer than 65536 bytes");
    EXPECT_EQ(listing.aEntries.size(), 1u);
    parser.Reset();
    EXPECT_TRUE(parser.Overflow().empty());
  }
  {
    // 200,000 entries of a real folder list; more lines than the bound do
    // not, however short.
    FtpListing listing;
    MlsdParser parser(listing);
    const std::string sEntries = "type=file;size=123456;modify=20261208100000;perm=adfrw; camera-0001-x.jpg\r\n";
    EXPECT_EQ(fnFeed(parser, sEntries, 200000), 200000u);
    EXPECT_EQ(listing.aEntries.size(), 200000u);
    EXPECT_EQ(fnFeed(parser, "\n", kFtpMaxListingLines), kFtpMaxListingLines - 200000);
    EXPECT_EQ(parser.Overflow(), "the listing has more than 1000000 lines");
  }
  {
    FtpListing listing;
    FtpListParser parser(listing);
    const std::string sLongLines = std::string(1023, 'x') + "\n";
    EXPECT_EQ(fnFeed(parser, sLongLines, 100000), kFtpMaxListingBytes / sLongLines.size());
    EXPECT_EQ(parser.Overflow(), "the listing is longer than 67108864 bytes");
  }
}
