#pragma once

#include <exception>
#include <string>

// The one error type of the program: a numbered error with the runtime's
// description and the procedure it came from. Every failing operation raises
// it; the few places that handle errors read its three parts.
class OrvError : public std::exception {
 public:
  // Numbers used across the program.
  static constexpr long kInvalidCall = 5;
  static constexpr long kOverflow = 6;
  static constexpr long kSubscriptOutOfRange = 9;
  static constexpr long kFileNotFound = 53;
  static constexpr long kBadFileMode = 54;
  static constexpr long kDeviceIo = 57;
  static constexpr long kDiskFull = 61;
  static constexpr long kPermissionDenied = 70;
  static constexpr long kPathFileAccess = 75;
  static constexpr long kPathNotFound = 76;
  static constexpr long kComponentLoad = 372;

  OrvError(long lNumber, std::string sDescription, std::string sSource);

  // An error with the runtime's standard description for its number.
  static OrvError FromNumber(long lNumber, std::string sSource);
  // The error a failed file operation on sPath with errno value iErrno stands for.
  static OrvError FromErrno(int iErrno, const std::string& sPath, std::string sSource);
  static std::string StandardDescription(long lNumber);

  long Number() const { return m_lNumber; }
  const std::string& Description() const { return m_sDescription; }
  const std::string& Source() const { return m_sSource; }
  const char* what() const noexcept override { return m_sDescription.c_str(); }

 private:
  long m_lNumber;
  std::string m_sDescription;
  std::string m_sSource;
};
