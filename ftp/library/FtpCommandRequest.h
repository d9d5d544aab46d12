#pragma once

#include <cstdint>
#include <vector>

#include "FtpRequest.h"
#include "OrvFtpLibrary.h"

// A command on one entry of a folder: make a folder, rename or delete a
// file or folder, ask for a file's size. Over FTP it is sent from inside
// the folder, over SFTP with the entry's path.
class FtpCommandRequest : public FtpRequestKind {
 public:
  enum class Command { kMakeFolder, kRename, kDelete, kSize };

  FtpCommandRequest(Command eCommand, std::string sNewName, OrvFtpCmdCallback pfnCallback)
      : m_eCommand(eCommand), m_sNewName(std::move(sNewName)), m_pfnCallback(pfnCallback) {}

  std::string Name() const override;
  bool Prepare(const std::string& sPath, FtpOutcome& failure) override;
  FtpTransfer Start(const std::string& sPath, FtpSession& session) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

 private:
  CurlSlistPtr FtpCommands() const;
  CurlSlistPtr SftpCommands() const;

  const Command m_eCommand;
  const std::string m_sNewName;
  const OrvFtpCmdCallback m_pfnCallback;
  std::string m_sFolder;  // ends with "/", or is empty for the login folder
  std::string m_sEntry;
  CurlSlistPtr m_pCommands;
  bool m_bFolder = false;  // the path ended with "/"
  bool m_bSftp = false;
  int64_t m_lSize = -1;
  FtpOutcome m_refusal;  // the first of its commands the server refused
};
