#pragma once

#include "CurlHandles.h"

// Sets options on an easy handle one after another and keeps the first
// failure, so a chain of settings is checked once at its end.
class EasyOptions {
 public:
  explicit EasyOptions(CURL* pEasy) : m_pEasy(pEasy) {}
  template <typename T>
  EasyOptions& Set(CURLoption eOption, T value) {
    if (m_rc == CURLE_OK) m_rc = curl_easy_setopt(m_pEasy, eOption, value);
    return *this;
  }
  CURLcode Result() const { return m_rc; }

 private:
  CURL* m_pEasy;
  CURLcode m_rc = CURLE_OK;
};
