// Environment lookup through a scripted stand-in for GetEnvironmentVariableW (Wine never answers with a full buffer
// and ERROR_INSUFFICIENT_BUFFER, so that branch is only reachable through this seam), and the choice of the
// target folder from the looked-up values.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "location/environment_lookup.h"
#include "location/target_path.h"

namespace qmt {
namespace {

// Answers each call from a script; copies `value` into the buffer when the script says the call succeeds.
class ScriptedCall final : public EnvironmentCall {
 public:
  struct Step {
    std::uint32_t count;
    std::uint32_t lastError;
    bool fill;  // write `value` (and its NUL) into the buffer
  };
  std::u16string value;
  std::vector<Step> steps;
  std::vector<std::uint32_t> sizes;
  std::vector<std::u16string> names;

  EnvironmentAnswer get(const char16_t* name, char16_t* buffer, std::uint32_t size) override {
    names.emplace_back(name);
    sizes.push_back(size);
    const Step step = steps.at(sizes.size() - 1);
    if (step.fill) {
      std::copy(value.begin(), value.end(), buffer);
      if (value.size() < size) buffer[value.size()] = u'\0';
    }
    return {step.count, step.lastError};
  }
};

TEST(EnvironmentLookupTest, AnswersOfTheSystemThroughSeam) {
  const std::u16string lone{u'a', char16_t(0xD800), u'b'};
  const std::u16string long600(600, u'x');
  const std::u16string exact512(512, u'y');
  const std::u16string huge(40000, u'z');
  const struct {
    const char* name;
    std::u16string value;
    std::vector<ScriptedCall::Step> steps;
    std::optional<std::u16string> result;
    std::vector<std::uint32_t> sizes;
  } cases[] = {
      {"not defined", u"", {{0, 203, false}}, std::nullopt, {512}},
      {"any error means not defined", u"", {{0, 5, false}}, std::nullopt, {512}},
      {"defined and empty", u"", {{0, 0, true}}, u"", {512}},
      {"short value", u"C:\\x", {{4, 0, true}}, u"C:\\x", {512}},
      {"lone surrogate kept", lone, {{3, 0, true}}, lone, {512}},
      {"511 units fit", std::u16string(511, u'v'), {{511, 0, true}}, std::u16string(511, u'v'), {512}},
      {"needs more: grows to the size asked", long600, {{601, 0, false}, {600, 0, true}}, long600, {512, 601}},
      {"40000 units", huge, {{40001, 0, false}, {40000, 0, true}}, huge, {512, 40001}},
      {"full buffer with 122 doubles",
       exact512,
       {{512, 122, false}, {1024, 122, false}, {512, 0, true}},
       exact512,
       {512, 1024, 2048}},
      {"full buffer without 122 is the value", exact512, {{512, 0, true}}, exact512, {512}},
      {"value grew between calls", long600, {{513, 0, false}, {601, 0, false}, {600, 0, true}}, long600,
       {512, 513, 601}},
      {"variable removed between calls", u"", {{700, 0, false}, {0, 203, false}}, std::nullopt, {512, 700}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedCall call;
    call.value = c.value;
    call.steps = c.steps;
    EXPECT_EQ(readEnvironmentValue("QMT_DATA", call), c.result);
    EXPECT_EQ(call.sizes, c.sizes);
    for (const auto& name : call.names) EXPECT_EQ(name, u"QMT_DATA");
  }
}

TEST(EnvironmentLookupTest, DoublingIsCapped) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {512, 1024}, {0x7FFFFFFF, 0xFFFFFFFE}, {0x80000000, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF},
      {0x90000000, 0xFFFFFFFF}};
  for (const auto& [size, doubled] : cases) EXPECT_EQ(doubledBufferSize(size), doubled) << size;
}

class FakeVariables final : public VariableSource {
 public:
  std::map<std::string, std::u16string> defined;
  std::vector<std::string> asked;
  std::optional<std::u16string> lookup(std::string_view name) override {
    asked.emplace_back(name);
    auto found = defined.find(std::string(name));
    if (found == defined.end()) return std::nullopt;
    return found->second;
  }
};

TEST(TargetPathTest, ChoiceFromTheEnvironment) {
  using Asked = std::vector<std::string>;
  const struct {
    const char* name;
    std::map<std::string, std::u16string> defined;
    std::optional<std::u16string> target;
    Asked asked;
  } cases[] = {
      {"data", {{"QMT_DATA", u"D:\\data"}, {"LOCALAPPDATA", u"C:\\L"}}, u"D:\\data\\programme", {"QMT_DATA"}},
      {"data with backslash", {{"QMT_DATA", u"D:\\data\\"}}, u"D:\\data\\programme", {"QMT_DATA"}},
      {"data with slash", {{"QMT_DATA", u"D:\\data/"}}, u"D:\\data/programme", {"QMT_DATA"}},
      {"empty data", {{"QMT_DATA", u""}, {"LOCALAPPDATA", u"C:\\L"}}, u"programme", {"QMT_DATA"}},
      {"drive root", {{"QMT_DATA", u"E:\\"}}, u"E:\\programme", {"QMT_DATA"}},
      {"bare drive", {{"QMT_DATA", u"E:"}}, u"E:programme", {"QMT_DATA"}},
      {"local", {{"LOCALAPPDATA", u"C:\\Users\\u\\AppData\\Local"}},
       u"C:\\Users\\u\\AppData\\Local\\Programs\\Quillmart", {"QMT_DATA", "LOCALAPPDATA"}},
      {"empty local", {{"LOCALAPPDATA", u""}}, u"Programs\\Quillmart", {"QMT_DATA", "LOCALAPPDATA"}},
      {"neither", {{"OTHER", u"x"}}, std::nullopt, {"QMT_DATA", "LOCALAPPDATA"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVariables environment;
    environment.defined = c.defined;
    Expected<std::u16string, SetupFailure> chosen = chooseTargetFolder(environment);
    EXPECT_EQ(environment.asked, c.asked);
    ASSERT_EQ(chosen.has_value(), c.target.has_value());
    if (chosen) {
      EXPECT_EQ(*chosen, *c.target);
    } else {
      EXPECT_EQ(chosen.error().text, "Der Ordner LOCALAPPDATA wurde nicht gefunden.");
    }
  }
}

TEST(TargetPathTest, UnpairedSurrogatePassesUnchanged) {
  FakeVariables environment;
  const std::u16string odd{u'Z', u':', u'\\', char16_t(0xDC00), u'q', char16_t(0xD8FF)};
  environment.defined = {{"QMT_DATA", odd}};
  Expected<std::u16string, SetupFailure> chosen = chooseTargetFolder(environment);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, odd + u"\\programme");
}

}  // namespace
}  // namespace qmt
