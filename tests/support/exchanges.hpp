// Transcripts written as rows: each command line beside the answer line it must print.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/transcript.hpp"

namespace Testing {

// A command line and the answer line it prints; "" for a command that prints nothing (also a
// line the controller drops).
struct Exchange {
  Exchange(std::string command_line, std::string answer_line = "")
      : command(std::move(command_line)), answer(std::move(answer_line)) {}
  std::string command;
  std::string answer;
};

// Runs the commands through the real binary, each followed by INFORMATION_GET_WATERMARK, whose
// line closes the command's answer, and checks every answer against its row; a mismatch names
// the row. The transcript's standard output comes back without the watermark lines.
Transcript Run_Exchanges(const std::vector<Exchange>& exchanges,
                         const Transcript_Options& options = {});

}  // namespace Testing
