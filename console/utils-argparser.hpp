// Cuts a command line into words at a separator character and hands out the words by number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Utils::ArgParser {

// A word of the parsed line: indexes of its first and last character, counted from 1.
// An empty word has FINAL = INIT - 1.
struct Word_Slice {
  std::int32_t INIT;
  std::int32_t FINAL;
};

// `separator` becomes the separator (initially the character with code 0).
void Set_Separator(char separator);

// Replaces the word list by the words of `line`: s separators give s + 1 words, adjacent
// separators enclose an empty word, and an empty line is one empty word.
void Parse(std::string_view line);

// A copy of word n of `line` (the line that was parsed); the empty text when n is beyond the
// last word. Raises Range_Error when the slice does not lie within `line`.
std::string Get_Argument(std::string_view line, int n);

// The number of words of the last parsed line.
int Get_Count();

// Slice n of the last parsed line; Range_Error beyond the last word.
Word_Slice Get_Slice(int n);

// Back to the start-up state: separator code 0, empty word list, memory released.
void Reset();

}  // namespace Utils::ArgParser
