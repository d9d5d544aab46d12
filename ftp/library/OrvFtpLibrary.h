#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The program's FTP client library. All protocol work is done by libcurl on
// worker threads; every request ends in exactly one callback, which runs on
// the thread that calls OrvFtpClientPump, never inside the request call.
//
// Texts are NUL-terminated byte strings, valid only during the call or the
// callback. Handles and result codes are 32-bit; sizes and pointers have
// their natural width. A result code is 0 for success, the server's reply
// code when the server refused (530, 550, 552, 553, ...), or minus the
// libcurl error code otherwise (-7 could not connect, -28 time-out, -43 for
// a handle that names no open connection, ...).
//
// The inactivity limit given with each request is in milliseconds: a
// connect, a wait for a server reply or a transfer that moves no byte for
// that long fails the request with -28. A byte has moved once the server
// has it: an upload over a slow link lives while the server acknowledges
// some of what the kernel still holds to send, also while the server's
// reply to it waits for the last of those bytes, however long the whole
// transfer takes, as long as it moves at least 64 bytes a second on
// average over each 60 s; a slower one fails with -28 too. A server reply
// counts once it is whole.

// The result codes the comments below name, for callers that tell them
// apart.
namespace OrvFtpResult {
inline constexpr int32_t kOk = 0;
// A path or name that cannot go into a command.
inline constexpr int32_t kMalformed = -3;
inline constexpr int32_t kCannotConnect = -7;
// A local file that ends before the size it was put with.
inline constexpr int32_t kShortFile = -18;
// A local file or ~/.ssh/known_hosts that cannot be written.
inline constexpr int32_t kLocalWriteError = -23;
// A local file that cannot be read.
inline constexpr int32_t kLocalReadError = -26;
inline constexpr int32_t kTimedOut = -28;
inline constexpr int32_t kCancelled = -42;
// A handle that names no open connection (or no host key to trust).
inline constexpr int32_t kNoConnection = -43;
// A server whose certificate or host key is not trusted.
inline constexpr int32_t kPeerNotVerified = -60;
// A listing beyond the bounds FtpText.h names.
inline constexpr int32_t kTooLarge = -63;
// A server that refuses TLS.
inline constexpr int32_t kTlsRefused = -64;
// The extra certificate authorities (ORV_FTP_CA_FILE) cannot be read.
inline constexpr int32_t kCaFileUnreadable = -77;
}  // namespace OrvFtpResult

// Callbacks return 0. lUserValue is the last argument of the request.
using OrvFtpLogCallback = int32_t (*)(const char* sText);
using OrvFtpDirCallback = int32_t (*)(int32_t lHandle, int32_t lErrCode, const char* sRequestId,
                                      intptr_t lUserValue, int32_t lFolderCount, const char* const* asFolders,
                                      int32_t lFileCount, const char* const* asFiles);
// What a listing tells of a file: its size in bytes and the time of its
// last change in seconds since 1970 UTC, each -1 where the listing does not
// say. A LIST line's clock is taken as UTC, as most servers list it.
struct OrvFtpFileFacts {
  int64_t lSize;
  int64_t lModified;
};
// A listing with the facts of each file, aFileFacts[i] those of asFiles[i].
using OrvFtpDirFactsCallback = int32_t (*)(int32_t lHandle, int32_t lErrCode, const char* sRequestId,
                                           intptr_t lUserValue, int32_t lFolderCount,
                                           const char* const* asFolders, int32_t lFileCount,
                                           const char* const* asFiles, const OrvFtpFileFacts* aFileFacts);
using OrvFtpPutCallback = int32_t (*)(int32_t lHandle, int32_t lErrCode, const char* sRequestId,
                                      intptr_t lUserValue);
using OrvFtpGetCallback = int32_t (*)(int32_t lHandle, int32_t lErrCode, const char* sRequestId,
                                      intptr_t lUserValue, std::size_t lDataLength, const char* pData,
                                      int32_t lEndOfData);

// Starts the library (again, after a shutdown). The log callback receives one
// line per failed request and one when a connection opens or closes; it is
// delivered like the request callbacks. Calling it while running only
// replaces the log callback.
void OrvFtpClientInit(OrvFtpLogCallback pfnLog);

// Cancels every request without callbacks, closes every connection, joins
// the library's threads and drops waiting callbacks.
void OrvFtpClientShutdown();

// A new connection handle, or 0 when the library is not running or an
// argument is unusable (empty or malformed host, port 0, a user name or
// password with line breaks). The port is read as unsigned 16 bits. No
// network traffic: connecting and logging in happen with the first request.
// The host may be a name, an IPv4 address or an IPv6 address (bare or in
// brackets).
int32_t OrvFtpClientCreate(const char* sHost, int16_t iPort, const char* sUser, const char* sPassword);

// How a connection protects itself. With either TLS form the control
// connection and every data connection are encrypted, or the request fails;
// nothing ever goes out in plain text instead.
enum class OrvFtpSecurity : int32_t {
  kPlain = 0,
  // AUTH TLS on a plain connection before the login, then PBSZ 0 and
  // PROT P. A server that refuses either fails the request with -64.
  kExplicitTls = 1,
  // TLS from the first byte (usually port 990).
  kImplicitTls = 2,
  // SFTP: the SSH file transfer protocol (usually port 22). Paths start at
  // the folder the server puts the user in; a path that starts with "//"
  // starts at the server's root. The server's host key must be in the
  // user's ~/.ssh/known_hosts, or nothing is sent and the request fails
  // with -60 and a log line that gives the key's type and SHA256
  // fingerprint. With an empty password the user's own key logs in
  // (~/.ssh/id_ed25519, id_ecdsa or id_rsa, unencrypted).
  kSftp = 3,
};

// OrvFtpClientCreate with a choice of security; a value outside
// OrvFtpSecurity gives 0. The server's certificate must verify against the
// system's certificate store and name the host as given; a certificate
// that does not fails the request with -60 and a log line that says why.
// The environment variable ORV_FTP_CA_FILE, read here, may name a PEM file
// of further certificate authorities to trust (for tests, or a private CA);
// when that file cannot be read, requests fail with -77.
int32_t OrvFtpClientCreateSecure(const char* sHost, int16_t iPort, const char* sUser, const char* sPassword,
                                 OrvFtpSecurity eSecurity);

// Requests run one after another in the order they were made, over one
// control connection per handle; different handles run in parallel. A
// request that fails for a reason that may pass (no connection, a lost
// connection, a time-out, replies 421, 425, 426, 450, 451) is tried again
// after 1, 2 and 4 s, each try logged; its callback comes once, at the end.
// A get into a file or a put tried again after data moved goes on from the
// bytes that moved (REST for a get, the size of the temporary file and APPE
// for a put; over SFTP the same offsets), logged as "... resumed from byte
// <n>", with progress counting those bytes as done; a server that refuses
// REST or APPE gets that transfer, and the connection's later ones, from
// byte 0.
// A put arrives whole or not at all: missing folders of its path are made,
// the data goes under a hidden temporary name in the target folder, its
// size on the server is checked, and then it is renamed over the target.
// sPath is the remote folder ("/a/b/") for a listing, the remote file
// ("/a/b/c.txt") otherwise. A path starting with "/" starts at the server's
// root, any other at the login folder. An inactivity limit of 0 or less
// means 10000 ms. A null callback is allowed (the request runs unanswered).
// A listing holds the entries whose names are plain names: one holding
// "/", CR, LF or NUL, or a file named "." or "..", is left out (one log
// line says how many). A listing with a line longer than 64 KiB, more than
// 1,000,000 lines or more than 64 MiB fails with -63 (FtpText.h names the
// bounds).
void OrvFtpClientDirReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                        OrvFtpDirCallback pfnCallback, intptr_t lUserValue);
// The same listing, answered with each file's size and time of change.
void OrvFtpClientDirFactsReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                             OrvFtpDirFactsCallback pfnCallback, intptr_t lUserValue);
// A file larger than lMaxChunkSize yields its first lMaxChunkSize bytes with
// end flag 0, and its transfer is abandoned. A failed get has no data and
// end flag 1.
void OrvFtpClientGetReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                        std::size_t lMaxChunkSize, OrvFtpGetCallback pfnCallback, intptr_t lUserValue);
// The data is copied at the call.
void OrvFtpClientPutReq(int32_t lHandle, const char* sPath, const char* sRequestId, std::size_t lDataLength,
                        const void* pData, int32_t lInactivityMs, OrvFtpPutCallback pfnCallback,
                        intptr_t lUserValue);
// The same, taking the data over without a copy.
void OrvFtpClientPutReqMove(int32_t lHandle, const char* sPath, const char* sRequestId, std::string&& sData,
                            int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue);

// A put of sHead followed by the bytes from offset sHead.size() up to lSize
// of the open file descriptor iFd, which the library reads while it sends
// (so a large file is never held in memory whole) and closes once the
// request has ended, also when it fails, is cancelled or never runs. A file
// that cannot be read fails the request with -26, one that ends before
// lSize with -18; the log line says why. An iFd below 0 puts sHead alone.
void OrvFtpClientPutFileReq(int32_t lHandle, const char* sPath, const char* sRequestId, std::string&& sHead,
                            int iFd, std::uint64_t lSize, int32_t lInactivityMs, OrvFtpPutCallback pfnCallback,
                            intptr_t lUserValue);

// A new temporary name for a put of the file named sName (a plain name):
// hidden, not ending in the name's extension, fitting where the name fits.
std::string OrvFtpClientTemporaryName(const std::string& sName);
// OrvFtpClientPutFileReq whose data goes under the temporary name
// sTemporaryName in the target folder, as OrvFtpClientTemporaryName gave
// it, instead of a new one: a put that a caller starts again, in a later
// process too, replaces what an earlier one that broke off left there. An
// empty name is a new one; a name that is not a plain file name fails the
// request with -3.
void OrvFtpClientPutFileReqAs(int32_t lHandle, const char* sPath, const char* sTemporaryName,
                              const char* sRequestId, std::string&& sHead, int iFd, std::uint64_t lSize,
                              int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue);

// Commands on a remote entry, each answered by one callback; lValue is the
// file's size for a size request and 0 otherwise.
using OrvFtpCmdCallback = int32_t (*)(int32_t lHandle, int32_t lErrCode, const char* sRequestId,
                                      intptr_t lUserValue, int64_t lValue);
// Makes the folder sPath ("/a/new" or "/a/new/"); its parent must exist.
void OrvFtpClientMkDirReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                          OrvFtpCmdCallback pfnCallback, intptr_t lUserValue);
// Renames the file sPath, or the folder when it ends with "/", to sNewName,
// a plain name, in the same folder.
void OrvFtpClientRenameReq(int32_t lHandle, const char* sPath, const char* sNewName, const char* sRequestId,
                           int32_t lInactivityMs, OrvFtpCmdCallback pfnCallback, intptr_t lUserValue);
// Deletes the file sPath, or the empty folder when sPath ends with "/".
void OrvFtpClientDeleteReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                           OrvFtpCmdCallback pfnCallback, intptr_t lUserValue);
// Asks for the size in bytes of the file sPath.
void OrvFtpClientSizeReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                         OrvFtpCmdCallback pfnCallback, intptr_t lUserValue);

// A get of any size into the local file sLocalPath. The data is written
// while it arrives into a temporary file beside it (hidden, its name cut
// to fit), which replaces sLocalPath only once the whole file is there and
// its size is the one the server announced. On any failure the old local
// file is untouched and no temporary file remains; a local file that
// cannot be written fails the request with -23.
void OrvFtpClientGetFileReq(int32_t lHandle, const char* sPath, const char* sLocalPath, const char* sRequestId,
                            int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue);

// Progress of the handle's gets and puts while their data moves, about four
// times a second: bytes done and the total (0 while unknown). Delivered like
// the other callbacks; null stops it.
using OrvFtpProgressCallback = int32_t (*)(int32_t lHandle, const char* sRequestId, intptr_t lUserValue,
                                           uint64_t lDone, uint64_t lTotal);
void OrvFtpClientSetProgress(int32_t lHandle, OrvFtpProgressCallback pfnProgress);

// Ends the handle's running request: it fails with -42 ("cancelled") in its
// own callback, a put's temporary file is removed, a get's old local file
// stays. Called between two requests, it ends the next one as it starts.
// The requests waiting behind it run on.
void OrvFtpClientCancel(int32_t lHandle);
// Every request waiting behind the running one fails with -42 in its own
// callback, in its turn, and nothing of it is done; the running one runs on.
void OrvFtpClientCancelWaiting(int32_t lHandle);

// Why the handle's request whose callback runs, or ran last, failed, as its
// log line gives it ("STOR /a/b.txt -> 553 Could not create file."); empty
// after a success. Never holds a password. Read on the pumping thread.
std::string OrvFtpClientLastFailure(int32_t lHandle);

// SFTP: the server's host key when the last connection attempt refused it
// as unknown (not one that changed), as "ssh-ed25519 SHA256:..."; empty
// otherwise. OrvFtpClientTrustHostKey appends it to the user's
// ~/.ssh/known_hosts as ssh would (made 0600 when new), so that the next
// request connects; it returns 0, -43 when there is no such key, or -23
// when the file cannot be written.
std::string OrvFtpClientUnknownHostKey(int32_t lHandle);
int32_t OrvFtpClientTrustHostKey(int32_t lHandle);

// FTP: the folder the server put the user in at log-in ("/home/u"), as its
// reply to PWD named it, once a request has logged in; empty before, over
// SFTP (whose paths start there), and for a server that did not say.
std::string OrvFtpClientLoginFolder(int32_t lHandle);

// Cancels the handle's outstanding requests without callbacks and closes its
// connection; the handle is invalid afterwards. Every flag value does the
// same (the program passes -1).
void OrvFtpClientClose(int32_t lHandle, int32_t lFlag);

// Copies the text at sSource into the buffer, cut to lBufferSize - 1 bytes
// and NUL-terminated.
void GetStringFromPointer(const char* sSource, char* sDestination, std::size_t lBufferSize);

// Completion delivery. The notifier is called, from any thread, whenever
// callbacks start waiting; the host answers by calling OrvFtpClientPump on
// its user-interface thread soon (a Qt program posts a queued call). Pump
// runs the waiting callbacks one at a time on the calling thread. A Pump
// called while another is running (from inside a callback, say from a nested
// event loop) returns at once; the running one finishes the queue.
void OrvFtpClientSetNotifier(std::function<void()> fnNotify);
void OrvFtpClientPump();
