#include "AppFolders.h"

std::string AppFolders_SettingsFile(const std::string& sProgramFolder) {
  return sProgramFolder + "/OrvFtpUploader.cfg";
}

std::string AppFolders_LogFolder(const std::string& sProgramFolder) { return sProgramFolder + "/log"; }

std::string AppFolders_OutboxFolder(const std::string& sProgramFolder) { return sProgramFolder + "/outbox"; }
