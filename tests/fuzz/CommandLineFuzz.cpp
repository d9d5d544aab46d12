// The command line on any text: every pair's value is a piece of the text
// right after its name and "=", masking keeps every parameter the run knows
// but shows no password, and a process's argument list reads as one pair per
// argument (or, one argument alone, as a whole command line) with the
// values as passed.
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

// Whether "ftppwd=" occurs in s, in any case.
bool HoldsPasswordName(const std::string& s) {
  std::string sLower = s;
  for (char& c : sLower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return sLower.find("ftppwd=") != std::string::npos;
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
  if (!HoldsPasswordName(sArgs) && sArgs.find('@') == std::string::npos) ORV_FUZZ_CHECK(sMasked == sArgs);
}

// The pair an argument is on its own: the name up to its first "=", the
// value as it stands, or without its quotes when it is wholly one quoted
// text.
std::pair<std::string, std::string> PairOf(const std::string& sArg) {
  const std::size_t pEq = sArg.find('=');
  std::string sValue = sArg.substr(pEq + 1);
  if (sValue.size() >= 2 && (sValue[0] == '"' || sValue[0] == '\'') && sValue.find(sValue[0], 1) == sValue.size() - 1)
    sValue = sValue.substr(1, sValue.size() - 2);
  return {sArg.substr(0, pEq), sValue};
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

  const CommandLineArgs o = CommandLine_Read(static_cast<int>(argv.size()), argv.data());
  ORV_FUZZ_CHECK(o.sText == CommandLine_FromArgs(static_cast<int>(argv.size()), argv.data()));
  CheckPairsLieInText(o.sText, o.pairs);

  std::vector<std::pair<std::string, std::string>> expected;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::size_t pEq = args[i].find('=');
    if (pEq != std::string::npos && pEq > 0) expected.push_back(PairOf(args[i]));
  }
  std::vector<std::pair<std::string, std::string>> read;
  for (const CommandLinePair& pair : o.pairs) read.emplace_back(pair.sName, pair.sValue);
  // One argument alone may be a whole command line in the text form; any
  // other arguments are one pair each, taken as they stand.
  if (args.size() == 2 && read != expected) {
    ORV_FUZZ_CHECK(o.sText == args[1]);
    CheckMasking(o.sText, o.pairs);
    ORV_FUZZ_CHECK(o.sMasked == CommandLine_Masked(o.sText));
    return;
  }
  ORV_FUZZ_CHECK(read == expected);
  // Masking changes nothing where no argument names a password or a user.
  bool bSecrets = false;
  for (std::size_t i = 1; i < args.size(); ++i)
    bSecrets = bSecrets || HoldsPasswordName(args[i]) || args[i].find('@') != std::string::npos;
  if (!bSecrets) ORV_FUZZ_CHECK(o.sMasked == o.sText);
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
