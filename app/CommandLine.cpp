#include "CommandLine.h"

#include <algorithm>
#include <string_view>

std::string CommandLine_FromArgs(int argc, const char* const* argv) {
  std::string sText;
  for (int i = 1; i < argc; ++i) {
    std::string sArg = argv[i];
    std::size_t pEq = sArg.find('=');
    if (pEq != std::string::npos && pEq > 0) {
      std::string sValue = sArg.substr(pEq + 1);
      bool bQuoted = !sValue.empty() && (sValue[0] == '"' || sValue[0] == '\'');
      if (!bQuoted && sValue.find(' ') != std::string::npos) {
        char cQuote = sValue.find('"') == std::string::npos ? '"' : '\'';
        sArg = sArg.substr(0, pEq + 1) + cQuote + sValue + cQuote;
      }
    }
    if (i > 1) sText += ' ';
    sText += sArg;
  }
  return sText;
}

namespace {

// Where one pair lies in the argument text (0-based offsets).
struct PairSpan {
  std::size_t lNameStart;
  std::size_t lEquals;      // the "=" behind the name
  std::size_t lValueStart;  // the value without its quotes
  std::size_t lValueEnd;
  std::size_t lEnd;  // behind the value and its closing quote
};

std::vector<PairSpan> PairSpans(const std::string& sArgs) {
  std::vector<PairSpan> spans;
  std::size_t lPos = 0;  // start of the rest text in sArgs
  std::size_t lEnd = sArgs.size();
  for (;;) {
    while (lPos < lEnd && sArgs[lPos] == ' ') ++lPos;
    while (lEnd > lPos && sArgs[lEnd - 1] == ' ') --lEnd;
    if (lPos >= lEnd) break;
    std::size_t pEq = sArgs.find('=', lPos);
    if (pEq == std::string::npos || pEq >= lEnd) break;
    std::size_t lValue = pEq + 1;
    std::size_t lMark = std::string::npos;
    const bool bQuoted = lValue < lEnd && (sArgs[lValue] == '"' || sArgs[lValue] == '\'');
    if (bQuoted) {
      ++lValue;
      lMark = sArgs.find(sArgs[lValue - 1], lValue);
    } else {
      lMark = sArgs.find(' ', lValue);
    }
    if (lMark != std::string::npos && lMark >= lEnd) lMark = std::string::npos;
    const std::size_t lValueEnd = lMark == std::string::npos ? lEnd : lMark;
    spans.push_back({lPos, pEq, lValue, std::max(lValue, lValueEnd),
                     bQuoted && lMark != std::string::npos ? lMark + 1 : lValueEnd});
    if (lMark == std::string::npos) break;
    lPos = lMark + 1;
  }
  return spans;
}

constexpr std::string_view kKnownNames[] = {"ftpurl", "ftpusr", "ftppwd", "ftppath", "msg", "alarmimg", "localpath"};

bool IsKnownName(std::string_view sName) {
  for (std::string_view sKnown : kKnownNames)
    if (sName == sKnown) return true;
  return false;
}

// Where the argument that holds a pair's "=" starts: a stray word before it
// ("secret ftpusr=u") joins the pair's name, but the argument is "ftpusr=u".
std::size_t ArgumentStart(const std::string& sArgs, const PairSpan& span) {
  const std::size_t pSpace = sArgs.rfind(' ', span.lEquals);
  return pSpace == std::string::npos || pSpace < span.lNameStart ? span.lNameStart : pSpace + 1;
}

std::string_view ArgumentName(const std::string& sArgs, const PairSpan& span) {
  const std::size_t lStart = ArgumentStart(sArgs, span);
  return std::string_view(sArgs).substr(lStart, span.lEquals - lStart);
}

}  // namespace

std::vector<CommandLinePair> CommandLine_Pairs(const std::string& sArgs) {
  std::vector<CommandLinePair> pairs;
  for (const PairSpan& span : PairSpans(sArgs)) {
    pairs.push_back({sArgs.substr(span.lNameStart, span.lEquals - span.lNameStart),
                     sArgs.substr(span.lValueStart, span.lValueEnd - span.lValueStart), span.lValueStart});
  }
  return pairs;
}

std::string CommandLine_Masked(const std::string& sArgs) {
  const std::vector<PairSpan> spans = PairSpans(sArgs);
  std::string sMasked;
  std::size_t lCopied = 0;  // sArgs up to here is in sMasked
  auto replace = [&](std::size_t lFrom, std::size_t lTo, const std::string& sWith) {
    sMasked.append(sArgs, lCopied, lFrom - lCopied);
    sMasked += sWith;
    lCopied = lTo;
  };
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const PairSpan& span = spans[i];
    const std::string_view sName = ArgumentName(sArgs, span);
    if (sName == "ftpurl") {
      const std::string sValue = sArgs.substr(span.lValueStart, span.lValueEnd - span.lValueStart);
      replace(span.lValueStart, span.lValueEnd, CommandLine_MaskedServer(sValue));
      continue;
    }
    if (sName != "ftppwd") continue;
    // The password and every word after it, up to the next known parameter.
    std::size_t j = i + 1;
    while (j < spans.size() && !IsKnownName(ArgumentName(sArgs, spans[j]))) ++j;
    const std::size_t lNext = j < spans.size() ? ArgumentStart(sArgs, spans[j]) : sArgs.size();
    std::size_t lTo = lNext;
    while (lTo > span.lEnd && sArgs[lTo - 1] == ' ') --lTo;
    // A parameter right behind a closing quote stays a parameter of its own.
    const bool bGlued = lTo == lNext && lNext < sArgs.size();
    replace(span.lEquals + 1, lTo, bGlued ? "*** " : "***");
    i = j - 1;
  }
  sMasked.append(sArgs, lCopied);
  return sMasked;
}

std::string CommandLine_MaskedServer(const std::string& sServer) {
  const std::size_t pAt = sServer.rfind('@');
  if (pAt == std::string::npos) return sServer;
  const std::size_t pScheme = sServer.find("://");
  const std::size_t lStart = pScheme == std::string::npos || pScheme > pAt ? 0 : pScheme + 3;
  return sServer.substr(0, lStart) + "***" + sServer.substr(pAt);
}
