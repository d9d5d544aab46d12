// The command line on any text: every pair's value is a piece of the text
// right after its name and "=", masking keeps every parameter the run knows
// but shows no password, and arguments joined from a process's argument list
// read back as the same names and values.
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "FuzzSupport.h"
#include "FuzzTargets.h"

namespace {

using orvfuzz::FuzzInput;

void CheckPairsLieInText(const std::string& sArgs, const std::vector<CommandLinePair>& pairs) {
  std::size_t lAfterLast = 0;
  for (const CommandLinePair& pair : pairs) {
    ORV_FUZZ_CHECK(pair.lValueStart <= sArgs.size());
    ORV_FUZZ_CHECK(pair.sValue.size() <= sArgs.size() - pair.lValueStart);
    ORV_FUZZ_CHECK(sArgs.compare(pair.lValueStart, pair.sValue.size(), pair.sValue) == 0);
    ORV_FUZZ_CHECK(pair.sName.find('=') == std::string::npos);
    // The name ends at the "=" in front of the value or in front of its opening quote.
    ORV_FUZZ_CHECK(pair.lValueStart >= 1);
    std::size_t pEq = pair.lValueStart - 1;
    if (sArgs[pEq] != '=') {
      ORV_FUZZ_CHECK(pEq >= 1 && (sArgs[pEq] == '"' || sArgs[pEq] == '\'') && sArgs[pEq - 1] == '=');
      --pEq;
    }
    ORV_FUZZ_CHECK(pEq >= pair.sName.size() && pEq - pair.sName.size() >= lAfterLast);
    ORV_FUZZ_CHECK(sArgs.compare(pEq - pair.sName.size(), pair.sName.size(), pair.sName) == 0);
    lAfterLast = pair.lValueStart + pair.sValue.size();
  }
}

// The parameter an argument sets as a reader of the log sees it: the last
// word of the pair's name ("ftpusr" where a stray word joined "ftpusr=u").
std::string ArgumentName(const std::string& sName) {
  const std::size_t p = sName.rfind(' ');
  return p == std::string::npos ? sName : sName.substr(p + 1);
}

bool IsKnownName(const std::string& sName) {
  for (const char* sz : {"ftpurl", "ftpusr", "ftppwd", "ftppath", "msg", "alarmimg", "localpath"})
    if (sName == sz) return true;
  return false;
}

// Masking shows no password: every password reads "***", a server text
// keeps no credentials, every other parameter the run knows keeps its value,
// and a text that names neither stays as it is.
void CheckMasking(const std::string& sArgs, const std::vector<CommandLinePair>& pairs) {
  const std::string sMasked = CommandLine_Masked(sArgs);
  auto known = [](const std::vector<CommandLinePair>& vPairs) {
    std::vector<std::pair<std::string, std::string>> v;
    for (const CommandLinePair& pair : vPairs)
      if (IsKnownName(ArgumentName(pair.sName))) v.emplace_back(ArgumentName(pair.sName), pair.sValue);
    return v;
  };
  const auto before = known(pairs);
  const auto after = known(CommandLine_Pairs(sMasked));
  ORV_FUZZ_CHECK(after.size() == before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    ORV_FUZZ_CHECK(after[i].first == before[i].first);
    if (before[i].first == "ftppwd") ORV_FUZZ_CHECK(after[i].second == "***");
    else if (before[i].first == "ftpurl") ORV_FUZZ_CHECK(after[i].second == CommandLine_MaskedServer(before[i].second));
    else ORV_FUZZ_CHECK(after[i].second == before[i].second);
  }
  if (sArgs.find("ftppwd=") == std::string::npos && sArgs.find('@') == std::string::npos)
    ORV_FUZZ_CHECK(sMasked == sArgs);
}

// Whether an argument is name=value in a form whose value the argument text
// must carry unchanged: a name, and a value that is not quoted already and,
// when it holds a space, does not hold both kinds of quote.
bool IsPlainPair(const std::string& sArg) {
  const std::size_t pEq = sArg.find('=');
  if (pEq == std::string::npos || pEq == 0 || sArg[0] == ' ') return false;
  const std::string sValue = sArg.substr(pEq + 1);
  if (!sValue.empty() && (sValue[0] == '"' || sValue[0] == '\'')) return false;
  const bool bBothQuotes = sValue.find('"') != std::string::npos && sValue.find('\'') != std::string::npos;
  return !(bBothQuotes && sValue.find(' ') != std::string::npos);
}

void CheckArguments(const std::string& sBytes) {
  // The process arguments: the bytes cut at every NUL, after a program path.
  std::vector<std::string> args = {"OrvFtpUploader"};
  std::size_t p = 0;
  for (std::size_t q = sBytes.find('\0'); q != std::string::npos; q = sBytes.find('\0', p)) {
    args.push_back(sBytes.substr(p, q - p));
    p = q + 1;
  }
  args.push_back(sBytes.substr(p));
  std::vector<const char*> argv;
  for (const std::string& s : args) argv.push_back(s.c_str());

  const std::string sArgs = CommandLine_FromArgs(static_cast<int>(argv.size()), argv.data());
  const std::vector<CommandLinePair> pairs = CommandLine_Pairs(sArgs);
  CheckPairsLieInText(sArgs, pairs);
  CheckMasking(sArgs, pairs);

  std::vector<std::pair<std::string, std::string>> expected;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].empty()) continue;
    if (!IsPlainPair(args[i])) return;
    const std::size_t pEq = args[i].find('=');
    expected.emplace_back(args[i].substr(0, pEq), args[i].substr(pEq + 1));
  }
  ORV_FUZZ_CHECK(pairs.size() == expected.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    ORV_FUZZ_CHECK(pairs[i].sName == expected[i].first);
    ORV_FUZZ_CHECK(pairs[i].sValue == expected[i].second);
  }
}

}  // namespace

void orvfuzz::CommandLine(const uint8_t* pData, std::size_t lSize) {
  FuzzInput in(pData, lSize);
  const bool bArgumentList = in.Flag();
  const std::string sRest = in.Rest();
  if (bArgumentList) {
    CheckArguments(sRest);
    return;
  }
  const std::vector<CommandLinePair> pairs = CommandLine_Pairs(sRest);
  CheckPairsLieInText(sRest, pairs);
  CheckMasking(sRest, pairs);
}
