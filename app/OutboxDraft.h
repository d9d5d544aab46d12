#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Outbox.h"

// The alarm of the running alarm run while the run tries to deliver it: its
// pieces (the message text, the files), which of them arrived, and copies of
// the files made when the run read them to send them, so that what is kept
// is what the run tried to send, whatever becomes of the files afterwards.
// The copies wait in a work folder inside the outbox, which goes away with
// the object unless the alarm was kept.
class OutboxDraft {
 public:
  OutboxDraft(const Outbox& oOutbox, std::string sStamp) : m_oOutbox(oOutbox), m_sStamp(std::move(sStamp)) {}
  ~OutboxDraft();
  OutboxDraft(const OutboxDraft&) = delete;
  OutboxDraft& operator=(const OutboxDraft&) = delete;

  void AddText(const std::string& sRemotePath, std::string sText);
  void AddFile(const std::string& sRemotePath, const std::string& sLocalPath);

  // The run starts sending the piece for sRemotePath; a file is copied as it
  // is now (a piece not added before joins the alarm).
  void Sending(const std::string& sRemotePath, const std::string& sLocalPath = "");
  // The piece last started arrived.
  void Arrived();

  bool Empty() const { return m_vPieces.empty(); }
  bool Delivered() const;

  // Keeps the pieces that did not arrive as a new kept alarm meant for the
  // given server, user (never a password) and folder, with log lines that
  // say what was kept or why not. False when nothing could be kept.
  bool Keep(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
            const OutboxLogFn& fnLog);

 private:
  struct Piece {
    std::string sRemotePath;
    bool bText = false;
    std::string sText;
    std::string sLocalPath;
    std::string sCopy;  // the copy's name in the work folder; empty for none
    std::uint64_t lSize = 0;
    std::string sNotKept;  // why no copy could be made
    bool bArrived = false;
  };

  std::size_t PieceIndex(const std::string& sRemotePath);
  // Copies the piece's file into the work folder. A copy that fails keeps
  // the piece's earlier copy, if any, and notes why.
  void Copy(Piece& oPiece);
  std::string NewStoredName();
  const std::string& WorkFolder();

  const Outbox& m_oOutbox;
  std::string m_sStamp;
  std::vector<Piece> m_vPieces;
  std::size_t m_lSending = 0;  // 1 + the index of the piece last started; 0 for none
  std::string m_sWork;
  UniqueFd m_fdWorkLock;
  int m_iStored = 0;
};
