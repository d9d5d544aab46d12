#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvFtpLibrary.h"

// Binds the FTP library to the program's client objects: starts and stops
// the library, opens and closes connections, and routes the library's
// callbacks by connection handle to the client object that owns the handle.
// Everything here runs on the user-interface thread.

class cOrvFtpClient;

// One registry entry: the owner's non-owning object handle (LibOrv_ObjToPtr)
// and its connection handle.
struct tSubscriber {
  long lWref = 0;
  long lHandle = 0;
};

void FTP_Init();
void FTP_Shutdown();

// Checks the port text, closes any earlier connection of oClient, opens the
// new one (plain FTP unless eSecurity asks for TLS) and registers it. The
// new connection handle, or 0.
long FTP_Subscribe(const std::shared_ptr<cOrvFtpClient>& oClient, const std::string& sIpAddress,
                   const std::string& sTcpPort, const std::string& sUsr, const std::string& sPwd,
                   OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain);
// Closes and removes the connection of oClient, if it has one.
void FTP_Unsubscribe(const std::shared_ptr<cOrvFtpClient>& oClient);
// The same by the object handle, for a client object that is ending and so
// can no longer be referred to by a counted reference.
void FTP_UnsubscribeWref(long lWref);

// The entries in registration order.
const std::vector<tSubscriber>& FTP_Subscribers();
long FTP_SubscriberCnt();

// The library's callbacks.
int32_t FTP_LogCallback(const char* sText);
int32_t FTP_DirCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lIgnored,
                        int32_t lFolderCount, const char* const* asFolders, int32_t lFileCount,
                        const char* const* asFiles);
// The same with each file's size and time.
int32_t FTP_DirFactsCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lIgnored,
                             int32_t lFolderCount, const char* const* asFolders, int32_t lFileCount,
                             const char* const* asFiles, const OrvFtpFileFacts* aFileFacts);
int32_t FTP_PutCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lIgnored);
int32_t FTP_GetCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lIgnored,
                        std::size_t lDataLength, const char* pData, int32_t lEndOfData);
// lCommand is the cOrvFtpClient::Command the request was made for.
int32_t FTP_CommandCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lCommand,
                            int64_t lValue);
int32_t FTP_GetFileCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lCommand);
int32_t FTP_ProgressCallback(int32_t lHandle, const char* sRequestId, intptr_t lIgnored, uint64_t lDone,
                             uint64_t lTotal);
