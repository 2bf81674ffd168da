// Line splitting at single separator characters; separators are never merged.
#include "console/utils-argparser.hpp"

#include "utils/utils-types.hpp"

namespace Utils::ArgParser {
namespace {

// A list grown past this many slices by one huge line is released rather than kept.
constexpr std::size_t kKeptCapacity = 4096;

char separator = '\0';
std::vector<Word_Slice> arguments;

}  // namespace

void Set_Separator(char sep) {
  separator = sep;
}

void Parse(std::string_view line) {
  if (arguments.capacity() > kKeptCapacity) {
    std::vector<Word_Slice>().swap(arguments);
  } else {
    arguments.clear();
  }
  const auto length = static_cast<std::int32_t>(line.size());
  std::int32_t start = 1;
  for (std::int32_t i = 1; i <= length; ++i) {
    if (line[static_cast<std::size_t>(i - 1)] == separator) {
      arguments.push_back({start, i - 1});
      start = i + 1;
    }
  }
  arguments.push_back({start, length});
}

std::string Get_Argument(std::string_view line, int n) {
  if (n < 0 || static_cast<std::size_t>(n) >= arguments.size()) return std::string();
  const Word_Slice slice = arguments[static_cast<std::size_t>(n)];
  if (slice.FINAL < slice.INIT) {
    Require(slice.FINAL == slice.INIT - 1 && slice.INIT >= 1 &&
                static_cast<std::size_t>(slice.FINAL) <= line.size(),
            "word outside the line");
    return std::string();
  }
  Require(slice.INIT >= 1 && static_cast<std::size_t>(slice.FINAL) <= line.size(),
          "word outside the line");
  return std::string(line.substr(static_cast<std::size_t>(slice.INIT - 1),
                                 static_cast<std::size_t>(slice.FINAL - slice.INIT + 1)));
}

int Get_Count() {
  return static_cast<int>(arguments.size());
}

Word_Slice Get_Slice(int n) {
  Require(n >= 0 && static_cast<std::size_t>(n) < arguments.size(), "no such word");
  return arguments[static_cast<std::size_t>(n)];
}

void Reset() {
  separator = '\0';
  std::vector<Word_Slice>().swap(arguments);
}

}  // namespace Utils::ArgParser
