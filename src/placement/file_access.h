#pragma once
// The file-system primitives of the setup. Every operation converts each of its paths with systemPathForm
// (preferVerbatim set) before any other call, opens files with read, write and delete sharing, closes every handle
// before it returns, and reports one Error value on failure; none shows anything.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/byte_buffer.h"
#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// The NUL-terminated UTF-16 string handed to the system for `path` (the terminating NUL is the string's own
// c_str() terminator, not part of its size). Relative, rooted-but-driveless and long paths become full
// extended-length paths; a path holding a NUL fails with ErrorKind::NulInPath.
Expected<std::u16string, Error> systemPathForm(std::u16string_view path, bool preferVerbatim);

// GetFullPathNameW of a path with the growth rules shared by every caller: first buffer 512 units, last error
// cleared before each call, a larger buffer when the system reports the size it needs, doubling on
// ERROR_INSUFFICIENT_BUFFER; 0 with a last error fails with that code, 0 without one is an empty result.
// Precondition: `path` holds no NUL.
Expected<std::u16string, Error> fullPathName(const std::u16string& path);

struct FileAttributes {
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_*
  std::uint32_t reparseTag = 0;  // meaningful when attributes has FILE_ATTRIBUTE_REPARSE_POINT
  std::uint64_t size = 0;
  std::uint64_t creationTime = 0, lastAccessTime = 0, lastWriteTime = 0;  // FILETIME values
};

// Attributes of the object at `path`, links followed, with the directory-entry fall-back for objects that cannot
// be opened and the retry on the link itself for ERROR_CANT_ACCESS_FILE.
Expected<FileAttributes, Error> queryAttributes(std::u16string_view path);

// Whether queryAttributes succeeds for `path` (a file or a directory); errors are discarded.
bool isPresent(std::u16string_view path);

// The whole content of the file at `path`, read with the size-hinted strategy (normally one transfer of the
// whole file plus one 32-byte probe).
Expected<ByteBuffer, Error> readWholeFile(std::u16string_view path);

// Whether the file at `path` holds exactly `content`: opened and sized as readWholeFile opens and sizes it, then
// decided by the size alone when it differs, otherwise read in pieces and compared up to the file's end
// (compareInPieces). Fails with the open's error, a read error, or ErrorKind::OutOfMemory.
Expected<bool, Error> holdsExactly(std::u16string_view path, std::span<const std::uint8_t> content);

// Creates or truncates the file at `path` and writes all of `content`; nothing is flushed.
Expected<void, Error> writeWholeFile(std::u16string_view path, std::span<const std::uint8_t> content);

// Renames `from` to `to`, replacing an existing file there (through a handle with POSIX semantics when
// MoveFileExW is denied access).
Expected<void, Error> renameFile(std::u16string_view from, std::u16string_view to);

// Deletes the file at `path` (through a handle, ignoring the read-only attribute, when DeleteFileW is denied).
Expected<void, Error> removeFile(std::u16string_view path);

}  // namespace qmt
