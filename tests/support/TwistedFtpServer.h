#pragma once

#include "LoopbackFtpServer.h"

// Twisted's FTP server (python3-twisted) for one test, another lineage than
// the C servers and pyftpdlib: started by tests/servers/orv_twisted_ftpd.py
// on a free port of 127.0.0.1 with one account locked into the root folder.
// Starts in the constructor, which returns once the server listens or
// throws std::runtime_error.
class TwistedFtpServer : public LoopbackFtpServer {
 public:
  TwistedFtpServer();
};
