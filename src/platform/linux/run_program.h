#pragma once
// Running a helper program to its end and reading what it prints (Linux
// only: systemctl for the reminder's schedule).
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quil::platform {

struct ProgramOutput {
  int exit_status = -1;  // the program's exit status; -1 when a signal ended it
  std::string out;       // what it wrote to standard output
};

// Runs `program` (found on PATH) with `args`, waits for it and collects its
// standard output; standard input and error are /dev/null. Nothing when it
// cannot be started or runs longer than `limit` (it is then killed).
// Blocks the calling thread.
std::optional<ProgramOutput> RunProgram(const std::string& program, const std::vector<std::string>& args,
                                        std::chrono::milliseconds limit);

}  // namespace quil::platform
