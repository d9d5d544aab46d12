#include "CommandLine.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view kKnownNames[] = {"ftpurl", "ftpusr", "ftppwd", "ftppath", "msg", "alarmimg", "localpath"};

char LowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// sName is sLower (a lower-case name) in any case.
bool IsName(std::string_view sName, std::string_view sLower) {
  if (sName.size() != sLower.size()) return false;
  for (std::size_t i = 0; i < sName.size(); ++i)
    if (LowerCase(sName[i]) != sLower[i]) return false;
  return true;
}

bool IsKnownName(std::string_view sName) {
  for (std::string_view sKnown : kKnownNames)
    if (IsName(sName, sKnown)) return true;
  return false;
}

// The last word of a name: "ftpusr" where a stray word joined "ftpusr=u".
std::string_view LastWord(std::string_view sName) {
  const std::size_t p = sName.rfind(' ');
  return p == std::string_view::npos ? sName : sName.substr(p + 1);
}

// One argument as the argument text shows it: a name=value argument whose
// value holds a space and is not quoted gets quotes around the value, so
// that the text form reads it as one value. lShift is how far the value
// moved (1 behind an added quote).
std::string ShownArgument(const std::string& sArg, std::size_t& lShift) {
  lShift = 0;
  const std::size_t pEq = sArg.find('=');
  if (pEq == std::string::npos || pEq == 0) return sArg;
  const std::string sValue = sArg.substr(pEq + 1);
  const bool bQuoted = !sValue.empty() && (sValue[0] == '"' || sValue[0] == '\'');
  if (bQuoted || sValue.find(' ') == std::string::npos) return sArg;
  const char cQuote = sValue.find('"') == std::string::npos ? '"' : '\'';
  lShift = 1;
  return sArg.substr(0, pEq + 1) + cQuote + sValue + cQuote;
}

std::string Joined(const std::vector<std::string>& vsArgs) {
  std::string sText;
  std::size_t lShift = 0;
  for (std::size_t i = 0; i < vsArgs.size(); ++i) {
    if (i > 0) sText += ' ';
    sText += ShownArgument(vsArgs[i], lShift);
  }
  return sText;
}

// One argument that is a whole command line: it holds a space followed by
// a name the run knows and "=".
bool HoldsCommandLine(const std::string& sArg) {
  for (std::size_t p = sArg.find(' '); p != std::string::npos; p = sArg.find(' ', p + 1)) {
    const std::size_t pEq = sArg.find('=', p + 1);
    if (pEq == std::string::npos) return false;
    if (IsKnownName(std::string_view(sArg).substr(p + 1, pEq - p - 1))) return true;
  }
  return false;
}

std::vector<std::string> Arguments(int argc, const char* const* argv) {
  std::vector<std::string> vsArgs;
  for (int i = 1; i < argc; ++i) vsArgs.emplace_back(argv[i]);
  return vsArgs;
}

// An argument's value: as it stands, or without its quotes when it is
// wholly one quoted text. lSkip is 1 when the opening quote went.
std::string ArgumentValue(const std::string& sRest, std::size_t& lSkip) {
  lSkip = 0;
  if (sRest.size() < 2 || (sRest[0] != '"' && sRest[0] != '\'')) return sRest;
  if (sRest.find(sRest[0], 1) != sRest.size() - 1) return sRest;
  lSkip = 1;
  return sRest.substr(1, sRest.size() - 2);
}

}  // namespace

std::string CommandLine_FromArgs(int argc, const char* const* argv) {
  const std::vector<std::string> vsArgs = Arguments(argc, argv);
  if (vsArgs.size() == 1 && HoldsCommandLine(vsArgs[0])) return vsArgs[0];
  return Joined(vsArgs);
}

CommandLineArgs::CommandLineArgs(std::string sCommandLine)
    : sText(std::move(sCommandLine)), sMasked(CommandLine_Masked(sText)), pairs(CommandLine_Pairs(sText)) {}

CommandLineArgs CommandLine_Read(int argc, const char* const* argv) {
  const std::vector<std::string> vsArgs = Arguments(argc, argv);
  if (vsArgs.size() == 1 && HoldsCommandLine(vsArgs[0])) return CommandLineArgs(vsArgs[0]);
  CommandLineArgs o;
  std::vector<std::string> vsShown;  // the arguments as the log may show them
  bool bHiding = false;              // behind a password, up to the next known parameter
  for (std::size_t i = 0; i < vsArgs.size(); ++i) {
    const std::string& sArg = vsArgs[i];
    if (i > 0) o.sText += ' ';
    std::size_t lShift = 0;
    const std::size_t lStart = o.sText.size();
    o.sText += ShownArgument(sArg, lShift);
    const std::size_t pEq = sArg.find('=');
    const bool bPair = pEq != std::string::npos && pEq > 0;
    const std::string sName = bPair ? sArg.substr(0, pEq) : std::string();
    if (bPair) {
      std::size_t lSkip = 0;
      std::string sValue = ArgumentValue(sArg.substr(pEq + 1), lSkip);
      o.pairs.push_back({sName, std::move(sValue), lStart + pEq + 1 + lShift + lSkip});
    }
    if (bPair && IsKnownName(LastWord(sName))) bHiding = false;
    if (bHiding) continue;
    if (bPair && IsName(LastWord(sName), "ftppwd")) {
      vsShown.push_back(sName + "=***");
      bHiding = true;
    } else if (bPair && IsName(LastWord(sName), "ftpurl")) {
      vsShown.push_back(sName + "=" + CommandLine_MaskedServer(sArg.substr(pEq + 1)));
    } else {
      vsShown.push_back(sArg);
    }
  }
  o.sMasked = Joined(vsShown);
  return o;
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
    if (IsName(sName, "ftpurl")) {
      const std::string sValue = sArgs.substr(span.lValueStart, span.lValueEnd - span.lValueStart);
      replace(span.lValueStart, span.lValueEnd, CommandLine_MaskedServer(sValue));
      continue;
    }
    if (!IsName(sName, "ftppwd")) continue;
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
