// What both tools do around their pass: read the command line, open and check the files, run the
// pass, and turn every failure into one message and an exit status. Nothing here prints; each
// tool's main prints the message it gets back.
#pragma once

#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace srec {

inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

struct RunOutcome {
  int exitStatus = exitSuccess;
  std::string message; // empty on success
};

// Reads the command line of a tool that takes `operands` file operands. A lone --help/-h gives
// the usage line and a lone --version the version line, both with success; a wrong count gives
// the usage line with exitUsage. Nothing is returned when the tool should run.
std::optional<RunOutcome> parseCommandLine(int argc, const char* const* argv, int operands,
                                           std::string_view usage, std::string_view versionLine);

// A pass reads tokens and writes its output; it returns the message of a failure of its own, or
// an empty string. Read and write failures are the runner's to report.
using Pass = std::function<std::string(TokenReader&, BufferedWriter&)>;

// Opens `inputPath`, refuses an output that is the input itself, creates `outputPath`, runs the
// pass from one to the other and closes both. After any failure once the output is open, a
// regular output file is removed.
RunOutcome runPass(const char* inputPath, const char* outputPath, const Pass& pass);

// Hexadecimal digits of `value` without leading zeros, in lower or upper case.
std::string toHex(std::uint32_t value, bool upperCase = false);

} // namespace srec
