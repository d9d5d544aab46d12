#pragma once

#include <string>

#include "CurlHandles.h"

// An SSH host key as ssh shows it: its type and its SHA256 fingerprint
// ("ssh-ed25519 SHA256:2i9...").
std::string SshKeyText(const curl_khkey& key);
