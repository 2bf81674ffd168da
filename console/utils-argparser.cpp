// Line splitting at single separator characters; separators are never merged.
#include "console/utils-argparser.hpp"

#include <algorithm>

#include "utils/utils-types.hpp"

namespace Utils::ArgParser {
namespace {

// A list grown past this many slices by one huge line is released rather than kept.
constexpr std::size_t Kept_Capacity = 4096;

char separator = '\0';
std::vector<Word_Slice> arguments;

}  // namespace

void Set_Separator(char sep) {
  separator = sep;
}

void Parse(std::string_view line) {
  if (arguments.capacity() > Kept_Capacity) {
    std::vector<Word_Slice>().swap(arguments);
  } else {
    arguments.clear();
  }
  // Room for every word at once: a line of many separators then takes what its words need.
  arguments.reserve(Utils::Index(std::count(line.begin(), line.end(), separator)) + 1);
  // Slices count from 1; a separator at index i (from 0) ends the word before it at i.
  std::size_t from = 0;
  for (std::size_t at = line.find(separator); at != std::string_view::npos;
       at = line.find(separator, from)) {
    arguments.push_back({static_cast<std::int32_t>(from) + 1, static_cast<std::int32_t>(at)});
    from = at + 1;
  }
  arguments.push_back(
      {static_cast<std::int32_t>(from) + 1, static_cast<std::int32_t>(line.size())});
}

std::string Get_Argument(std::string_view line, int n) {
  if (n < 0 || Utils::Index(n) >= arguments.size()) return std::string();
  const Word_Slice slice = arguments[Utils::Index(n)];
  if (slice.FINAL < slice.INIT) {
    Require(slice.FINAL == slice.INIT - 1 && slice.INIT >= 1 &&
                Utils::Index(slice.FINAL) <= line.size(),
            "word outside the line");
    return std::string();
  }
  Require(slice.INIT >= 1 && Utils::Index(slice.FINAL) <= line.size(), "word outside the line");
  return std::string(
      line.substr(Utils::Index(slice.INIT - 1), Utils::Index(slice.FINAL - slice.INIT + 1)));
}

int Get_Count() {
  return static_cast<int>(arguments.size());
}

Word_Slice Get_Slice(int n) {
  Require(n >= 0 && Utils::Index(n) < arguments.size(), "no such word");
  return arguments[Utils::Index(n)];
}

void Reset() {
  separator = '\0';
  std::vector<Word_Slice>().swap(arguments);
}

}  // namespace Utils::ArgParser
