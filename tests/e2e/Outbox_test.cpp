// An alarm is never lost: what a run cannot deliver waits in the outbox
// beside the program, and a later run delivers it. Real program, headless,
// against real FTP servers on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>

#include "FtpTestServer.h"
#include "LibOrv.h"
#include "Outbox.h"
#include "ProgramRun.h"

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::optional<std::string>> kHeadless = {
    {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};

const std::string kCameraPicture("\xFF\xD8\xFF picture at the alarm\0\x01", 26);

bool Contains(const std::string& s, const std::string& sPiece) { return s.find(sPiece) != std::string::npos; }

std::vector<std::string> States(const std::vector<std::string>& vsEntries) {
  std::vector<std::string> states;
  for (const std::string& s : vsEntries)
    if (s.rfind("AutoStatus=", 0) == 0) states.push_back(s.substr(11));
  return states;
}

// A loopback port where nothing listens.
int DeadPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

mode_t Mode(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Every entry of a folder, hidden ones too, sorted.
std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> vs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) vs.push_back(e.path().filename().string());
  std::sort(vs.begin(), vs.end());
  return vs;
}

// How often the server was told to store or rename something into the file
// sName: once per delivery, whether the file goes straight to its name or
// under a temporary one first, and whatever folder the client stood in.
int Deliveries(const FtpTestServer& server, const std::string& sName) {
  int n = 0;
  for (const std::string& s : server.Commands()) {
    if (s.rfind("STOR ", 0) != 0 && s.rfind("RNTO ", 0) != 0) continue;
    const std::string sPath = s.substr(5);
    if (sPath == sName || (sPath.size() > sName.size() && sPath.compare(sPath.size() - sName.size() - 1,
                                                                         sName.size() + 1, "/" + sName) == 0))
      ++n;
  }
  return n;
}

class OutboxRun : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(program.CfgPath()).close(); }

  std::string OutboxFolder() const { return program.Folder() + "/outbox"; }

  ProgramCopy::Result Run(const std::string& sServer, std::vector<std::string> extra) const {
    std::vector<std::string> args = {"ftpurl=" + sServer, "ftpusr=orvtest", "ftppwd=Pa55-w0rd!"};
    args.insert(args.end(), extra.begin(), extra.end());
    return program.Run({.args = args, .env = kHeadless, .timeout = std::chrono::seconds(90)});
  }
  ProgramCopy::Result Run(const FtpTestServer& server, std::vector<std::string> extra) const {
    return Run("127.0.0.1:" + server.PortText(), std::move(extra));
  }
  // A run that fails at once: no server is named at all.
  ProgramCopy::Result RunWithoutServer(const std::string& sMsg) const {
    return program.Run({.args = {"ftpusr=u", "msg=" + sMsg}, .env = kHeadless});
  }

  // The logs of the runs so far, oldest first, as entries without times.
  std::vector<std::vector<std::string>> Logs() const {
    std::vector<std::vector<std::string>> logs;
    for (const std::string& sName : Entries(program.Folder() + "/log"))
      logs.push_back(ProgramCopy::LogEntries(LibOrv_ReadFile(program.Folder() + "/log/" + sName)));
    return logs;
  }
  std::vector<std::string> LastLog() const { return Logs().back(); }

  std::vector<std::string> KeptAlarms() const { return Outbox(OutboxFolder()).AlarmNames(); }

  // A kept alarm as a run leaves it: its files and their remote paths.
  void MakeKeptAlarm(const std::string& sName, const std::vector<std::pair<std::string, std::string>>& files,
                     int iRefusals = 0) const {
    fs::create_directories(OutboxFolder() + "/" + sName);
    OutboxManifest oManifest{"old.example", "olduser", "/in/", {}, iRefusals};
    for (const auto& [sRemotePath, sContent] : files) {
      const std::string sStored = std::to_string(oManifest.files.size() + 1);
      std::ofstream(OutboxFolder() + "/" + sName + "/" + sStored, std::ios::binary) << sContent;
      oManifest.files.push_back({sStored, sContent.size(), sRemotePath, "", false});
    }
    std::ofstream(OutboxFolder() + "/" + sName + "/manifest", std::ios::binary) << OutboxManifest_Text(oManifest);
  }

  ProgramCopy program;
};

TEST_F(OutboxRun, AnAlarmThatCannotGoOutIsKeptAndTheNextRunDeliversIt) {
  const std::string sImage = program.Folder() + "/cam1.jpg";
  std::ofstream(sImage, std::ios::binary) << kCameraPicture;

  // The server is down for the whole first run.
  auto first = Run("127.0.0.1:" + std::to_string(DeadPort()), {"ftppath=in", "msg=Fire in hall 2", "alarmimg=" + sImage});
  ASSERT_FALSE(first.bTimedOut);
  EXPECT_EQ(first.iExitStatus, 1) << first.sStderr;
  std::vector<std::string> log = LastLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& s) {
    return s.rfind("Outbox: the alarm was not delivered; it is kept as ", 0) == 0;
  }));
  EXPECT_EQ(log[log.size() - 2], "Outbox: 1 alarm kept");
  EXPECT_EQ(log.back(), "terminated normally");
  const std::string sFirstStamp = fs::path(Entries(program.Folder() + "/log").back()).stem().string();

  const std::vector<std::string> kept = KeptAlarms();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(Entries(OutboxFolder()), kept) << "no work folder is left behind";
  const fs::path alarm = OutboxFolder() + "/" + kept[0];
  EXPECT_EQ(Mode(OutboxFolder()), 0700u);
  EXPECT_EQ(Mode(alarm), 0700u);
  for (const std::string& sFile : Entries(alarm)) EXPECT_EQ(Mode(alarm / sFile), 0600u) << sFile;
  const std::string sManifest = LibOrv_ReadFile((alarm / "manifest").string());
  EXPECT_TRUE(Contains(sManifest, "orvtest"));
  EXPECT_FALSE(Contains(sManifest, "Pa55-w0rd!"));

  // The camera writes its next picture over the file.
  std::ofstream(sImage, std::ios::binary) << "the next picture";

  FtpTestServer server;
  server.MakeFolder("/in");
  auto second = Run(server, {"ftppath=in", "msg=Door 3 opened"});
  ASSERT_FALSE(second.bTimedOut);
  EXPECT_EQ(second.iExitStatus, 0) << second.sStderr;
  const std::string sSecondStamp = fs::path(Entries(program.Folder() + "/log").back()).stem().string();
  EXPECT_TRUE(Contains(server.ReadFile("/in/" + sSecondStamp + ".msg"), "Door 3 opened\r\nZeit "));
  EXPECT_TRUE(Contains(server.ReadFile("/in/" + sFirstStamp + ".msg"), "Fire in hall 2\r\nZeit "));
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), kCameraPicture);
  EXPECT_TRUE(KeptAlarms().empty());
  EXPECT_TRUE(Entries(OutboxFolder()).empty());
  log = LastLog();
  EXPECT_EQ(States(log),
            (std::vector<std::string>{"connect", "sendmsg", "alarmimg", "autoupload", "outbox", "bye", "end"}));
  EXPECT_EQ(log[log.size() - 2], "Outbox: 0 alarms kept");

  // A third run finds a damaged kept alarm beside a sound one: the sound one
  // goes out, the damaged one stays, and nothing goes out twice.
  server.WriteFile("/in/" + sFirstStamp + ".msg", "read and cleared by the alarm desk");
  MakeKeptAlarm("20240101000000000-damage", {{"/in/damaged.txt", "d"}});
  fs::remove(OutboxFolder() + "/20240101000000000-damage/1");
  MakeKeptAlarm("20240102000000000-sound1", {{"/in/sound.txt", "kept earlier"}});
  // What a run that crashed an hour ago left half made goes too.
  fs::create_directories(OutboxFolder() + "/.new-20240101000000000-crash0");
  fs::last_write_time(OutboxFolder() + "/.new-20240101000000000-crash0",
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  auto third = Run(server, {"ftppath=in"});
  EXPECT_EQ(third.iExitStatus, 0) << third.sStderr;
  EXPECT_EQ(server.ReadFile("/in/sound.txt"), "kept earlier");
  EXPECT_FALSE(fs::exists(server.LocalPath("/in/damaged.txt")));
  EXPECT_EQ(Entries(OutboxFolder()), std::vector<std::string>{"20240101000000000-damage"});
  log = LastLog();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& s) {
    return s == "Outbox: kept alarm 20240101000000000-damage is damaged and stays where it is: file 1 is missing";
  }));
  EXPECT_EQ(log[log.size() - 2], "Outbox: 1 alarm kept");
  EXPECT_EQ(server.ReadFile("/in/" + sFirstStamp + ".msg"), "read and cleared by the alarm desk");
  EXPECT_EQ(Deliveries(server, "cam1.jpg"), 1);
}

TEST_F(OutboxRun, AFileIsKeptAsTheRunReadItToSendIt) {
  FtpTestServer server({.sKind = "stor_552"});
  const std::string sImage = program.Folder() + "/cam1.jpg";
  std::ofstream(sImage, std::ios::binary) << kCameraPicture;
  // The camera writes its next picture right after the run read the first.
  const auto overwrite = [&sImage, bDone = false](const ProgramCopy& p) mutable {
    if (!bDone && Contains(p.LogText(), "FTP Put " + sImage)) {
      std::ofstream(sImage, std::ios::binary) << "the next picture";
      bDone = true;
    }
    return false;
  };
  auto result = program.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=orvtest",
                                      "ftppwd=Pa55-w0rd!", "alarmimg=" + sImage},
                             .env = kHeadless,
                             .terminateWhen = overwrite});
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  ASSERT_EQ(LibOrv_ReadFile(sImage), "the next picture");
  const Outbox outbox(OutboxFolder());
  ASSERT_EQ(outbox.AlarmNames().size(), 1u);
  const std::optional<KeptAlarm> oKept = outbox.Take(outbox.AlarmNames()[0]);
  ASSERT_TRUE(oKept);
  const OutboxManifest oManifest = oKept->Read();
  ASSERT_EQ(oManifest.files.size(), 1u);
  EXPECT_EQ(oManifest.files[0].sRemotePath, "cam1.jpg");
  EXPECT_EQ(LibOrv_ReadFile(oKept->Path() + "/" + oManifest.files[0].sStoredName), kCameraPicture);
}

TEST_F(OutboxRun, TwoRunsAtOnceDeliverEachKeptAlarmExactlyOnce) {
  FtpTestServer server;
  // Enough kept alarms that the two runs are sure to send at the same time.
  constexpr int kAlarms = 20;
  char acName[32];
  for (int i = 0; i < kAlarms; ++i) {
    std::snprintf(acName, sizeof acName, "20240101%09d-once00", i);
    MakeKeptAlarm(acName, {{"/kept" + std::to_string(i) + ".txt", "alarm " + std::to_string(i)}});
  }
  // Both start together from the same folder, each with nothing of its own.
  auto a = std::async(std::launch::async, [&] { return Run(server, {"ftppath=/"}); });
  auto b = std::async(std::launch::async, [&] { return Run(server, {"ftppath=/"}); });
  const auto resultA = a.get(), resultB = b.get();
  EXPECT_EQ(resultA.iExitStatus, 0) << resultA.sStderr;
  EXPECT_EQ(resultB.iExitStatus, 0) << resultB.sStderr;
  for (int i = 0; i < kAlarms; ++i) {
    const std::string sName = "kept" + std::to_string(i) + ".txt";
    EXPECT_EQ(server.ReadFile("/" + sName), "alarm " + std::to_string(i));
    EXPECT_EQ(Deliveries(server, sName), 1) << sName;
  }
  EXPECT_TRUE(Entries(OutboxFolder()).empty());
}

TEST_F(OutboxRun, AFullOutboxLetsItsOldestAlarmGo) {
  char acName[32];
  for (int i = 0; i < static_cast<int>(Outbox::kMaxAlarms); ++i) {
    std::snprintf(acName, sizeof acName, "20240101%09d-full00", i);
    MakeKeptAlarm(acName, {{"/a" + std::to_string(i) + ".txt", "x"}});
  }
  auto result = RunWithoutServer("x");
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  const std::vector<std::string> kept = KeptAlarms();
  EXPECT_EQ(kept.size(), Outbox::kMaxAlarms);
  EXPECT_EQ(kept.front(), "20240101000000001-full00");
  EXPECT_FALSE(Contains(kept.back(), "-full00")) << "the new alarm is the newest";
  const std::vector<std::string> log = LastLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "Outbox: full, the oldest kept alarm 20240101000000000-full00 was removed"),
            log.end());
  EXPECT_EQ(log[log.size() - 2], "Outbox: 1000 alarms kept");
}

// The alarm neither goes out nor can be kept: the caller is told, on
// standard error and by exit status 3.
TEST_F(OutboxRun, AnAlarmThatCanNeitherGoOutNorBeKeptEndsTheRunWithStatus3) {
  std::ofstream(OutboxFolder()) << "a file where the folder should be";
  auto result = RunWithoutServer("x");
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 3) << result.sStderr;
  const std::string sSaid = "OrvFtpUploader: the alarm was neither delivered nor kept in the outbox; see the log " +
                            program.LogFileName() + "\n";
  EXPECT_EQ(result.sStderr.find(sSaid), result.sStderr.rfind(sSaid)) << result.sStderr;
  EXPECT_NE(result.sStderr.find(sSaid), std::string::npos) << result.sStderr;
  const std::vector<std::string> log = LastLog();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& s) {
    return s.rfind("Outbox: the alarm could not be kept: ", 0) == 0;
  })) << ::testing::PrintToString(log);
  EXPECT_EQ(log.back(), "terminated normally");
  EXPECT_EQ(LibOrv_ReadFile(OutboxFolder()), "a file where the folder should be");
}

// A file too large to be kept, which does not go out either, is lost: the
// log says why it was not kept, and the caller learns of the loss.
TEST_F(OutboxRun, AFileTooLargeToKeepThatDoesNotGoOutIsSaidLost) {
  const std::string sLarge = program.Folder() + "/large.bin";
  std::ofstream(sLarge).close();
  ASSERT_EQ(::truncate(sLarge.c_str(), static_cast<off_t>(Outbox::kMaxFileSize) + 1), 0);  // sparse
  auto result = program.Run({.args = {"ftpusr=u", "localpath=" + sLarge}, .env = kHeadless});
  EXPECT_EQ(result.iExitStatus, 3) << result.sStderr;
  const std::vector<std::string> log = LastLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Outbox: " + sLarge + " is larger than 256 MiB; it is not kept"), 1)
      << ::testing::PrintToString(log);
  EXPECT_TRUE(KeptAlarms().empty());
}

// A manifest that is a FIFO would hold its reader for ever: the alarm is
// damaged, and the run goes on with the next one.
TEST_F(OutboxRun, AKeptAlarmWhoseManifestIsAFifoIsSkippedAsDamaged) {
  FtpTestServer server;
  MakeKeptAlarm("20240101000000000-fifo00", {{"/fifo.txt", "f"}});
  fs::remove(OutboxFolder() + "/20240101000000000-fifo00/manifest");
  ASSERT_EQ(::mkfifo((OutboxFolder() + "/20240101000000000-fifo00/manifest").c_str(), 0600), 0);
  MakeKeptAlarm("20240101000000001-sound0", {{"/sound.txt", "kept earlier"}});
  const auto t0 = std::chrono::steady_clock::now();
  auto result = Run(server, {"ftppath=/"});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(25));
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  EXPECT_EQ(server.ReadFile("/sound.txt"), "kept earlier");
  EXPECT_FALSE(fs::exists(server.LocalPath("/fifo.txt")));
  EXPECT_EQ(KeptAlarms(), std::vector<std::string>{"20240101000000000-fifo00"});
  const std::vector<std::string> log = LastLog();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Outbox: kept alarm 20240101000000000-fifo00 is damaged and stays where it is: its manifest "
                       "cannot be read (Bad file mode)"),
            1)
      << ::testing::PrintToString(log);
}

TEST_F(OutboxRun, AKilledRunsAlarmIsSentByTheNextRunOnceAndWhole) {
  // The server takes uploads in at 256 KiB/s, so the image is on its way
  // for seconds when the run is killed.
  FtpTestServer server({.sKind = "slow_upload"});
  server.MakeFolder("/in");
  const std::string sImage = program.Folder() + "/cam1.jpg";
  std::string sPicture(1 << 20, '\0');
  for (std::size_t i = 0; i < sPicture.size(); ++i) sPicture[i] = static_cast<char>(i * 7 + i / 4096);
  std::ofstream(sImage, std::ios::binary) << sPicture;
  const auto partArrived = [&server](const ProgramCopy&) {
    for (const std::string& sName : Entries(server.LocalPath("/in")))
      if (sName.rfind(".cam1", 0) == 0 && fs::file_size(server.LocalPath("/in/" + sName)) > 0) return true;
    return false;
  };
  auto first = program.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=orvtest",
                                     "ftppwd=Pa55-w0rd!", "ftppath=in", "msg=Fire", "alarmimg=" + sImage},
                            .env = kHeadless,
                            .timeout = std::chrono::seconds(60),
                            .terminateWhen = partArrived,
                            .iTerminateSignal = SIGKILL});
  ASSERT_EQ(first.iSignal, SIGKILL) << first.sStderr;
  const std::string sStamp = fs::path(Entries(program.Folder() + "/log").back()).stem().string();
  ASSERT_EQ(KeptAlarms().size(), 1u);
  EXPECT_TRUE(Contains(server.ReadFile("/in/" + sStamp + ".msg"), "Fire\r\nZeit "));

  // The next run brings nothing of its own.
  auto second = Run(server, {"ftppath=in"});
  EXPECT_EQ(second.iExitStatus, 0) << second.sStderr;
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), sPicture);
  EXPECT_EQ(Entries(server.LocalPath("/in")), (std::vector<std::string>{sStamp + ".msg", "cam1.jpg"}))
      << "no temporary file is left on the server";
  EXPECT_EQ(Deliveries(server, sStamp + ".msg"), 1) << "what arrived is not sent again";
  EXPECT_EQ(Deliveries(server, "cam1.jpg"), 1);
  // Both tries of the image went under one temporary name, so the second
  // replaced what the first left.
  std::vector<std::string> stores;
  for (const std::string& s : server.Commands())
    if (s.rfind("STOR .cam1", 0) == 0) stores.push_back(s);
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(stores[0], stores[1]);
  EXPECT_TRUE(Entries(OutboxFolder()).empty());
}

TEST_F(OutboxRun, AKeptAlarmTheServerRefusesHoldsBackNoOther) {
  FtpTestServer server;
  server.MakeFolder("/in");
  // A remote path with a line break cannot go into a command.
  MakeKeptAlarm("20240101000000000-refus4", {{"/in/bad\nname.txt", "a"}}, Outbox::kMaxRefusals - 1);
  MakeKeptAlarm("20240101000000001-refus0", {{"/in/bad\nname.txt", "b"}});
  MakeKeptAlarm("20240101000000002-sound0", {{"/in/sound.txt", "kept earlier"}});
  auto result = Run(server, {"ftppath=in"});
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  EXPECT_EQ(server.ReadFile("/in/sound.txt"), "kept earlier");
  EXPECT_EQ(KeptAlarms(), std::vector<std::string>{"20240101000000001-refus0"});
  EXPECT_EQ(Outbox(OutboxFolder()).Take("20240101000000001-refus0")->Read().iRefusals, 1);
  EXPECT_TRUE(fs::exists(OutboxFolder() + "/failed/20240101000000000-refus4/manifest"));
  const std::vector<std::string> log = LastLog();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& s) {
    return s.rfind("Outbox: kept alarm 20240101000000000-refus4 was refused 5 times and is set aside in ", 0) == 0;
  })) << ::testing::PrintToString(log);
  EXPECT_EQ(log[log.size() - 2], "Outbox: 1 alarm kept");
}

}  // namespace
