// Transcripts as rows of command and answer, separated by the watermark line.
#include "support/exchanges.hpp"

#include <gtest/gtest.h>

#include "controller/mova.hpp"

namespace Testing {

Transcript Run_Exchanges(const std::vector<Exchange>& exchanges,
                         const Transcript_Options& options) {
  const std::string separator = "INFORMATION_GET_WATERMARK";
  std::vector<std::string> input;
  for (const Exchange& e : exchanges) {
    input.push_back(e.command);
    input.push_back(separator);
  }
  Transcript t = Run_Mova(Lines(input), options);
  const std::vector<std::string> lines = Split_Lines(t.out);
  std::vector<std::string> answers(1);
  std::string out;
  for (const std::string& line : lines) {
    if (line == Mova::Watermark_Text) {
      answers.emplace_back();
      continue;
    }
    answers.back() += answers.back().empty() ? line : "\n" + line;
    out += line + "\n";
  }
  EXPECT_EQ(answers.size(), exchanges.size() + 1) << "the program ended early:\n" << t.out;
  for (std::size_t i = 0; i < exchanges.size() && i < answers.size(); ++i)
    EXPECT_EQ(answers[i], exchanges[i].answer) << "row " << i + 1 << ": " << exchanges[i].command;
  t.out = out;
  return t;
}

}  // namespace Testing
