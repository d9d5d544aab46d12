// The program installed the way the package installs it: in a folder that
// belongs to root and that the user running it cannot write. An ordinary
// account of the test's own runs it; its settings, logs and outbox go to
// that user's own folders, and nothing is written beside the program.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "FtpTestServer.h"
#include "LibOrv.h"
#include "ProgramRun.h"
#include "ServerProcess.h"
#include "TempFolder.h"
#include "cSEC.h"

namespace {

namespace fs = std::filesystem;

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

// A system account made for one test, with its home in a folder of its own;
// both go with the object.
class TestAccount {
 public:
  TestAccount() : m_sName("orvinst" + std::to_string(::getpid())) {
    const fs::path log = fs::path(m_work.Path()) / "useradd.log";
    // Another test may hold the lock on the account files for a moment.
    int iStatus = -1;
    for (int iTry = 0; iTry < 20 && iStatus != 0; ++iTry) {
      if (iTry > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
      iStatus = ServerProcess::Run({"useradd", "--system", "--user-group", "--no-create-home", "--home-dir", Home(),
                                    "--shell", "/usr/sbin/nologin", m_sName},
                                   log);
    }
    if (iStatus != 0) throw std::runtime_error("useradd failed: " + LoopbackFtpServer::ReadWholeFile(log));
    const passwd* pw = ::getpwnam(m_sName.c_str());
    if (!pw) throw std::runtime_error("no account " + m_sName);
    m_uid = pw->pw_uid;
    m_gid = pw->pw_gid;
    // The account passes through the test's folder to its own ones.
    fs::permissions(m_work.Path(), fs::perms::others_exec, fs::perm_options::add);
    // The window toolkit wants a runtime folder of the user's own.
    for (const std::string& sFolder : {Home(), RuntimeFolder()}) {
      fs::create_directory(sFolder);
      Own(sFolder);
      fs::permissions(sFolder, fs::perms::owner_all);
    }
  }
  ~TestAccount() {
    for (int iTry = 0; iTry < 20; ++iTry) {
      if (ServerProcess::Run({"userdel", m_sName}, fs::path(m_work.Path()) / "userdel.log") == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  TestAccount(const TestAccount&) = delete;
  TestAccount& operator=(const TestAccount&) = delete;

  const std::string& Name() const { return m_sName; }
  uid_t Uid() const { return m_uid; }
  std::string Home() const { return m_work.Path() + "/home"; }
  std::string RuntimeFolder() const { return m_work.Path() + "/run"; }
  void Own(const fs::path& path) const {
    if (::chown(path.c_str(), m_uid, m_gid) != 0) throw std::runtime_error("chown failed: " + path.string());
  }
  // The command that runs a program as this account.
  std::vector<std::string> RunAs() const {
    return {"setpriv", "--reuid=" + m_sName, "--regid=" + m_sName, "--init-groups", "--"};
  }

 private:
  TempFolder m_work;
  std::string m_sName;
  uid_t m_uid = 0;
  gid_t m_gid = 0;
};

// The owner and the permission bits of a file or folder, "" when it is missing.
std::string OwnerAndMode(const fs::path& path, uid_t uid) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "";
  char ac[16];
  std::snprintf(ac, sizeof ac, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return std::string(st.st_uid == uid ? "own " : "other ") + ac;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

std::string OnlyLogText(const fs::path& folder) {
  const std::set<std::string> names = Names(folder);
  if (names.size() != 1) return "";
  return LoopbackFtpServer::ReadWholeFile(folder / *names.begin());
}

std::string Decipher(std::string s) {
  cSEC oSec;
  oSec.SetKey(kSettingsKey);
  EXPECT_TRUE(oSec.Decode(s)) << "the file deciphers under the settings key";
  return s;
}

// A sanitizer report of the program goes to its standard error, which the
// test shows: the report folder of the test run is not the account's to write.
std::optional<std::string> SanitizerOptionsWithoutLogPath() {
  const char* sz = std::getenv("ASAN_OPTIONS");
  if (!sz) return std::nullopt;
  std::string sKept;
  std::string sAll = sz;
  for (std::size_t p = 0; p <= sAll.size();) {
    std::size_t e = sAll.find(':', p);
    if (e == std::string::npos) e = sAll.size();
    const std::string sOption = sAll.substr(p, e - p);
    if (!sOption.empty() && sOption.rfind("log_path=", 0) != 0) sKept += (sKept.empty() ? "" : ":") + sOption;
    p = e + 1;
  }
  return sKept;
}

class InstalledRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "making a test account needs root";
    m_account = std::make_unique<TestAccount>();
    // The installed folder: root's, open to all for reading only.
    fs::permissions(m_program.Folder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                            fs::perms::others_read | fs::perms::others_exec);
    std::ofstream(m_program.CfgPath()).close();
    fs::permissions(m_program.CfgPath(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                             fs::perms::others_read);
  }

  std::string Home() const { return m_account->Home(); }

  ProgramCopy::Result RunAsAccount(std::vector<std::string> args,
                                   std::map<std::string, std::optional<std::string>> env = {},
                                   std::function<bool(const ProgramCopy&)> terminateWhen = nullptr) {
    std::map<std::string, std::optional<std::string>> all = {
        {"HOME", Home()},           {"USER", m_account->Name()},   {"LOGNAME", m_account->Name()},
        {"XDG_CONFIG_HOME", {}},    {"XDG_STATE_HOME", {}},        {"XDG_RUNTIME_DIR", m_account->RuntimeFolder()},
        {"DISPLAY", {}},            {"WAYLAND_DISPLAY", {}},       {"QT_QPA_PLATFORM", {}},
        {"ASAN_OPTIONS", SanitizerOptionsWithoutLogPath()}};
    for (auto& [sName, value] : env) all[sName] = value;
    return m_program.Run({.args = std::move(args),
                          .prefix = m_account->RunAs(),
                          .env = all,
                          .timeout = std::chrono::seconds(90),
                          .terminateWhen = std::move(terminateWhen)});
  }

  // Only the program and its untouched template lie beside it.
  void ExpectNothingWrittenBesideTheProgram() const {
    EXPECT_EQ(Names(m_program.Folder()), (std::set<std::string>{"OrvFtpUploader", "OrvFtpUploader.cfg"}));
    EXPECT_EQ(fs::file_size(m_program.CfgPath()), 0u);
  }

  std::unique_ptr<TestAccount> m_account;
  ProgramCopy m_program;
};

TEST_F(InstalledRun, AlarmRunsKeepSettingsAndLogsInTheUsersOwnFolders) {
  FtpTestServer server;
  server.MakeFolder("/in");
  const std::string sImage = Home() + "/cam1.jpg";
  std::ofstream(sImage, std::ios::binary) << "image bytes";
  m_account->Own(sImage);

  auto first = RunAsAccount({"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                             "ftppwd=" + server.Password(), "ftppath=in", "msg=Fire in hall 2", "alarmimg=" + sImage});
  ASSERT_FALSE(first.bTimedOut);
  EXPECT_EQ(first.iExitStatus, 0) << first.sStderr;
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), "image bytes");

  const fs::path config = Home() + "/.config/OrvFtpUploader";
  const fs::path state = Home() + "/.local/state/OrvFtpUploader";
  const uid_t uid = m_account->Uid();
  EXPECT_EQ(OwnerAndMode(config, uid), "own 0700");
  EXPECT_EQ(OwnerAndMode(config / "OrvFtpUploader.cfg", uid), "own 0600");
  EXPECT_EQ(OwnerAndMode(state, uid), "own 0700");
  EXPECT_EQ(OwnerAndMode(state / "log", uid), "own 0700");
  const std::string sLog = OnlyLogText(state / "log");
  const auto entries = ProgramCopy::LogEntries(sLog);
  ASSERT_FALSE(entries.empty()) << "no log in " << state;
  // The start line still names the program's own folder.
  EXPECT_EQ(entries.front(), "OrvFtpUploader Ver. 1.1.3 starting with local PWD=" + m_program.Folder());
  EXPECT_EQ(entries.back(), "terminated normally");
  EXPECT_EQ(sLog.find(server.Password()), std::string::npos);
  ExpectNothingWrittenBesideTheProgram();

  // The next run finds the server and the account in the user's settings.
  auto second = RunAsAccount({"ftppath=in", "msg=Door 3 opened"});
  EXPECT_EQ(second.iExitStatus, 0) << second.sStderr;
  std::set<std::string> msgs;
  for (const std::string& s : Names(server.Root() / "in"))
    if (fs::path(s).extension() == ".msg") msgs.insert(s);
  EXPECT_EQ(msgs.size(), 2u);
  EXPECT_EQ(Names(state / "log").size(), 2u);
  ExpectNothingWrittenBesideTheProgram();
}

TEST_F(InstalledRun, XdgVariablesNameTheFoldersAndTheFirstStartCopiesTheTemplate) {
  // A template that an installer filled in.
  const std::string sPreset = "ftpurl=ftp.example.org\r\nftpusr=alarm\r\nftppwd=preset secret\r\n";
  std::string sCipher = sPreset;
  cSEC oSec;
  oSec.SetKey(kSettingsKey);
  ASSERT_TRUE(oSec.Encode(sCipher));
  LibOrv_WriteFile(sCipher, m_program.CfgPath());

  const fs::path config = Home() + "/xdg/config";
  const fs::path state = Home() + "/xdg/state";
  const fs::path log = state / "OrvFtpUploader/log";
  auto result = RunAsAccount({},
                             {{"QT_QPA_PLATFORM", "offscreen"},
                              {"XDG_CONFIG_HOME", config.string()},
                              {"XDG_STATE_HOME", state.string()}},
                             [&log](const ProgramCopy&) {
                               return OnlyLogText(log).find("CommandLine=") != std::string::npos;
                             });
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;

  const uid_t uid = m_account->Uid();
  EXPECT_EQ(OwnerAndMode(config, uid), "own 0700");
  EXPECT_EQ(OwnerAndMode(config / "OrvFtpUploader", uid), "own 0700");
  EXPECT_EQ(OwnerAndMode(config / "OrvFtpUploader/OrvFtpUploader.cfg", uid), "own 0600");
  EXPECT_EQ(Decipher(LibOrv_ReadFile(config / "OrvFtpUploader/OrvFtpUploader.cfg")), sPreset);
  EXPECT_EQ(OwnerAndMode(state / "OrvFtpUploader", uid), "own 0700");
  EXPECT_EQ(ProgramCopy::LogEntries(OnlyLogText(log)).back(), "terminated normally");
  EXPECT_FALSE(fs::exists(Home() + "/.config/OrvFtpUploader"));
  EXPECT_FALSE(fs::exists(Home() + "/.local/state/OrvFtpUploader"));
  // The template stays as the installer left it.
  EXPECT_EQ(LibOrv_ReadFile(m_program.CfgPath()), sCipher);
  EXPECT_EQ(Names(m_program.Folder()), (std::set<std::string>{"OrvFtpUploader", "OrvFtpUploader.cfg"}));
}

TEST_F(InstalledRun, WithoutTheTemplateTheStartFailsAsBefore) {
  fs::remove(m_program.CfgPath());
  auto result = RunAsAccount({"ftpurl=127.0.0.1", "msg=x"});
  EXPECT_EQ(result.iExitStatus, 2);
  EXPECT_NE(result.sStderr.find("Fehler-Code 53:\nFile not found"), std::string::npos) << result.sStderr;
  EXPECT_FALSE(fs::exists(Home() + "/.config/OrvFtpUploader/OrvFtpUploader.cfg"));
  EXPECT_EQ(Names(m_program.Folder()), (std::set<std::string>{"OrvFtpUploader"}));
}

}  // namespace
