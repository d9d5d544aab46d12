#include "cStringList.h"

#include <algorithm>
#include <utility>

#include "LibOrv.h"

namespace {

constexpr std::size_t npos = std::string::npos;

// The next occurrence of sSep in t from lFrom; an empty separator occurs nowhere.
std::size_t FindSeparator(const std::string& t, const std::string& sSep, std::size_t lFrom) {
  if (sSep.empty()) return npos;
  return t.find(sSep, lFrom);
}

// In t, which begins with sSep, the position of the separator before item
// lIndex (the k-th occurrence for k = max(lIndex, 1), searched without
// overlaps). npos when t has fewer; lFound then holds how many it has.
std::size_t SeparatorBefore(const std::string& t, const std::string& sSep, long lIndex, long& lFound) {
  const long k = std::max(lIndex, 1L);
  std::size_t p = 0;
  lFound = 1;
  while (lFound < k) {
    std::size_t q = FindSeparator(t, sSep, p + sSep.size());
    if (q == npos) return npos;
    p = q;
    ++lFound;
  }
  return p;
}

// Pads t, which has lFound separators, with empty items up to item lIndex
// and appends sNew there as a full item.
void AppendAsItem(std::string& t, const std::string& sSep, long lIndex, long lFound, const std::string& sNew) {
  for (long i = lFound; i < lIndex; ++i) t += sSep;
  t += sNew;
  t += sSep;
}

// The list text again, without the separator put in front of it.
std::string WithoutLeadingSeparator(const std::string& t, const std::string& sSep) {
  return t.size() >= sSep.size() ? t.substr(sSep.size()) : std::string();
}

bool EndsWith(const std::string& s, const std::string& sEnd) {
  return s.size() >= sEnd.size() && s.compare(s.size() - sEnd.size(), sEnd.size(), sEnd) == 0;
}

}  // namespace

bool cStringList::SetKey(const std::string& s) { return m_oSEC.SetKey(s); }

void cStringList::SetText(std::string sList) {
  if (sList == m_sList) return;
  m_sList = std::move(sList);
  m_bChanged = true;
}

bool cStringList::Load(const std::string& sFileName, bool /*bWithErrorMsg*/) {
  if (!sFileName.empty()) m_sFileName = sFileName;
  // Until the file has been read and deciphered, the list is not its copy.
  m_bChanged = true;
  std::string sData;
  if (!LibOrv_ReadFileUpTo(sData, m_sFileName, kMaxFileSize)) {
    m_sList.clear();
    return false;
  }
  m_sList = std::move(sData);
  bool bResult = false;
  if (!m_sFileName.empty()) {
    bResult = true;
    if (m_oSEC.IsKeyValid() && !m_oSEC.Decode(m_sList)) bResult = false;
  }
  m_bChanged = !bResult;
  return bResult;
}

bool cStringList::Store(const std::string& sFileName) {
  if (!sFileName.empty()) m_sFileName = sFileName;
  if (m_sFileName.empty()) return false;
  std::string sData = m_sList;
  if (m_oSEC.IsKeyValid()) m_oSEC.Encode(sData);
  // The settings file holds the password: owner only.
  LibOrv_WriteFile(sData, m_sFileName, true);
  m_bChanged = false;
  return true;
}

void cStringList::Add(const std::string& sItem) {
  // The text always grows: a change.
  if (!m_sList.empty() && !EndsWith(m_sList, m_sSeparator)) m_sList += m_sSeparator;
  m_sList += sItem;
  m_sList += m_sSeparator;
  m_bChanged = true;
}

void cStringList::Insert(const std::string& sItem, long lIndex) {
  SetText(ListInsertItem(m_sList, m_sSeparator, lIndex, sItem));
}

void cStringList::InsertAscending(const std::string& sItem) {
  const long n = GetSeparatorCount();
  const double x = LibOrv_Val(sItem);
  if (LibOrv_Val(GetItem(n)) <= x) {
    Add(sItem);
    return;
  }
  for (long i = 1; i <= n; ++i) {
    if (LibOrv_Val(GetItem(i)) > x) {
      Insert(sItem, i);
      return;
    }
  }
  Add(sItem);
}

void cStringList::RemoveItem(long lIndex) { SetText(ListRemoveItem(m_sList, m_sSeparator, lIndex)); }

std::string cStringList::GetItem(long lIndex) const { return ListGetItem(m_sList, m_sSeparator, lIndex); }

void cStringList::SetItem(const std::string& sItem, long lIndex) {
  SetText(ListSetItem(m_sList, m_sSeparator, lIndex, sItem));
}

bool cStringList::ExistValue(const std::string& sParamName) const {
  return ListExistParam(m_sList, sParamName, m_sSeparator, m_sOperator);
}

std::string cStringList::GetValue(const std::string& sParamName, const std::string& sDefault) const {
  if (!sDefault.empty() && !ExistValue(sParamName)) return sDefault;
  return ListGetValue(m_sList, sParamName, m_sSeparator, m_sOperator);
}

void cStringList::SetValue(const std::string& sParamName, const std::string& sValue) {
  SetText(ListSetValue(m_sList, sParamName, sValue, m_sSeparator, m_sOperator));
}

void cStringList::RemoveValue(const std::string& sParamName) {
  SetText(ListRemoveValue(m_sList, sParamName, m_sSeparator, m_sOperator));
}

std::string cStringList::GetSubItem(long lIndexRow, long lIndexCol) const {
  return ListGetItem(ListGetItem(m_sList, m_sSeparator, lIndexRow), m_sOperator, lIndexCol);
}

void cStringList::SetSubItem(long lIndexRow, long lIndexCol, const std::string& sNew) {
  const std::string sLine = ListGetItem(m_sList, m_sSeparator, lIndexRow);
  SetText(ListSetItem(m_sList, m_sSeparator, lIndexRow, ListSetItem(sLine, m_sOperator, lIndexCol, sNew)));
}

std::string cStringList::GetParamName(long lIndex) const { return GetSubItem(lIndex, 1); }

std::string cStringList::GetParamValue(long lIndex) const {
  const std::string sLine = GetItem(lIndex);
  const std::size_t p = sLine.find(m_sOperator);
  return p == npos ? sLine : sLine.substr(p + m_sOperator.size());
}

void cStringList::ReplaceAll(const std::string& sFind, const std::string& sReplace) {
  if (sFind.empty()) return;
  for (std::size_t p = m_sList.find(sFind); p != npos; p = m_sList.find(sFind, p + sReplace.size())) {
    m_sList.replace(p, sFind.size(), sReplace);
    if (sFind != sReplace) m_bChanged = true;
  }
}

long cStringList::FindString(const std::string& sFind) const {
  // Like the runtime's InStr, an empty text is found at once in any non-empty list.
  if (sFind.empty()) return m_sList.empty() ? 0 : 1;
  const std::size_t p = m_sList.find(sFind);
  return p == npos ? 0 : static_cast<long>(p) + 1;
}

long cStringList::GetSeparatorCount() const {
  long lCount = 0;
  for (std::size_t p = m_sList.find(m_sSeparator); p != npos; p = m_sList.find(m_sSeparator, p + m_sSeparator.size()))
    ++lCount;
  return lCount;
}

std::string cStringList::ListGetItem(const std::string& sList, const std::string& sSeparator, long lIndex) {
  const std::string t = sSeparator + sList;
  long lFound = 0;
  const std::size_t p = SeparatorBefore(t, sSeparator, lIndex, lFound);
  if (p == npos) return "";
  const std::size_t lStart = p + sSeparator.size();
  const std::size_t lEnd = FindSeparator(t, sSeparator, lStart);
  return lEnd == npos ? t.substr(lStart) : t.substr(lStart, lEnd - lStart);
}

std::string cStringList::ListSetItem(const std::string& sList, const std::string& sSeparator, long lIndex,
                                     const std::string& sNew) {
  std::string t = sSeparator + sList;
  long lFound = 0;
  const std::size_t p = SeparatorBefore(t, sSeparator, lIndex, lFound);
  if (p == npos) {
    AppendAsItem(t, sSeparator, lIndex, lFound, sNew);
  } else {
    const std::size_t lStart = p + sSeparator.size();
    const std::size_t lEnd = FindSeparator(t, sSeparator, lStart);
    if (lEnd == npos) t.replace(lStart, npos, sNew + sSeparator);
    else t.replace(lStart, lEnd - lStart, sNew);
  }
  return WithoutLeadingSeparator(t, sSeparator);
}

std::string cStringList::ListInsertItem(const std::string& sList, const std::string& sSeparator, long lIndex,
                                        const std::string& sNew) {
  std::string t = sSeparator + sList;
  long lFound = 0;
  const std::size_t p = SeparatorBefore(t, sSeparator, lIndex, lFound);
  if (p == npos) AppendAsItem(t, sSeparator, lIndex, lFound, sNew);
  else t.insert(p + sSeparator.size(), sNew + sSeparator);
  return WithoutLeadingSeparator(t, sSeparator);
}

std::string cStringList::ListRemoveItem(const std::string& sList, const std::string& sSeparator, long lIndex) {
  std::string t = sSeparator + sList;
  long lFound = 0;
  const std::size_t p = SeparatorBefore(t, sSeparator, lIndex, lFound);
  if (p == npos) return sList;
  const std::size_t lNext = FindSeparator(t, sSeparator, p + sSeparator.size());
  // The following separator, if any, now ends the preceding item.
  if (lNext == npos) t.erase(p);
  else t.erase(p, lNext - p);
  return WithoutLeadingSeparator(t, sSeparator);
}

bool cStringList::ListExistParam(const std::string& sList, const std::string& sName, const std::string& sSeparator,
                                 const std::string& sOperator) {
  const std::string t = sSeparator + sList;
  return t.find(sSeparator + sName + sOperator) != npos;
}

std::string cStringList::ListGetValue(const std::string& sList, const std::string& sName, const std::string& sSeparator,
                                      const std::string& sOperator) {
  const std::string t = sSeparator + sList;
  const std::string sKey = sSeparator + sName + sOperator;
  const std::size_t p = t.find(sKey);
  if (p == npos) return "";
  const std::size_t lStart = p + sKey.size();
  const std::size_t lEnd = FindSeparator(t, sSeparator, lStart);
  return lEnd == npos ? t.substr(lStart) : t.substr(lStart, lEnd - lStart);
}

std::string cStringList::ListSetValue(const std::string& sList, const std::string& sName, const std::string& sValue,
                                      const std::string& sSeparator, const std::string& sOperator) {
  std::string t = sSeparator + sList;
  const std::string sKey = sSeparator + sName + sOperator;
  const std::string sLine = sName + sOperator + sValue;
  const std::size_t p = t.find(sKey);
  if (p == npos) {
    if (!EndsWith(t, sSeparator)) t += sSeparator;
    t += sLine;
    t += sSeparator;
  } else {
    const std::size_t lItem = p + sSeparator.size();
    const std::size_t lEnd = FindSeparator(t, sSeparator, p + sKey.size());
    if (lEnd == npos) t.replace(lItem, npos, sLine + sSeparator);
    else t.replace(lItem, lEnd - lItem, sLine);
  }
  return WithoutLeadingSeparator(t, sSeparator);
}

std::string cStringList::ListRemoveValue(const std::string& sList, const std::string& sName,
                                         const std::string& sSeparator, const std::string& sOperator) {
  std::string t = sSeparator + sList;
  const std::string sKey = sSeparator + sName + sOperator;
  const std::size_t p = t.find(sKey);
  if (p == npos) return sList;
  std::size_t lEnd = FindSeparator(t, sSeparator, p + sKey.size());
  if (lEnd == npos) {
    // The last item: the list keeps ending with a separator.
    t += sSeparator;
    lEnd = t.size() - sSeparator.size();
  }
  t.erase(p, lEnd - p);
  return WithoutLeadingSeparator(t, sSeparator);
}
