#pragma once
// One synchronous read or write on a file handle through NtReadFile / NtWriteFile, at the file's current position.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

enum class TransferDirection : std::uint8_t { Read, Write };

// Transfers up to `length` bytes (capped at 0xFFFFFFFF) between `buffer` and the file, advancing its position, and
// yields the count transferred. A pending call is waited for; a call still pending after the wait ends the process
// with a fatal message. Reads report end of file and the end-of-data codes (109, 232, 10058) as 0 bytes; every
// other failing status is converted with RtlNtStatusToDosError. Nothing is retried. For a write, `buffer` is only
// read from.
Expected<std::size_t, Error> synchronousTransfer(TransferDirection direction, HANDLE file, std::uint8_t* buffer,
                                                 std::size_t length);

}  // namespace qmt
