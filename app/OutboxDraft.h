#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Outbox.h"

// The alarm of the running alarm run while the run tries to deliver it: its
// parts (the message text, the files), which of them arrived, and copies of
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

  // The run starts sending the part for sRemotePath; a file is copied as it
  // is now (a part not added before joins the alarm).
  void Sending(const std::string& sRemotePath, const std::string& sLocalPath = "");
  // The part last started arrived.
  void Arrived();

  bool Empty() const { return m_vParts.empty(); }
  bool Delivered() const;

  // Keeps the parts that did not arrive as a new kept alarm meant for the
  // given server, user (never a password) and folder, with log lines that
  // say what was kept or why not. False when nothing could be kept.
  bool Keep(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
            const OutboxLogFn& fnLog);

 private:
  struct Part {
    std::string sRemotePath;
    bool bText = false;
    std::string sText;
    std::string sLocalPath;
    std::string sCopy;  // the copy's name in the work folder; empty for none
    std::uint64_t lSize = 0;
    std::string sNotKept;  // why no copy could be made
    bool bArrived = false;
  };

  std::size_t PartIndex(const std::string& sRemotePath);
  // Copies the part's file into the work folder. A copy that fails keeps
  // the part's earlier copy, if any, and notes why.
  void Copy(Part& oPart);
  std::string NewStoredName();
  const std::string& WorkFolder();

  const Outbox& m_oOutbox;
  std::string m_sStamp;
  std::vector<Part> m_vParts;
  std::size_t m_lSending = 0;  // 1 + the index of the part last started; 0 for none
  std::string m_sWork;
  UniqueFd m_fdWorkLock;
  int m_iStored = 0;
};
