#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// Free helpers of the support library: text scanning, path splitting, whole
// files, text to number, and non-owning object handles. Texts are byte
// strings; positions count bytes from 1.

template <typename A, typename B>
std::common_type_t<A, B> LibOrv_Max(A a, B b) {
  if (a > b) return a;
  return b;
}

std::string LibOrv_CutAtNull(const std::string& s);
std::string LibOrv_DecodeEscapes(std::string s);
std::string LibOrv_Extract(const std::string& s, const std::string& sSeparator, long lIndex);
// True when s holds a CR or an LF: such a text cannot go into one line of a
// protocol or a log.
bool LibOrv_HasLineBreak(const std::string& s);

// The whole content of a regular file; any other kind of file (a FIFO, a
// device, a socket) fails at once with error 54, a folder with error 75.
std::string LibOrv_ReadFile(const std::string& sFileName);
void LibOrv_ReadFileInto(std::string& sData, const std::string& sFileName);
// LibOrv_ReadFileInto for a file that is to hold at most lMaxSize bytes:
// false, with sData empty, for a longer file, of which no more than
// lMaxSize bytes are read, and for a file that is not a regular one. Other
// failures raise the errors of LibOrv_ReadFile.
bool LibOrv_ReadFileUpTo(std::string& sData, const std::string& sFileName, std::size_t lMaxSize);
// Replaces the file's content with sData, or leaves the old file untouched
// when that fails. bPrivate makes the file readable by its owner only; other
// files keep the mode of the file they replace.
void LibOrv_WriteFile(const std::string& sData, const std::string& sFileName, bool bPrivate = false);

std::string LibOrv_GetPath(const std::string& s);
std::string LibOrv_GetFileName(const std::string& s);
// The same for a remote path, whose folders are separated by "/" alone:
// "\" is part of a name there.
std::string LibOrv_GetRemoteFolder(const std::string& s);
std::string LibOrv_GetRemoteName(const std::string& s);

// The numeric value of s as the runtime reads numbers from text (see
// LibOrv_Val), rounded half to even into 32 bits; raises error 6 beyond.
long LibOrv_String2Long(const std::string& s);
double LibOrv_Val(const std::string& s);
// True when s as a whole is a number the runtime would accept.
bool LibOrv_IsNumeric(const std::string& s);

// Non-owning object handles. A handle names a live shared object without
// keeping it alive; LibOrv_PtrToObj turns it back into a counted reference,
// empty once the object is gone.
namespace LibOrvDetail {
long RegisterObject(const std::shared_ptr<void>& o);
std::shared_ptr<void> LookUpObject(long lPtr);
}  // namespace LibOrvDetail

template <typename T>
long LibOrv_ObjToPtr(const std::shared_ptr<T>& o) {
  if (!o) return 0;
  return LibOrvDetail::RegisterObject(std::static_pointer_cast<void>(o));
}

template <typename T>
std::shared_ptr<T> LibOrv_PtrToObj(long lPtr) {
  if (lPtr == 0) return nullptr;
  return std::static_pointer_cast<T>(LibOrvDetail::LookUpObject(lPtr));
}
