// What both tools do around their pass: read the command line, open and check the files, run the
// pass, commit the output, and print what each tool's main makes of a failure.
#pragma once

#include "srec/check.hpp"
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

// A tool's command line: options in front of `operands` file names and such, in any order, each
// at most once. A word there that starts with '-' (but "-" itself) is an option, "--" ends them;
// a value option takes the next word, or its value after '=' in the same word. Options that
// exclude each other come in pairs.
struct Tool {
  std::string_view name;
  std::string_view usage;       // the usage line
  std::string_view synopsis;    // --help: the usage lines after it
  std::string_view description; // --help: a sentence of what the tool does
  std::string_view help;        // --help: the options, one a line
  std::size_t operands;
  std::span<const Option> options = {};
  std::span<const std::pair<std::string_view, std::string_view>> exclusive = {};
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

// Prepares the process (standard descriptors, signals) and reads its command line. --help, -h and
// --version count only when they stand alone. Everything that makes the line wrong is found here,
// before anything is opened: the usage line, or an unknown option or two that exclude each other.
CommandLine readCommandLine(const Tool& tool, int argc, char** argv);

// A tool's main: reads the command line, prints usage, help or version, or runs `body`; memory that
// can't be had is a failure of the run, never an abort.
int runTool(const Tool& tool, int argc, char** argv,
            const std::function<int(const CommandLine&)>& body);

// A pass reads tokens and writes its output, and its warnings to `messages`; it hands every
// record to `checks`, and reports the first failure, its own, the checks' or the reader's and
// writer's, and stops there.
using Pass = std::function<std::optional<Failure>(TokenReader&, BufferedWriter&, ByteSink& messages,
                                                  RecordChecks& checks)>;

// The files of a run as the command line names them; "-" is standard input or output.
struct RunFiles {
  std::string input;
  std::string output;
  // A second, small output (hexarray's header), or none; its text is asked for once the pass
  // has succeeded, and it takes its place together with the output.
  std::optional<std::string> second;
  std::function<std::string()> secondText;
  bool strict = false; // the first malformed record fails the run
};

struct Outcome {
  std::optional<Failure> failure;
  // The output is standard output: every message of the run then goes to standard error.
  bool outputIsStdout = false;
  unsigned long malformed = 0; // records that failed the check
};

// Opens the input, refuses an output that is the input itself, runs the pass from one to the
// other, and commits the outputs only when all of them and every message were written. After a
// failure the outputs are as they were before the run.
Outcome runPass(const RunFiles& files, const Pass& pass);

// The message of a failure that both tools share; empty for the others.
std::string describe(const Failure& failure, const RunFiles& files);

// Prints `text` on standard output (standard error with `toStderr`) and gives the exit status:
// `status`, or a failure when the text could not be written, which is then told on standard
// error.
int finish(const Tool& tool, std::string_view text, int status, bool toStderr = false);
// The same for the outcome of runPass: its failure, or after a success how many records were
// malformed when more than the messages told.
int finish(const Tool& tool, const Outcome& outcome, const RunFiles& files);

} // namespace srec
