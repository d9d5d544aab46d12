// Puts and gets files through the program's own FTP path: the client object,
// the registry and the library, with completions pumped on this thread. The
// put opens the local file and hands it over as the put command does (a
// large file is read while it is sent); the get writes the fetched data as
// the get event does.
//
//   put_get_bench HOST PORT USER PASSWORD put  LOCAL_FILE  REMOTE_FILE
//   put_get_bench HOST PORT USER PASSWORD get  REMOTE_FILE LOCAL_FILE
//   put_get_bench HOST PORT USER PASSWORD getfile REMOTE_FILE LOCAL_FILE
//   put_get_bench HOST PORT USER PASSWORD many LOCAL_DIR   REMOTE_DIR/
//   put_get_bench HOST PORT USER PASSWORD queue LOCAL_DIR  REMOTE_DIR/
//   put_get_bench HOST PORT USER PASSWORD dir  REMOTE_DIR/ ENTRIES
//
// "many" puts every file of LOCAL_DIR (in name order) one after another over
// the one connection, each after the previous one was confirmed; "queue"
// hands them all over at once, and the connection runs them one after
// another. "dir" lists the folder through the directory event and checks the
// number of entries (with "." and ".." where the server lists them).
// "get" fetches through the chunked get and writes the data as the get event
// did (a file up to 1 MiB); "getfile" streams a file of any size into
// LOCAL_FILE as the get command does. HOST may be given as sftp://HOST for
// SFTP (the server's key must be in $HOME/.ssh/known_hosts). With
// ORV_BENCH_PROGRESS set, the client reports progress as it does in the
// window, and each report is taken as the window takes it: a text made of
// its figures.
//
// Prints the seconds from the first request to the last event; exits 0 only
// when every request succeeded. With ORV_BENCH_PHASES set, each put also
// tells on standard error how long opening its file (and reading what is
// read before the request) took.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FtpPump.h"
#include "LibOrv.h"
#include "LocalFileSource.h"
#include "OrvFtpClient.h"
#include "ProcessMemory.h"
#include "cOrvFtpClient.h"

namespace {

constexpr auto kTimeout = std::chrono::minutes(5);

struct Outcome {
  bool bDone = false;
  long lErrCode = 0;
};

// Opens the file as the put command does: small files are read whole, a
// large one is read while it is sent.
std::optional<LocalFileSource> OpenLocal(const std::string& sLocal) {
  try {
    return LocalFileSource::Open(sLocal);
  } catch (const OrvError& e) {
    std::fprintf(stderr, "read %s: %s\n", sLocal.c_str(), e.Description().c_str());
    return std::nullopt;
  }
}

bool PutOne(cOrvFtpClient& client, FtpPump& pump, Outcome& outcome, const std::string& sLocal,
            const std::string& sRemote) {
  outcome = Outcome();
  const bench::Clock::time_point tRead = bench::Clock::now();
  std::optional<LocalFileSource> oData = OpenLocal(sLocal);
  if (!oData) return false;
  if (std::getenv("ORV_BENCH_PHASES")) std::fprintf(stderr, "open %.6f\n", bench::SecondsSince(tRead));
  client.FtpPut(std::move(*oData), sRemote, "");
  if (!pump.Until([&] { return outcome.bDone; }, kTimeout)) {
    std::fprintf(stderr, "put %s: no answer\n", sRemote.c_str());
    return false;
  }
  if (outcome.lErrCode != 0) {
    std::fprintf(stderr, "put %s: error %ld\n", sRemote.c_str(), outcome.lErrCode);
    return false;
  }
  return true;
}

std::vector<std::string> FileNames(const std::string& sFolder) {
  std::vector<std::string> vsNames;
  for (const auto& entry : std::filesystem::directory_iterator(sFolder))
    if (entry.is_regular_file()) vsNames.push_back(entry.path().filename().string());
  std::sort(vsNames.begin(), vsNames.end());
  return vsNames;
}

}  // namespace

int main(int argc, char** argv) {
  // As the program's main does.
  ProcessMemory_KeepFreedMemory();
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD put|get|getfile|many|queue|dir SOURCE TARGET\n", argv[0]);
    return 2;
  }
  std::string sHost = argv[1];
  const std::string sPort = argv[2], sUser = argv[3], sPassword = argv[4];
  OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain;
  if (sHost.rfind("sftp://", 0) == 0) {
    sHost.erase(0, 7);
    eSecurity = OrvFtpSecurity::kSftp;
  }
  const std::string sMode = argv[5], sSource = argv[6], sTarget = argv[7];

  bench::BenchApp app;
  FtpPump pump;
  FTP_Init();
  bool bOk = false;
  double dSeconds = 0;
  {
    std::shared_ptr<cOrvFtpClient> client = cOrvFtpClient::Create();
    Outcome outcome;
    client->PutEvent = [&outcome](const std::string&, long lErrCode) {
      outcome.bDone = true;
      outcome.lErrCode = lErrCode;
    };
    client->GetEvent = [&outcome](const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                  long lErrCode) {
      outcome.bDone = true;
      outcome.lErrCode = lErrCode;
      if (lErrCode != 0) return;
      if (!bEndOfData) {
        outcome.lErrCode = -1;
        return;
      }
      try {
        LibOrv_WriteFile(sData, sRequestID);
      } catch (const OrvError& e) {
        std::fprintf(stderr, "write %s: %s\n", sRequestID.c_str(), e.Description().c_str());
        outcome.lErrCode = -2;
      }
    };
    client->GetFileEvent = [&outcome](const std::string&, long lErrCode) {
      outcome.bDone = true;
      outcome.lErrCode = lErrCode;
    };
    std::size_t lReports = 0;
    std::string sProgress;
    if (std::getenv("ORV_BENCH_PROGRESS")) {
      client->ProgressEvent = [&](const std::string&, std::uint64_t lDone, std::uint64_t lTotal) {
        ++lReports;
        sProgress = std::to_string(lDone) + " of " + std::to_string(lTotal);
      };
    }
    if (!client->FtpConnect(sHost, sPort, sUser, sPassword, eSecurity)) {
      app.PrintTo(stderr);
      return 1;
    }
    if (std::getenv("ORV_BENCH_PROGRESS")) client->FtpWatchProgress(true);
    const bench::Clock::time_point t0 = bench::Clock::now();
    if (sMode == "put") {
      bOk = PutOne(*client, pump, outcome, sSource, sTarget);
    } else if (sMode == "get") {
      client->FtpGet(sSource, sTarget);
      bOk = pump.Until([&] { return outcome.bDone; }, kTimeout) && outcome.lErrCode == 0;
      if (!bOk) std::fprintf(stderr, "get %s: error %ld\n", sSource.c_str(), outcome.lErrCode);
    } else if (sMode == "getfile") {
      client->FtpGetFile(sSource, sTarget, sTarget);
      bOk = pump.Until([&] { return outcome.bDone; }, kTimeout) && outcome.lErrCode == 0;
      if (!bOk) std::fprintf(stderr, "getfile %s: error %ld\n", sSource.c_str(), outcome.lErrCode);
    } else if (sMode == "dir") {
      std::size_t lLines = 0;
      client->DirEvent = [&](const std::string& sDirList, const std::string&, long lErrCode) {
        outcome.bDone = true;
        outcome.lErrCode = lErrCode;
        for (std::size_t p = sDirList.find("\r\n"); p != std::string::npos; p = sDirList.find("\r\n", p + 2)) ++lLines;
      };
      client->FtpDir(sSource, "");
      bOk = pump.Until([&] { return outcome.bDone; }, kTimeout) && outcome.lErrCode == 0 &&
            lLines == std::stoul(sTarget);
      if (!bOk) std::fprintf(stderr, "dir %s: error %ld, %zu entries\n", sSource.c_str(), outcome.lErrCode, lLines);
    } else if (sMode == "many") {
      const std::vector<std::string> vsNames = FileNames(sSource);
      bOk = !vsNames.empty();
      for (const std::string& sName : vsNames) {
        bOk = PutOne(*client, pump, outcome, sSource + "/" + sName, sTarget + sName);
        if (!bOk) break;
      }
    } else if (sMode == "queue") {
      const std::vector<std::string> vsNames = FileNames(sSource);
      std::size_t lAnswered = 0, lFailed = 0;
      client->PutEvent = [&](const std::string&, long lErrCode) {
        ++lAnswered;
        if (lErrCode != 0) ++lFailed;
      };
      bOk = !vsNames.empty();
      for (const std::string& sName : vsNames) {
        std::optional<LocalFileSource> oData = OpenLocal(sSource + "/" + sName);
        if (!oData) {
          bOk = false;
          break;
        }
        client->FtpPut(std::move(*oData), sTarget + sName, "");
      }
      bOk = bOk && pump.Until([&] { return lAnswered == vsNames.size(); }, kTimeout) && lFailed == 0;
      if (!bOk) std::fprintf(stderr, "queue: %zu answers, %zu failed\n", lAnswered, lFailed);
    } else {
      std::fprintf(stderr, "unknown mode %s\n", sMode.c_str());
      return 2;
    }
    dSeconds = bench::SecondsSince(t0);
    if (std::getenv("ORV_BENCH_PROGRESS"))
      std::fprintf(stderr, "progress reports %zu, last %s\n", lReports, sProgress.c_str());
  }
  // The client object is gone: its connection says QUIT.
  FTP_Shutdown();
  if (!bOk) {
    app.PrintTo(stderr);
    return 1;
  }
  std::printf("seconds %.6f\n", dSeconds);
  return 0;
}
