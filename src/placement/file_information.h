#pragma once
// Attributes, reparse tag, size and times of an open handle, as queryAttributes and readWholeFile take them.

#include <windows.h>

#include "placement/file_access.h"

namespace qmt {

inline std::uint64_t joinHighLow(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }
inline std::uint64_t fileTimeValue(const FILETIME& time) {
  return joinHighLow(time.dwHighDateTime, time.dwLowDateTime);
}

// GetFileInformationByHandle, plus GetFileInformationByHandleEx(FileAttributeTagInfo) for the tag when the
// object is a reparse point. A failure of either call is the system error.
Expected<FileAttributes, Error> informationOfHandle(HANDLE file);

}  // namespace qmt
