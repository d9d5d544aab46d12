#include "TwistedFtpServer.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

TwistedFtpServer::TwistedFtpServer() : LoopbackFtpServer("127.0.0.1", "twisted", "twisted-pass") {
  const char* sSource = std::getenv("ORV_SOURCE_DIR");
  if (sSource == nullptr || *sSource == '\0') throw std::runtime_error("TwistedFtpServer: ORV_SOURCE_DIR is not set");
  const std::string sScript = std::string(sSource) + "/tests/servers/orv_twisted_ftpd.py";
  m_process.Start({"/usr/bin/python3", sScript, "--root", Root().string(), "--user", User(), "--password", Password()},
                  OutputLog(), ServerProcess::Output::kStdoutPipe);
  m_iPort = ReadScriptPort(m_process.StdoutFd());
  if (m_iPort <= 0) throw std::runtime_error("TwistedFtpServer: server did not start:\n" + ServerLog());
}
