#include "placement/buffer_growth.h"

#include <gtest/gtest.h>

#include <vector>

namespace qmt {
namespace {

// Plays back scripted reports and records the capacity of each call; the text written is "x" repeated.
struct ScriptedFill {
  std::vector<FillReport> script;
  std::vector<std::uint32_t> capacities;
  FillCall function() {
    return [this](char16_t* buffer, std::uint32_t capacity) {
      FillReport report = script.at(capacities.size());
      capacities.push_back(capacity);
      if (report.result < capacity && report.result > 0) std::fill(buffer, buffer + report.result, u'x');
      if (report.result == capacity && report.lastError == 0) std::fill(buffer, buffer + capacity, u'y');
      return report;
    };
  }
};

TEST(BufferGrowthTest, GrowthRules) {
  struct Case {
    const char* name;
    std::vector<FillReport> script;
    std::vector<std::uint32_t> expectedCapacities;
    std::size_t expectedLength;  // of an "x" text, or SIZE_MAX for a failure with code 5
  };
  const Case cases[] = {
      {"fits at once", {{10, 0}}, {512}, 10},
      {"asks for a larger buffer", {{700, 0}, {699, 0}}, {512, 700}, 699},
      {"doubles on insufficient buffer", {{512, 122}, {1024, 122}, {1500, 0}}, {512, 1024, 2048}, 1500},
      {"empty text without error", {{0, 0}}, {512}, 0},
      {"failure with the last error", {{0, 5}}, {512}, SIZE_MAX},
      {"failure after growing", {{900, 0}, {0, 5}}, {512, 900}, SIZE_MAX},
  };
  for (const auto& c : cases) {
    ScriptedFill fill{c.script, {}};
    auto result = fillWithGrowth(fill.function());
    EXPECT_EQ(fill.capacities, c.expectedCapacities) << c.name;
    if (c.expectedLength == SIZE_MAX) {
      ASSERT_FALSE(result) << c.name;
      EXPECT_EQ(result.error(), Error::system(5)) << c.name;
    } else {
      ASSERT_TRUE(result) << c.name;
      EXPECT_EQ(*result, std::u16string(c.expectedLength, u'x')) << c.name;
    }
  }
}

TEST(BufferGrowthTest, ResultEqualToTheBufferWithoutErrorIsTakenAsIs) {
  ScriptedFill fill{{{512, 0}}, {}};
  auto result = fillWithGrowth(fill.function());
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, std::u16string(512, u'y'));
}

}  // namespace
}  // namespace qmt
