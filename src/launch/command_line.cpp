#include "launch/command_line.h"

namespace qmt {
namespace {

constexpr char16_t kBlank = u' ';
constexpr char16_t kTab = u'\t';
constexpr char16_t kQuote = u'"';
constexpr char16_t kBackslash = u'\\';

bool isBlankOrTab(char16_t unit) { return unit == kBlank || unit == kTab; }

// Reads the program name from `p` and returns the position just after it (at its ending blank or tab, or at NUL).
const char16_t* readProgramName(const char16_t* p, std::u16string& name) {
  bool quoted = false;
  for (; *p != 0; ++p) {
    if (*p == kQuote) {
      quoted = !quoted;
    } else if (isBlankOrTab(*p) && !quoted) {
      break;
    } else {
      name.push_back(*p);
    }
  }
  return p;
}

const char16_t* skipBlanksAndTabs(const char16_t* p) {
  while (isBlankOrTab(*p)) ++p;
  return p;
}

// Reads the arguments that start at `p` (after the program name and its following blanks) into `out`.
void readArguments(const char16_t* p, std::vector<std::u16string>& out) {
  std::u16string current;
  bool quoted = false;
  while (*p != 0) {
    const char16_t unit = *p;
    if (isBlankOrTab(unit) && !quoted) {
      out.push_back(std::move(current));
      current.clear();
      p = skipBlanksAndTabs(p);
    } else if (unit == kBackslash) {
      std::size_t run = 0;
      while (*p == kBackslash) ++run, ++p;
      if (*p == kQuote) {
        current.append(run / 2, kBackslash);
        if (run % 2 == 1) {
          current.push_back(kQuote);
          ++p;
        }
      } else {
        current.append(run, kBackslash);
      }
    } else if (unit == kQuote && quoted) {
      if (p[1] == kQuote) {
        current.push_back(kQuote);
        p += 2;
      } else if (p[1] == 0) {
        break;  // a closing quote at the very end: the argument stays quoted, so even an empty one counts
      } else {
        quoted = false;
        ++p;
      }
    } else if (unit == kQuote) {
      quoted = true;
      ++p;
    } else {
      current.push_back(unit);
      ++p;
    }
  }
  if (!current.empty() || quoted) out.push_back(std::move(current));
}

bool needsQuotes(std::u16string_view argument) {
  return argument.empty() || argument.find_first_of(u" \t") != std::u16string_view::npos;
}

void appendArgument(std::u16string& line, std::u16string_view argument) {
  const bool quoted = needsQuotes(argument);
  if (quoted) line.push_back(kQuote);
  std::size_t backslashes = 0;
  for (const char16_t unit : argument) {
    if (unit == kBackslash) {
      ++backslashes;
    } else {
      if (unit == kQuote) line.append(backslashes + 1, kBackslash);
      backslashes = 0;
    }
    line.push_back(unit);
  }
  if (quoted) {
    line.append(backslashes, kBackslash);
    line.push_back(kQuote);
  }
}

}  // namespace

std::vector<std::u16string> splitCommandLineText(const char16_t* line) {
  std::vector<std::u16string> result(1);
  const char16_t* p = readProgramName(line, result.front());
  readArguments(skipBlanksAndTabs(p), result);
  return result;
}

Expected<std::u16string, Error> buildCommandLine(std::u16string_view program,
                                                 const std::vector<std::u16string>& arguments) {
  std::u16string line;
  line.push_back(kQuote);
  line.append(program);
  line.push_back(kQuote);
  for (const std::u16string& argument : arguments) {
    if (argument.find(u'\0') != std::u16string::npos) return unexpected(Error::of(ErrorKind::NulInData));
    line.push_back(kBlank);
    appendArgument(line, argument);
  }
  return line;
}

}  // namespace qmt
