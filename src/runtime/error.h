#pragma once
// The error value of the platform layer (file access, process creation): a Windows error code, or one of the
// layer's own errors with a fixed English text. It is turned into text only when a message is composed.

#include <cstdint>
#include <string_view>

namespace qmt {

enum class ErrorKind : std::uint8_t {
  System,        // a Windows error code (GetLastError, or an NT status converted by RtlNtStatusToDosError)
  NulInPath,     // "strings passed to WinAPI cannot contain NULs"
  WriteZero,     // "failed to write whole buffer"
  OutOfMemory,   // "out of memory": a buffer that may fail could not be allocated
  NoFileName,    // "program path has no file name"
  NulInData,     // "nul byte found in provided data"
};

struct Error {
  ErrorKind kind = ErrorKind::System;
  std::uint32_t code = 0;  // meaningful for ErrorKind::System only

  static constexpr Error system(std::uint32_t windowsCode) { return {ErrorKind::System, windowsCode}; }
  static constexpr Error of(ErrorKind kind) { return {kind, 0}; }
  bool isSystem(std::uint32_t windowsCode) const { return kind == ErrorKind::System && code == windowsCode; }
  friend bool operator==(const Error&, const Error&) = default;
};

// The fixed English text of an error that is not a Windows code; empty for ErrorKind::System.
constexpr std::string_view fixedErrorText(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::System: return {};
    case ErrorKind::NulInPath: return "strings passed to WinAPI cannot contain NULs";
    case ErrorKind::WriteZero: return "failed to write whole buffer";
    case ErrorKind::OutOfMemory: return "out of memory";
    case ErrorKind::NoFileName: return "program path has no file name";
    case ErrorKind::NulInData: return "nul byte found in provided data";
  }
  return {};
}

// Windows error codes the portable code decides on (winerror.h names).
namespace win_error {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidDrive = 15;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kBadNetPath = 53;
inline constexpr std::uint32_t kBadNetName = 67;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kDirNotEmpty = 145;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kEnvVarNotFound = 203;
inline constexpr std::uint32_t kCantAccessFile = 1920;
}  // namespace win_error

}  // namespace qmt
