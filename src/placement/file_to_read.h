#pragma once
// A file opened for reading as readWholeFile and holdsExactly open it: with read, write and delete sharing, its size
// taken as a hint, and a reader that transfers through the file system calls.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "placement/whole_read.h"
#include "runtime/error.h"
#include "runtime/expected.h"
#include "runtime/handle.h"

namespace qmt {

struct FileToRead {
  UniqueHandle file;
  std::optional<std::uint64_t> sizeHint;
};

// Opens the file at `path` for reading; fails with the conversion's or the open's error.
Expected<FileToRead, Error> openToRead(std::u16string_view path);

// Reads from `handle` at its current position, one transfer per call.
ReadTransfer readerOf(HANDLE handle);

}  // namespace qmt
