#pragma once

#include <string>

#include "CurlHandles.h"

// An SSH host key as ssh shows it: its type and its SHA256 fingerprint
// ("ssh-ed25519 SHA256:2i9...").
std::string SshKeyText(const curl_khkey& key);

// The key as a known_hosts line names it after the host: its type as the
// key itself says it and the key in base64 ("ssh-ed25519 AAAAC3Nz...");
// empty for a key that cannot be read.
std::string SshKeyEntry(const curl_khkey& key);

// The host as known_hosts names it: "host" on port 22, "[host]:port" on
// any other. sHost is a name or an address, IPv6 with or without brackets.
std::string SshKnownHostsName(const std::string& sHost, unsigned iPort);
