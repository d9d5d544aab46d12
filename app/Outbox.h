#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "OutboxDisk.h"

// The outbox keeps the alarms that an alarm run could not deliver, until a
// later run delivers them. Its folder (owner only: folders 0700, files 0600)
// holds:
//
//   <stamp>-<suffix>/   one kept alarm, named after the start stamp of the
//                       run that kept it, so that names sort oldest first
//     manifest          what the alarm was meant for, where each file goes,
//                       under which temporary name, and which arrived
//     1, 2, ...         the alarm's files as the run read them
//   .new-...            an alarm that a run is putting together
//   .gone-...           an alarm on its way out
//   failed/             alarms that servers refused too often, set aside;
//                       moved back into the outbox, they are tried again
//
// An alarm run keeps its own alarm here before its first byte goes out and
// holds it locked while it sends; the alarm leaves once all its files
// arrived. So a run that is killed leaves its alarm to the next run.
//
// An alarm folder appears by one rename of a complete folder, and leaves by
// one rename before its files are deleted, so that a crash never leaves a
// half-kept alarm under an alarm's name. A run that works on an alarm holds
// an flock on the alarm's folder; other runs skip a locked alarm, so that
// two runs never deliver the same alarm.

using OutboxLogFn = std::function<void(const std::string&)>;

struct OutboxFile {
  std::string sStoredName;  // the file's name in the alarm's folder
  std::uint64_t lSize = 0;
  std::string sRemotePath;
  // The name the file is put under before it is renamed to its own, so
  // that a later try replaces what a broken one left; empty for any.
  std::string sTemporary;
  bool bArrived = false;
};

// A kept alarm's manifest: the server, user and remote folder of the run
// that kept it (never a password), its files in the order they go out, and
// how many deliveries servers refused.
struct OutboxManifest {
  std::string sServer;
  std::string sUser;
  std::string sFolder;
  std::vector<OutboxFile> files;
  int iRefusals = 0;
};

std::string OutboxManifest_Text(const OutboxManifest& oManifest);
// Raises OrvError for a text that is not a whole manifest.
OutboxManifest OutboxManifest_Parse(const std::string& sText);

// A kept alarm that this run holds locked; the lock goes with the object.
class KeptAlarm {
 public:
  const std::string& Name() const { return m_sName; }
  const std::string& Path() const { return m_sPath; }
  // The manifest, checked against the files it names: raises OrvError for
  // an alarm whose manifest cannot be read or that misses a file.
  OutboxManifest Read() const;
  // Replaces the manifest at once (a kill leaves the old or the new one);
  // raises OrvError.
  void Write(const OutboxManifest& oManifest) const { WriteManifest(m_sPath, oManifest); }
  // The same for the alarm folder sPath.
  static void WriteManifest(const std::string& sPath, const OutboxManifest& oManifest);

 private:
  friend class Outbox;
  KeptAlarm(std::string sName, std::string sPath, UniqueFd fdLock)
      : m_sName(std::move(sName)), m_sPath(std::move(sPath)), m_fdLock(std::move(fdLock)) {}

  std::string m_sName;
  std::string m_sPath;
  UniqueFd m_fdLock;
};

class Outbox {
 public:
  // A file beyond this size is not kept; the kept alarms together stay
  // within kMaxSize bytes and kMaxAlarms alarms, the oldest going first.
  static constexpr std::uint64_t kMaxFileSize = std::uint64_t{256} << 20;
  static constexpr std::uint64_t kMaxSize = std::uint64_t{1} << 30;
  static constexpr std::size_t kMaxAlarms = 1000;

  static constexpr char kManifestName[] = "manifest";
  static constexpr char kFailedName[] = "failed";
  // A kept alarm that servers refused this often is set aside in failed/.
  static constexpr int kMaxRefusals = 5;

  explicit Outbox(std::string sFolder) : m_sFolder(std::move(sFolder)) {}

  const std::string& Folder() const { return m_sFolder; }
  // The kept alarms' names, oldest first; none while the folder is missing.
  std::vector<std::string> AlarmNames() const;
  // Those of them that no running run holds.
  std::vector<std::string> WaitingAlarmNames() const;
  // Locks the kept alarm sName for this run; nothing when another run holds
  // it or it has gone meanwhile.
  std::optional<KeptAlarm> Take(const std::string& sName) const;
  // The kept alarm sName that this run admitted and holds with fdLock.
  KeptAlarm Hold(const std::string& sName, UniqueFd fdLock) const {
    return KeptAlarm(sName, AlarmPath(sName), std::move(fdLock));
  }
  // Deletes a taken alarm; false when some of it stays.
  bool Remove(KeptAlarm&& oAlarm) const;
  // Moves a taken alarm into failed/; raises OrvError.
  void SetAside(KeptAlarm&& oAlarm) const;
  // Clears up after runs that ended without finishing: an alarm that one
  // had wholly put together is kept, one that it had not is deleted once
  // it is old enough to be nobody's, each with a log line; alarms half
  // removed go.
  void RemoveLeftovers(const OutboxLogFn& fnLog) const;

  // A new, locked work folder inside the outbox (made first if missing)
  // for an alarm of the run started at sStamp; raises OrvError.
  std::pair<std::string, UniqueFd> NewWorkFolder(const std::string& sStamp) const;
  // Moves the complete work folder sWork into place as the newest kept
  // alarm, after removing the oldest ones as far as the limits ask for the
  // lSize bytes it holds, each with a log line. Returns the alarm's name;
  // raises OrvError when it cannot.
  std::string Admit(const std::string& sWork, std::uint64_t lSize, const OutboxLogFn& fnLog) const;
  // The path of the kept alarm sName.
  std::string AlarmPath(const std::string& sName) const { return m_sFolder + "/" + sName; }

 private:
  std::uint64_t AlarmSize(const std::string& sName) const;

  std::string m_sFolder;
};
