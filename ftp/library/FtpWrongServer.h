#pragma once

#include <chrono>
#include <string>

// A server of the other protocol at the address: an FTP client that is
// greeted with "SSH-2.0-...", or an SFTP client whose SSH handshake meets an
// FTP server's "220 ...". Neither would ever hear what it waits for, so the
// connection tells at once, in words that say what to use.

// Whether the first line of a server's greeting is an SSH version line.
bool FtpWrongServer_IsSshGreeting(const std::string& sLine);

// Whether a line is an FTP reply line ("220 ready", "421-busy").
bool FtpWrongServer_IsFtpReply(const std::string& sLine);

// The first line the server at sIp (numeric) and lPort sends on a new
// connection, read within wait; empty when none arrives, when it cannot be
// reached or when nothing like a line comes.
std::string FtpWrongServer_FirstLine(const std::string& sIp, long lPort, std::chrono::milliseconds wait);

// "127.0.0.1:2121 is an FTP server; use ftp://, ftpes:// or ftps://" and
// "127.0.0.1:22 is an SSH server; use sftp://"; sWhere is "host:port".
std::string FtpWrongServer_FtpText(const std::string& sWhere);
std::string FtpWrongServer_SshText(const std::string& sWhere);
