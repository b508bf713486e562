#include "srec/run.hpp"

#include "srec/check.hpp"
#include "srec/files.hpp"
#include "srec/platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace srec {

namespace {

// Reads the options in front of the operands, which it leaves in `words`; false after a mistake,
// which `line` then tells.
bool readOptions(const Tool& tool, std::vector<std::string>& words, CommandLine& line) {
  const auto refuse = [&](std::string text) {
    line.exitStatus = exitUsage;
    line.text = std::move(text);
    return false;
  };
  std::size_t next = 0;
  while (next < words.size()) {
    const std::string_view word = words[next];
    if (word == "--") {
      ++next;
      break;
    }
    if (word.size() < 2 || word[0] != '-') break;
    if (word == "--help" || word == "-h" || word == "--version")
      return refuse(std::string(tool.usage));
    // --name=value: only a value option takes its value so.
    const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string_view::npos;
    const std::string_view name = word.substr(0, equals);
    const auto known = std::find_if(tool.options.begin(), tool.options.end(),
                                    [&](const Option& o) { return o.word == name; });
    if (known == tool.options.end() || (equals != std::string_view::npos && !known->takesValue))
      return refuse("Unknown option: " + std::string(word) + ".\n");
    if (line.option(name) != nullptr) return refuse(std::string(tool.usage));
    std::string value;
    if (equals != std::string_view::npos) {
      value = word.substr(equals + 1);
    } else if (known->takesValue) {
      if (++next == words.size()) return refuse(std::string(tool.usage));
      value = words[next];
    }
    for (const auto& [first, second] : tool.exclusive) {
      const std::string_view other = name == first ? second : name == second ? first : "";
      if (!other.empty() && line.option(other) != nullptr)
        return refuse("Options " + std::string(other) + " and " + std::string(name) +
                      " can't be used together.\n");
    }
    line.options.emplace_back(known->word, std::move(value));
    ++next;
  }
  words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(next));
  return true;
}

} // namespace

CommandLine readCommandLine(const Tool& tool, int argc, char** argv) {
  platform::prepareProcess();
  CommandLine line;
  line.operands = platform::arguments(argc, argv);
  std::vector<std::string>& words = line.operands;
  if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) {
    line.exitStatus = exitSuccess;
    line.text = std::string(tool.usage) + std::string(tool.synopsis) +
                std::string(tool.description) + "\n" + std::string(tool.help);
  } else if (words.size() == 1 && words[0] == "--version") {
    line.exitStatus = exitSuccess;
    line.text = std::string(tool.name) + " " SREC_TOOLS_VERSION "\n";
  } else if (readOptions(tool, words, line) && words.size() != tool.operands) {
    line.exitStatus = exitUsage;
    line.text = tool.usage;
  }
  return line;
}

const std::string* CommandLine::option(std::string_view word) const {
  for (const auto& [given, value] : options)
    if (given == word) return &value;
  return nullptr;
}

namespace {

// Where the messages of the run go.
std::FILE* messageStream = stdout;

// Memory that can't be had ends the run at once, as a signal would, and never in an abort:
// nothing that is guaranteed to work can be done without it.
[[noreturn]] void noMemory() {
  platform::cleanUp();
  std::fputs("Not enough memory.\n", messageStream);
  std::fflush(messageStream);
  std::_Exit(exitFailure);
}

// The run, once the outcome knows where messages go. Every block the run needs is taken before
// any file is made; the outputs take their places only when all of them are on the disk.
std::optional<Failure> runFiles(const RunFiles& files, const Pass& pass, Outcome& outcome) {
  using Kind = Failure::Kind;
  // Made apart, so that the failures below take no room of their own in this frame, which stays
  // below the pass: the tools run on the smallest stacks.
  const auto fail = [](Kind kind, bool second = false) -> std::optional<Failure> {
    return Failure{.kind = kind, .second = second};
  };
  // Told before anything else, so that even a missing input is reported on standard error.
  const auto namesStdout = [](const std::string& path) {
    return path == "-" || platform::namesStandardOutput(path);
  };
  outcome.outputIsStdout =
      namesStdout(files.output) || (files.second && namesStdout(*files.second));
  messageStream = outcome.outputIsStdout ? stderr : stdout;
  InputFile input;
  if (!input.open(files.input)) return fail(Kind::openInput);
  OutputFile output(0);
  if (!output.locate(files.output)) return fail(Kind::openOutput);
  if (output.sameFile(input.facts())) return fail(Kind::sameFile);
  OutputFile second(1);
  if (files.second) {
    if (!second.locate(*files.second)) return fail(Kind::openOutput, true);
    if (second.sameFile(input.facts())) return fail(Kind::sameFile, true);
    if (second.sameFile(output)) return fail(Kind::sameOutputs);
  }
  outcome.outputIsStdout = output.isStdout() || second.isStdout();
  messageStream = outcome.outputIsStdout ? stderr : stdout;
  StreamSink messages(messageStream);
  RecordChecks checks(messages, files.strict);
  TokenReader reader(input);
  BufferedWriter writer(output);

  if (!output.create()) return fail(Kind::openOutput);
  if (files.second && !second.create()) return fail(Kind::openOutput, true);
  auto failure = pass(reader, writer, messages, checks);
  outcome.malformed = checks.malformed();
  if (failure) return failure;
  if (!writer.flush() || !output.finish()) return fail(Kind::write);
  if (std::fflush(messages.stream()) != 0 || std::ferror(messages.stream()) != 0)
    return fail(Kind::writeStdout);
  if (files.second) {
    const std::string text = files.secondText();
    if (!second.write(text) || !second.finish()) return fail(Kind::write, true);
  }
  // All that can fail is done for both outputs before either takes its place.
  if (!output.prepare()) return fail(Kind::write);
  if (files.second && !second.prepare()) return fail(Kind::write, true);
  const platform::SignalsHeld held; // both take their places, or neither
  if (!files.second) return output.commit() ? std::nullopt : fail(Kind::write);
  // The one that can be undone first: should the other fail even now, the first is put back.
  const bool secondFirst = second.renames() && !output.renames();
  OutputFile& first = secondFirst ? second : output;
  OutputFile& last = secondFirst ? output : second;
  if (!first.commit(true)) return fail(Kind::write, secondFirst);
  if (!last.commit()) {
    first.undo();
    return fail(Kind::write, !secondFirst);
  }
  first.settle();
  return std::nullopt;
}

} // namespace

Outcome runPass(const RunFiles& files, const Pass& pass) {
  Outcome outcome;
  outcome.failure = runFiles(files, pass, outcome);
  return outcome;
}

std::string describe(const Failure& failure, const RunFiles& files) {
  const std::string& outputPath = failure.second ? *files.second : files.output;
  switch (failure.kind) {
  case Failure::Kind::openInput:
    return "\nCan't open the source file: " + files.input + ".\n";
  case Failure::Kind::sameFile:
    return "Input and output are the same file: " + outputPath + ".\n";
  case Failure::Kind::openOutput:
    return "Can't open the output file: " + outputPath + ".\n";
  case Failure::Kind::read:
    return "Can't read the source file: " + files.input + ".\n";
  case Failure::Kind::tooLong:
    return "Record too long at line " + std::to_string(failure.line) + ": more than " +
           std::to_string(maxTokenLength) + " characters.\n";
  case Failure::Kind::write:
    return "Can't write the output file: " + outputPath + ".\n";
  case Failure::Kind::malformed:
    return describe(failure.fault, failure.line) + "\n";
  case Failure::Kind::outOfOrder:
    return "Data record at line " + std::to_string(failure.line) + " is out of address order.\n";
  case Failure::Kind::sameOutputs:
    return "The header and the output are the same file: " + *files.second + ".\n";
  default:
    return {};
  }
}

int finish(const Tool& tool, std::string_view text, int status, bool toStderr) {
  std::FILE* const stream = toStderr ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), stream);
  if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return status;
  const std::string complaint = std::string(tool.name) + ": can't write standard output\n";
  std::fputs(complaint.c_str(), stderr);
  return exitFailure;
}

int runTool(const Tool& tool, int argc, char** argv,
            const std::function<int(const CommandLine&)>& body) {
  std::set_new_handler(noMemory);
  const CommandLine line = readCommandLine(tool, argc, argv);
  if (line.exitStatus) return finish(tool, line.text, *line.exitStatus);
  return body(line);
}

int finish(const Tool& tool, const Outcome& outcome, const RunFiles& files) {
  if (!outcome.failure)
    return finish(tool, malformedSummary(outcome.malformed), exitSuccess, outcome.outputIsStdout);
  return finish(tool, describe(*outcome.failure, files), exitFailure, outcome.outputIsStdout);
}

} // namespace srec
