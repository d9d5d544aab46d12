#include "SshKeyText.h"

#include <openssl/evp.h>

#include <cstring>
#include <vector>

namespace {

const char* KeyType(curl_khtype eType) {
  switch (eType) {
    case CURLKHTYPE_RSA1:
    case CURLKHTYPE_RSA: return "ssh-rsa";
    case CURLKHTYPE_DSS: return "ssh-dss";
    case CURLKHTYPE_ECDSA: return "ecdsa-sha2-nistp256";
    case CURLKHTYPE_ED25519: return "ssh-ed25519";
    default: return "unknown";
  }
}

std::string Base64(const unsigned char* p, std::size_t n) {
  std::vector<unsigned char> out(4 * ((n + 2) / 3) + 1);
  const int iLength = EVP_EncodeBlock(out.data(), p, static_cast<int>(n));
  return std::string(reinterpret_cast<const char*>(out.data()), iLength > 0 ? static_cast<std::size_t>(iLength) : 0);
}

// The key's bytes: libcurl hands them raw with their length, or as base64
// text with a length of 0.
std::vector<unsigned char> KeyBytes(const curl_khkey& key) {
  if (key.key == nullptr) return {};
  if (key.len > 0) return std::vector<unsigned char>(key.key, key.key + key.len);
  const std::size_t lText = std::strlen(key.key);
  std::vector<unsigned char> out(3 * (lText / 4) + 3);
  const int iLength = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(key.key),
                                      static_cast<int>(lText));
  if (iLength < 0) return {};
  out.resize(static_cast<std::size_t>(iLength));
  // EVP_DecodeBlock counts the padding as bytes.
  for (std::size_t i = lText; i > 0 && key.key[i - 1] == '='; --i) out.pop_back();
  return out;
}

}  // namespace

std::string SshKeyEntry(const curl_khkey& key) {
  const std::vector<unsigned char> bytes = KeyBytes(key);
  // The key begins with its type: a 32-bit big-endian length and the name.
  if (bytes.size() < 4) return {};
  const std::size_t lName = (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) |
                            (std::size_t{bytes[2]} << 8) | std::size_t{bytes[3]};
  if (lName == 0 || lName > bytes.size() - 4 || lName > 64) return {};
  const std::string sType(reinterpret_cast<const char*>(bytes.data()) + 4, lName);
  if (sType.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-@.") != std::string::npos) return {};
  return sType + " " + Base64(bytes.data(), bytes.size());
}

std::string SshKnownHostsName(const std::string& sHost, unsigned iPort) {
  std::string sBare = sHost;
  if (sBare.size() >= 2 && sBare.front() == '[' && sBare.back() == ']') sBare = sBare.substr(1, sBare.size() - 2);
  if (iPort == 22) return sBare;
  return "[" + sBare + "]:" + std::to_string(iPort);
}

std::string SshKeyText(const curl_khkey& key) {
  const std::vector<unsigned char> bytes = KeyBytes(key);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int iDigest = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &iDigest, EVP_sha256(), nullptr) != 1)
    return std::string(KeyType(key.keytype)) + " (no fingerprint)";
  std::string sFingerprint = Base64(digest, iDigest);
  // ssh leaves the padding out.
  while (!sFingerprint.empty() && sFingerprint.back() == '=') sFingerprint.pop_back();
  return std::string(KeyType(key.keytype)) + " SHA256:" + sFingerprint;
}
