#include "FtpRequest.h"

#include <string_view>

#include "LibOrv.h"

bool FtpCheckFilePath(const std::string& sPath, FtpOutcome& failure) {
  if (sPath.empty() || sPath.back() == '/') failure.sWhy = "the path names no file";
  else if (LibOrv_HasLineBreak(sPath)) failure.sWhy = "the path holds a line break";
  else return true;
  failure.rc = CURLE_URL_MALFORMAT;
  return false;
}

CurlSlistPtr FtpCommandList(std::initializer_list<std::string> asCommands) {
  CurlSlistPtr pList;
  for (const std::string& sCommand : asCommands) {
    curl_slist* pLonger = curl_slist_append(pList.get(), sCommand.c_str());
    if (pLonger == nullptr) return nullptr;
    (void)pList.release();
    pList.reset(pLonger);
  }
  return pList;
}

std::string SftpCommandPath(const std::string& sPath) {
  std::string_view s = sPath;
  if (s.rfind("//", 0) == 0) s.remove_prefix(1);
  else if (!s.empty() && s.front() == '/') s.remove_prefix(1);
  if (s.empty()) s = ".";
  std::string sQuoted = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') sQuoted += '\\';
    sQuoted += c;
  }
  return sQuoted + "\"";
}
