#include "ShapedLoopback.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "LoopbackFtpServer.h"
#include "ServerProcess.h"
#include "TempFolder.h"

namespace {

constexpr const char* kIp = "/usr/sbin/ip";
constexpr const char* kTc = "/usr/sbin/tc";

}  // namespace

std::unique_ptr<ShapedLoopback> ShapedLoopback::Make(const std::string& sRate, std::string& sWhy) {
  if (!std::filesystem::exists(kIp) || !std::filesystem::exists(kTc)) {
    sWhy = std::string(kIp) + " or " + kTc + " is missing";
    return nullptr;
  }
  TempFolder logs;
  const std::filesystem::path log = std::filesystem::path(logs.Path()) / "ip.log";
  const std::string sName = "orvslow" + std::to_string(::getpid());
  // Left behind by a test process of the same id that was killed.
  ServerProcess::Run({kIp, "netns", "del", sName}, log);
  if (ServerProcess::Run({kIp, "netns", "add", sName}, log) != 0) {
    sWhy = "no network namespace can be made here: " + LoopbackFtpServer::ReadWholeFile(log);
    return nullptr;
  }
  std::unique_ptr<ShapedLoopback> pLink(new ShapedLoopback(sName));
  // A burst of a few packets, and a queue of at most 400 ms, as a mobile
  // uplink has.
  const std::vector<std::vector<std::string>> steps = {
      {kIp, "netns", "exec", sName, kIp, "link", "set", "lo", "mtu", "1500", "up"},
      {kIp, "netns", "exec", sName, kTc, "qdisc", "add", "dev", "lo", "root", "tbf", "rate", sRate, "burst", "4kb",
       "latency", "400ms"}};
  for (const std::vector<std::string>& step : steps) {
    if (ServerProcess::Run(step, log) == 0) continue;
    sWhy = "the namespace's loopback cannot be shaped: " + LoopbackFtpServer::ReadWholeFile(log);
    return nullptr;
  }
  return pLink;
}

ShapedLoopback::~ShapedLoopback() {
  // Whatever still runs in it keeps its own view of the namespace; the name
  // goes now.
  TempFolder logs;
  ServerProcess::Run({kIp, "netns", "del", m_sName}, std::filesystem::path(logs.Path()) / "ip.log");
}

std::vector<std::string> ShapedLoopback::Prefix() const { return {kIp, "netns", "exec", m_sName}; }
