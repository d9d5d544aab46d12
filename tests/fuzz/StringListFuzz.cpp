// The string list on any file and any sequence of operations. The list is
// watched through its lines (the text cut at every CR LF): each operation
// must change exactly the lines it addresses, and loading must give the
// file's bytes (deciphered under a key) or refuse.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "LibOrv.h"
#include "OrvError.h"
#include "RecordingApp.h"
#include "cSEC.h"
#include "cStringList.h"

struct cStringListTestPeer {
  static const std::string& Text(const cStringList& o) { return o.m_sList; }
};

namespace {

using Lines = std::vector<std::string>;
using orvfuzz::FuzzInput;

const std::string kSettingsKey = "\xF6" "RRk/zy7T7y=+4MX-kyp^cd$&gWdd";
const std::string kCrLf = "\r\n";
constexpr long kMaxIndex = 200;  // beyond the end pads with empty lines, so keep it small
constexpr int kMaxOperations = 32;

// The fuzzer's own files, in the fast temporary folder when there is one.
class ScratchFiles {
 public:
  ScratchFiles() {
    std::string sDir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string sTemplate = sDir + "/orvfuzz_stringlist.XXXXXX";
    if (::mkdtemp(sTemplate.data()) == nullptr) std::abort();
    m_sDir = sTemplate;
  }
  ~ScratchFiles() {
    std::error_code ec;
    std::filesystem::remove_all(m_sDir, ec);
  }
  std::string File(const char* sName) const { return m_sDir + "/" + sName; }

 private:
  std::string m_sDir;
};

const ScratchFiles& Scratch() {
  static ScratchFiles files;
  return files;
}

void WriteBytes(const std::string& sFile, const std::string& sData) {
  std::ofstream out(sFile, std::ios::binary | std::ios::trunc);
  out.write(sData.data(), static_cast<std::streamsize>(sData.size()));
  out.close();
  if (!out) std::abort();
}

Lines Split(const std::string& s) {
  Lines lines;
  std::size_t p = 0;
  for (;;) {
    const std::size_t e = s.find(kCrLf, p);
    if (e == std::string::npos) break;
    lines.push_back(s.substr(p, e - p));
    p = e + 2;
  }
  lines.push_back(s.substr(p));
  return lines;
}

// Line j (from 1) as the list reads it: empty beyond the end.
std::string Line(const Lines& lines, long j) {
  return j >= 1 && static_cast<std::size_t>(j) <= lines.size() ? lines[static_cast<std::size_t>(j - 1)] : "";
}

bool HasCrLf(const std::string& s) { return s.find(kCrLf) != std::string::npos; }

long CountCrLf(const std::string& s) {
  long n = 0;
  for (std::size_t p = s.find(kCrLf); p != std::string::npos; p = s.find(kCrLf, p + 2)) ++n;
  return n;
}

// Every line of the new text is the one fnExpected(j) names, read as the
// list reads lines (empty lines beyond the end included).
template <typename Expected>
void CheckLines(const cStringList& o, Expected fnExpected) {
  const Lines now = Split(cStringListTestPeer::Text(o));
  for (long j = 1; j <= static_cast<long>(now.size()) + 1; ++j) ORV_FUZZ_CHECK(Line(now, j) == fnExpected(j));
}

// The line number of the first line that starts with sName=, 0 when none.
long FirstParamLine(const Lines& lines, const std::string& sName) {
  const std::string sPrefix = sName + "=";
  for (std::size_t j = 0; j < lines.size(); ++j)
    if (lines[j].compare(0, sPrefix.size(), sPrefix) == 0) return static_cast<long>(j) + 1;
  return 0;
}

std::string ReplaceEvery(const std::string& s, const std::string& sFind, const std::string& sReplace) {
  if (sFind.empty()) return s;
  std::string sOut;
  std::size_t p = 0;
  for (std::size_t q = s.find(sFind); q != std::string::npos; q = s.find(sFind, p)) {
    sOut.append(s, p, q - p);
    sOut += sReplace;
    p = q + sFind.size();
  }
  sOut.append(s, p, std::string::npos);
  return sOut;
}

// Loading the file gives its bytes, or their deciphered text under a key;
// a file that does not decipher leaves an empty list and false.
void CheckLoad(const std::string& sContent, bool bWithKey) {
  const std::string sFile = Scratch().File("list.cfg");
  WriteBytes(sFile, sContent);
  cStringList o;
  if (bWithKey) ORV_FUZZ_CHECK(o.SetKey(kSettingsKey));
  const bool bLoaded = o.Load(sFile, true);
  std::string sExpected = sContent;
  bool bExpected = true;
  if (bWithKey) {
    cSEC oSec;
    oSec.SetKey(kSettingsKey);
    bExpected = oSec.Decode(sExpected);
  }
  ORV_FUZZ_CHECK(bLoaded == bExpected);
  ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == sExpected);
}

// Stored and loaded again, under the same key or none, the list is the same.
void CheckStoreAndLoad(const cStringList& oWith, bool bWithKey) {
  cStringList o = oWith;
  const std::string sFile = Scratch().File("stored.cfg");
  ORV_FUZZ_CHECK(o.Store(sFile));
  cStringList oBack;
  if (bWithKey) oBack.SetKey(kSettingsKey);
  ORV_FUZZ_CHECK(oBack.Load(sFile));
  ORV_FUZZ_CHECK(cStringListTestPeer::Text(oBack) == cStringListTestPeer::Text(oWith));
  if (bWithKey) ORV_FUZZ_CHECK(LibOrv_ReadFile(sFile) != cStringListTestPeer::Text(oWith) ||
                               cStringListTestPeer::Text(oWith).empty());
}

// A file that cannot be read travels as an error and leaves the list alone.
void CheckLoadOfMissingFile(cStringList& o) {
  const std::string sBefore = cStringListTestPeer::Text(o);
  bool bRaised = false;
  try {
    o.Load(Scratch().File("missing.cfg"));
  } catch (const OrvError&) {
    bRaised = true;
  }
  ORV_FUZZ_CHECK(bRaised);
  ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == sBefore);
}

void Operate(cStringList& o, FuzzInput& in) {
  const std::string sBefore = cStringListTestPeer::Text(o);
  const Lines old = Split(sBefore);
  const uint8_t bOp = in.Byte() % 13;
  // Reading and removing also meet the extreme indexes; writing beyond the
  // end pads, so it stays near the end.
  long lIndex = in.Between(-2, kMaxIndex + 3);
  if (lIndex > kMaxIndex) {
    const long kExtremes[] = {std::numeric_limits<long>::min(), std::numeric_limits<long>::max(),
                              std::numeric_limits<long>::max() - 1};
    const bool bReadsOrRemoves = bOp == 0 || bOp == 3 || bOp == 12;
    lIndex = bReadsOrRemoves ? kExtremes[lIndex - kMaxIndex - 1] : kMaxIndex;
  }
  const long k = std::max(lIndex, 1L);  // the line an index addresses
  const std::string s = in.Text(40);
  const std::string t = in.Text(40);
  switch (bOp) {
    case 0:
      ORV_FUZZ_CHECK(o.GetItem(lIndex) == Line(old, k));
      break;
    case 1:
      o.SetItem(s, lIndex);
      if (!HasCrLf(s)) CheckLines(o, [&](long j) { return j == k ? s : Line(old, j); });
      break;
    case 2:
      o.Insert(s, lIndex);
      if (!HasCrLf(s)) CheckLines(o, [&](long j) { return j < k ? Line(old, j) : j == k ? s : Line(old, j - 1); });
      break;
    case 3:
      o.RemoveItem(lIndex);
      if (static_cast<std::size_t>(k) > old.size()) ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == sBefore);
      else CheckLines(o, [&](long j) { return j < k ? Line(old, j) : Line(old, j + 1); });
      break;
    case 4:
      o.SetValue(s, t);
      if (!HasCrLf(s + "=" + t)) {
        ORV_FUZZ_CHECK(o.ExistValue(s));
        ORV_FUZZ_CHECK(o.GetValue(s, "default") == t);
        const long lAt = FirstParamLine(old, s);
        if (lAt != 0) {
          CheckLines(o, [&](long j) { return j == lAt ? s + "=" + t : Line(old, j); });
        } else {
          // A new last line, after the old lines (an empty last one aside).
          Lines expected = old;
          if (expected.back().empty()) expected.pop_back();
          expected.push_back(s + "=" + t);
          CheckLines(o, [&](long j) { return Line(expected, j); });
        }
      }
      break;
    case 5: {
      o.RemoveValue(s);
      if (HasCrLf(s + "=")) break;
      const long lAt = FirstParamLine(old, s);
      if (lAt == 0) ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == sBefore);
      else CheckLines(o, [&](long j) { return j < lAt ? Line(old, j) : Line(old, j + 1); });
      break;
    }
    case 6: {
      if (HasCrLf(s + "=")) {
        o.GetValue(s, t);
        break;
      }
      const long lAt = FirstParamLine(old, s);
      ORV_FUZZ_CHECK(o.ExistValue(s) == (lAt != 0));
      const std::string sValue = lAt == 0 ? t : Line(old, lAt).substr(s.size() + 1);
      ORV_FUZZ_CHECK(o.GetValue(s, t) == sValue);
      break;
    }
    case 7: {
      const long lCol = in.Between(-1, 6);
      o.SetSubItem(lIndex, lCol, s);
      if (!HasCrLf(s) && s.find('=') == std::string::npos) {
        ORV_FUZZ_CHECK(o.GetSubItem(lIndex, lCol) == s);
        CheckLines(o, [&](long j) { return j == k ? o.GetItem(k) : Line(old, j); });
      }
      break;
    }
    case 8:
      o.ReplaceAll(s, t);
      ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == ReplaceEvery(sBefore, s, t));
      break;
    case 9: {
      const std::size_t p = sBefore.find(s);
      const long lExpected = s.empty() ? (sBefore.empty() ? 0 : 1) : p == std::string::npos ? 0 : static_cast<long>(p) + 1;
      ORV_FUZZ_CHECK(o.FindString(s) == lExpected);
      ORV_FUZZ_CHECK(o.GetSeparatorCount() == CountCrLf(sBefore));
      break;
    }
    case 10: {
      o.Add(s);
      const bool bEnded =
          sBefore.empty() || (sBefore.size() >= 2 && sBefore.compare(sBefore.size() - 2, 2, kCrLf) == 0);
      ORV_FUZZ_CHECK(cStringListTestPeer::Text(o) == sBefore + (bEnded ? "" : kCrLf) + s + kCrLf);
      break;
    }
    case 11: {
      o.InsertAscending(s);
      ORV_FUZZ_CHECK(o.GetSeparatorCount() >= CountCrLf(sBefore) + 1);
      if (HasCrLf(s)) break;
      const Lines now = Split(cStringListTestPeer::Text(o));
      ORV_FUZZ_CHECK(std::find(now.begin(), now.end(), s) != now.end());
      break;
    }
    case 12: {
      const std::string sLine = Line(old, k);
      const std::size_t p = sLine.find('=');
      ORV_FUZZ_CHECK(o.GetParamName(lIndex) == sLine.substr(0, p));
      ORV_FUZZ_CHECK(o.GetParamValue(lIndex) == (p == std::string::npos ? sLine : sLine.substr(p + 1)));
      break;
    }
  }
}

}  // namespace

void orvfuzz::StringList(const uint8_t* pData, std::size_t lSize) {
  RecordingApp app;
  FuzzInput in(pData, lSize);
  const uint8_t bSetup = in.Byte();
  const bool bWithKey = (bSetup & 1) != 0;
  const bool bEnciphered = (bSetup & 2) != 0;
  const bool bStore = (bSetup & 4) != 0;
  std::string sContent = in.Take(static_cast<std::size_t>(in.Between(0, 2047)));

  if (bEnciphered) {
    // A file as Store writes it, so that loading under the key gets past
    // deciphering.
    cSEC oSec;
    oSec.SetKey(kSettingsKey);
    std::string sCipher = sContent;
    oSec.Encode(sCipher);
    CheckLoad(sCipher, bWithKey);
  }
  CheckLoad(sContent, bWithKey);

  cStringList o;
  if (bWithKey) o.SetKey(kSettingsKey);
  const std::string sFile = Scratch().File("list.cfg");
  WriteBytes(sFile, sContent);
  o.Load(sFile);
  if (bWithKey) {
    // Operate on the plain text whatever the file held.
    cStringList oPlain;
    oPlain.Load(sFile);
    o = oPlain;
    o.SetKey(kSettingsKey);
  }
  CheckLoadOfMissingFile(o);

  for (int i = 0; i < kMaxOperations && !in.Empty(); ++i) Operate(o, in);
  if (bStore) CheckStoreAndLoad(o, bWithKey);
  ORV_FUZZ_CHECK(app.messages.empty() && app.boxes.empty());
}
