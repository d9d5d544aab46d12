#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// A server program run by a test. It gets a process group of its own (so
// that stopping it also ends the sessions it forked), standard input from
// /dev/null, and its output in a log file, or its standard output in a
// pipe the test reads while its standard error goes to the log. It ends
// with the test process however that ends, and at the latest when this
// object does.
class ServerProcess {
 public:
  enum class Output { kLogFile, kStdoutPipe };

  ServerProcess() = default;
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Runs args[0] (an absolute path) with the given arguments. Throws
  // std::runtime_error when the program cannot be started.
  void Start(const std::vector<std::string>& args, const std::filesystem::path& log, Output eOutput);
  // False once the program has ended.
  bool Running();
  // Waits until a socket listens on the IPv4 address and port, without
  // connecting (which servers would log as a session); false when the
  // program ends first or the time is up.
  bool WaitUntilListening(const std::string& sAddress, int iPort, std::chrono::milliseconds timeout);
  // The read end of the standard output pipe (kStdoutPipe only).
  int StdoutFd() const { return m_iStdout; }
  // Terminates the whole group and waits for the program; a second call and
  // a call on a program that never started do nothing.
  void Stop();

  // Runs a tool (found on PATH) to its end with its output in the log file;
  // its exit status, or -1 when it did not end normally.
  static int Run(const std::vector<std::string>& args, const std::filesystem::path& log);

 private:
  pid_t m_pid = -1;
  int m_iStdout = -1;
};
