// What both tools do around their pass: read the command line, open and check the files, run the
// pass, commit the output, and print what each tool's main makes of a failure.
#pragma once

#include "srec/failure.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace srec {

inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// An option word, alone or followed by its value.
struct Option {
  std::string_view word;
  bool takesValue = false;
};

// A tool's command line: options in front of `operands` file names and such. A word is an
// option only while no operand has come, each at most once, and at most `maxOptions` of them;
// any other word is an operand, so a misplaced option makes a wrong operand count.
struct Tool {
  std::string_view name;
  std::string_view usage; // the usage line
  std::string_view help;  // what --help prints after it
  std::size_t operands;
  std::span<const Option> options = {};
  std::size_t maxOptions = 0;
};

struct CommandLine {
  std::vector<std::string> operands;                             // UTF-8
  std::vector<std::pair<std::string_view, std::string>> options; // word and value, as given
  // Set when the tool only prints `text` (usage, help, version) and exits with this status.
  std::optional<int> exitStatus;
  std::string text;

  // The value of an option given (empty for one that takes none), or null.
  [[nodiscard]] const std::string* option(std::string_view word) const;
};

// Prepares the process (standard descriptors) and reads its command line. --help, -h and
// --version count only when they stand alone.
CommandLine readCommandLine(const Tool& tool, int argc, char** argv);

// A pass reads tokens and writes its output; it reports the first failure, its own or the
// reader's and writer's, and stops there.
using Pass = std::function<std::optional<Failure>(TokenReader&, BufferedWriter&)>;

// Opens the input, refuses an output that is the input itself, runs the pass from one to the
// other, and commits the output only when all of it and every message was written. After a
// failure the output is as it was before the run.
std::optional<Failure> runPass(const std::string& inputPath, const std::string& outputPath,
                               const Pass& pass);

// The message of a failure that both tools share; empty for the others.
std::string describe(const Failure& failure, const std::string& inputPath,
                     const std::string& outputPath);

// Prints `text` on standard output and gives the exit status: `status`, or a failure when
// standard output could not be written, which is then told on standard error.
int finish(const Tool& tool, std::string_view text, int status);
// The same for the outcome of runPass.
int finish(const Tool& tool, const std::optional<Failure>& failure, const std::string& inputPath,
           const std::string& outputPath);

} // namespace srec
