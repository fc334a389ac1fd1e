#pragma once
// Creating a folder with all its missing parents, written against an injected pair of file-system operations so
// that every outcome of the system calls (and races with other processes) can be produced at will.

#include <string_view>
#include <vector>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// The two file-system operations the creation needs.
class FolderOperations {
 public:
  // Creates the single directory `path` (its parent must exist already): success, or the creation's error.
  virtual Expected<void, Error> createDirectory(std::u16string_view path) = 0;
  // Whether the object at `path` is a directory, or the error of the attribute query when it cannot be queried.
  virtual Expected<bool, Error> queryDirectory(std::u16string_view path) = 0;

 protected:
  ~FolderOperations() = default;
};

// Whether a creation error means that the path or one of its parents is not there (codes 2, 3, 15, 53, 67).
bool meansNotFound(const Error& error);
// Whether a creation error means that an object of that name exists (codes 80, 183).
bool meansAlreadyExists(const Error& error);

// Makes `target` exist as a directory, creating its missing parents first. The walk goes outward from the target,
// trying to create each path, until one is created or found to be a directory, or a root, a bare drive or the end
// of a relative path is reached; the paths found missing on the way are then created parent first. An object that
// exists already counts only when it is a directory. The error is that of the directory whose creation failed.
// A target that has no parent itself (a share root such as \\nas\programme, a drive root) is never created: it
// must be a directory already, else the error is the attribute query's, or ERROR_ALREADY_EXISTS for an object
// that is not a directory. Folders created before a failure stay. An empty target needs nothing.
Expected<void, Error> createFolderTree(std::u16string_view target, FolderOperations& operations);

// The first `count` paths of the outward walk from `target` (the target itself, then its parents), as views into
// `target`, in a list whose capacity is exactly `count`. Precondition: the walk has that many paths with parents.
std::vector<std::u16string_view> missingAncestors(std::u16string_view target, std::size_t count);

}  // namespace qmt
