#pragma once

#include <curl/curl.h>

#include <memory>

struct CurlEasyDeleter {
  void operator()(CURL* p) const { curl_easy_cleanup(p); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* p) const {
    // Cleanup only fails for a handle that is not a multi handle.
    (void)curl_multi_cleanup(p);
  }
};
struct CurlShareDeleter {
  void operator()(CURLSH* p) const {
    // Cleanup only fails for a share still in use, and every easy handle
    // that uses it is gone first.
    (void)curl_share_cleanup(p);
  }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
struct CurlUrlDeleter {
  void operator()(CURLU* p) const { curl_url_cleanup(p); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlSharePtr = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;
