#include "FtpRequest.h"

bool FtpCheckFilePath(const std::string& sPath, FtpOutcome& failure) {
  if (sPath.empty() || sPath.back() == '/') failure.sWhy = "the path names no file";
  else if (sPath.find_first_of("\r\n") != std::string::npos) failure.sWhy = "the path holds a line break";
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
