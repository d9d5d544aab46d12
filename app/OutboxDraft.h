#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Outbox.h"

// The alarm of the running alarm run. Once the run knows what it will send,
// Commit keeps the alarm in the outbox, locked for this run: the message
// text, copies of the files as they are then, and a manifest with each
// piece's remote path and the temporary name it goes under. Each piece is
// marked in the manifest as it arrives, and the alarm leaves the outbox
// once all have arrived. A run that ends in any other way, killed too,
// leaves what did not arrive to a later run.
class OutboxDraft {
 public:
  enum class Piece { kMessage, kImage, kLocalFile };

  OutboxDraft(const Outbox& oOutbox, std::string sStamp);
  ~OutboxDraft();
  OutboxDraft(const OutboxDraft&) = delete;
  OutboxDraft& operator=(const OutboxDraft&) = delete;

  void AddText(Piece ePiece, const std::string& sRemotePath, std::string sText);
  void AddFile(Piece ePiece, const std::string& sRemotePath, const std::string& sLocalPath);

  // Keeps the alarm for the given server, user (never a password) and
  // remote folder. The copies are not waited for on the disk: a thread
  // makes them last behind the transfers. A piece that cannot be kept, or
  // an alarm that cannot be kept at all, is said in the log; the run sends
  // all the same. False when nothing is kept.
  bool Commit(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
              const OutboxLogFn& fnLog);

  // The run starts sending the piece to sRemotePath. A file that is not
  // kept yet is kept as it is now. Returns the temporary name the put goes
  // under; empty for any.
  std::string Sending(Piece ePiece, const std::string& sRemotePath);
  // The piece last started arrived.
  void Arrived();

  bool Empty() const { return m_vPieces.empty(); }
  bool Delivered() const;

  // The run ends with the alarm not delivered: says in the log what stays
  // kept and what of it could not be kept, and lets go of it for later
  // runs. False when nothing is kept.
  bool Keep();
  // After Keep: a piece that did not arrive is not kept either, though it
  // was there to be sent (a text, or a file that is a regular file).
  bool Lost() const;

 private:
  struct PieceState {
    Piece ePiece = Piece::kMessage;
    std::string sRemotePath;
    std::string sTemporary;
    bool bText = false;
    std::string sText;
    std::string sLocalPath;
    std::string sStored;  // its copy's name in the alarm's folder; empty for none
    std::uint64_t lSize = 0;
    std::string sNotKept;   // why no copy could be made
    bool bMissing = false;  // the file was not there (as a regular file) to be copied
    bool bArrived = false;
  };

  PieceState& State(Piece ePiece);
  // Copies the piece into the alarm's folder; false, with the reason noted,
  // when it cannot.
  bool Store(PieceState& oPiece);
  OutboxManifest Manifest() const;
  // Writes the manifest of what is kept; false, with a log line, when not.
  bool WriteManifest();
  std::string Folder() const;

  const Outbox& m_oOutbox;
  std::string m_sStamp;
  OutboxLogFn m_fnLog;
  std::string m_sServer, m_sUser, m_sFolder;
  std::vector<PieceState> m_vPieces;
  std::size_t m_lSending = 0;  // 1 + the index of the piece last started; 0 for none
  // Where the copies go: the work folder until the alarm is admitted, then
  // the kept alarm; locked while this run has it.
  std::string m_sWork;
  std::optional<KeptAlarm> m_oKept;
  UniqueFd m_fdWorkLock;
  int m_iStored = 0;
  std::vector<std::unique_ptr<OutboxDiskSync>> m_vSyncs;
};
