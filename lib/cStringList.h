#pragma once

#include <cstddef>
#include <string>

#include "cSEC.h"

// A list of text lines kept as one text, each line normally followed by
// CR LF. Lines are addressed by number from 1 (an index of 1 or less is line
// 1; beyond the end reads empty and pads with empty lines on writing), lines
// of the form name=value as named parameters, and the parts of a line between
// "=" signs as columns. The whole list loads from and stores to a file,
// enciphered once a key is set. Searches are exact and case-sensitive.
class cStringList {
 public:
  // What the encoder's SetKey returns; keys shorter than 6 characters are refused.
  bool SetKey(const std::string& s);
  // The largest file Load reads.
  static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

  // Reads the whole file (the last file name when sFileName is empty) and
  // deciphers it under a valid key; false, with an empty list, when
  // deciphering fails, and without reading it whole or waiting for it when
  // the file is longer than kMaxFileSize or no regular file (a FIFO, a
  // device): such a file holds no list. File errors travel to the caller as
  // OrvError and leave the list as it was. bWithErrorMsg is accepted for
  // callers that pass it; it changes nothing.
  bool Load(const std::string& sFileName = "", bool bWithErrorMsg = false);
  // Writes the list, enciphered under a valid key, to sFileName or the last
  // file name, readable by its owner only. False, and nothing written, when
  // no file name was ever given; file errors travel as OrvError.
  bool Store(const std::string& sFileName = "");
  // True when the list may differ from its file: a change of its text since
  // the last Load that read and deciphered the file, or the last Store; and
  // after a Load that found no file or one that did not decipher. A change
  // that gives back the same text (a value set to what it was) is none.
  bool Changed() const { return m_bChanged; }
  void Add(const std::string& sItem);
  void Insert(const std::string& sItem, long lIndex);
  // Inserts before the first line of greater numeric value, after equal ones.
  void InsertAscending(const std::string& sItem);
  void RemoveItem(long lIndex);
  std::string GetItem(long lIndex) const;
  void SetItem(const std::string& sItem, long lIndex);
  bool ExistValue(const std::string& sParamName) const;
  // The value of the first line sParamName=...; sDefault only when there is
  // no such line (an empty value stays empty).
  std::string GetValue(const std::string& sParamName, const std::string& sDefault = "") const;
  void SetValue(const std::string& sParamName, const std::string& sValue);
  void RemoveValue(const std::string& sParamName);
  std::string GetSubItem(long lIndexRow, long lIndexCol) const;
  // Replacing the last column of a line leaves a "=" behind the new text.
  void SetSubItem(long lIndexRow, long lIndexCol, const std::string& sNew);
  std::string GetParamName(long lIndex) const;
  std::string GetParamValue(long lIndex) const;
  void ReplaceAll(const std::string& sFind, const std::string& sReplace);
  // 1-based position in the whole text, 0 when absent.
  long FindString(const std::string& sFind) const;
  long GetSeparatorCount() const;

 private:
  friend struct cStringListTestPeer;

  // Pure operations on any text sList whose items are separated by
  // sSeparator (not empty). Item k follows the k-th separator of
  // sSeparator + sList.
  static std::string ListGetItem(const std::string& sList, const std::string& sSeparator, long lIndex);
  static std::string ListSetItem(const std::string& sList, const std::string& sSeparator, long lIndex,
                                 const std::string& sNew);
  static std::string ListInsertItem(const std::string& sList, const std::string& sSeparator, long lIndex,
                                    const std::string& sNew);
  static std::string ListRemoveItem(const std::string& sList, const std::string& sSeparator, long lIndex);
  static bool ListExistParam(const std::string& sList, const std::string& sName, const std::string& sSeparator,
                             const std::string& sOperator);
  static std::string ListGetValue(const std::string& sList, const std::string& sName, const std::string& sSeparator,
                                  const std::string& sOperator);
  static std::string ListSetValue(const std::string& sList, const std::string& sName, const std::string& sValue,
                                  const std::string& sSeparator, const std::string& sOperator);
  static std::string ListRemoveValue(const std::string& sList, const std::string& sName, const std::string& sSeparator,
                                     const std::string& sOperator);

  // Every change of the list's text goes through here.
  void SetText(std::string sList);

  std::string m_sList;
  std::string m_sSeparator = "\r\n";
  std::string m_sOperator = "=";
  cSEC m_oSEC;
  std::string m_sFileName;
  bool m_bChanged = false;
};
