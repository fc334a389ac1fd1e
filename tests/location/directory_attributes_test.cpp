#include "location/directory_attributes.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

TEST(DirectoryAttributesTest, OnlyUsableDirectoriesCount) {
  const struct {
    const char* name;
    std::uint32_t attributes;
    std::uint32_t tag;
    bool directory;
  } cases[] = {
      {"folder", 0x10, 0, true},
      {"read-only hidden folder", 0x13, 0, true},
      {"file", 0x20, 0, false},
      {"no attributes", 0x80, 0, false},
      {"folder link (name surrogate)", 0x410, 0xA000000C, false},
      {"junction (name surrogate)", 0x410, 0xA0000003, false},
      {"folder with a non-surrogate reparse point", 0x410, 0x80000017, true},
      {"surrogate tag without the reparse attribute", 0x10, 0xA000000C, true},
      {"file link", 0x420, 0xA000000C, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileAttributes attributes;
    attributes.attributes = c.attributes;
    attributes.reparseTag = c.tag;
    EXPECT_EQ(describesDirectory(attributes), c.directory);
  }
}

}  // namespace
}  // namespace qmt
