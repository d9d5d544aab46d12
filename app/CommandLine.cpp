#include "CommandLine.h"

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

std::vector<CommandLinePair> CommandLine_Pairs(const std::string& sArgs) {
  std::vector<CommandLinePair> pairs;
  std::size_t lPos = 0;  // start of the rest text in sArgs
  std::size_t lEnd = sArgs.size();
  for (;;) {
    while (lPos < lEnd && sArgs[lPos] == ' ') ++lPos;
    while (lEnd > lPos && sArgs[lEnd - 1] == ' ') --lEnd;
    if (lPos >= lEnd) break;
    std::size_t pEq = sArgs.find('=', lPos);
    if (pEq == std::string::npos || pEq >= lEnd) break;
    CommandLinePair pair;
    pair.sName = sArgs.substr(lPos, pEq - lPos);
    std::size_t lValue = pEq + 1;
    std::size_t lMark = std::string::npos;
    if (lValue < lEnd && (sArgs[lValue] == '"' || sArgs[lValue] == '\'')) {
      ++lValue;
      lMark = sArgs.find(sArgs[lValue - 1], lValue);
    } else {
      lMark = sArgs.find(' ', lValue);
    }
    if (lMark != std::string::npos && lMark >= lEnd) lMark = std::string::npos;
    std::size_t lValueEnd = lMark == std::string::npos ? lEnd : lMark;
    pair.lValueStart = lValue;
    pair.sValue = lValue < lValueEnd ? sArgs.substr(lValue, lValueEnd - lValue) : std::string();
    pairs.push_back(std::move(pair));
    if (lMark == std::string::npos) break;
    lPos = lMark + 1;
  }
  return pairs;
}

std::string CommandLine_Masked(const std::string& sArgs) {
  std::string sMasked = sArgs;
  std::vector<CommandLinePair> pairs = CommandLine_Pairs(sArgs);
  // From the back, so earlier offsets stay valid.
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
    if (it->sName == "ftppwd") sMasked.replace(it->lValueStart, it->sValue.size(), "***");
  }
  return sMasked;
}
