#include "srec/run.hpp"

#include "srec/files.hpp"
#include "srec/platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace srec {

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
  } else {
    std::size_t next = 0;
    while (next < words.size() && line.options.size() < tool.maxOptions) {
      const auto known = std::find_if(tool.options.begin(), tool.options.end(),
                                      [&](const Option& o) { return o.word == words[next]; });
      if (known == tool.options.end() || line.option(known->word) != nullptr ||
          (known->takesValue && next + 1 == words.size()))
        break;
      line.options.emplace_back(known->word, known->takesValue ? words[next + 1] : "");
      next += known->takesValue ? 2 : 1;
    }
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(next));
    if (words.size() != tool.operands) {
      line.exitStatus = exitUsage;
      line.text = tool.usage;
    }
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
  // Told before anything else, so that even a missing input is reported on standard error.
  outcome.outputIsStdout = files.output == "-" || platform::namesStandardOutput(files.output);
  messageStream = outcome.outputIsStdout ? stderr : stdout;
  InputFile input;
  if (!input.open(files.input)) return Failure{Kind::openInput};
  OutputFile output(0);
  if (!output.locate(files.output)) return Failure{Kind::openOutput};
  outcome.outputIsStdout = output.isStdout();
  messageStream = outcome.outputIsStdout ? stderr : stdout;
  if (output.sameFile(input.facts())) return Failure{Kind::sameFile};
  const bool hasSecond = !files.second.empty();
  OutputFile second(1);
  if (hasSecond) {
    if (!second.locate(files.second)) return Failure{.kind = Kind::openOutput, .second = true};
    if (second.sameFile(input.facts())) return Failure{.kind = Kind::sameFile, .second = true};
    if (second.sameFile(output)) return Failure{Kind::sameOutputs};
  }
  StreamSink messages(messageStream);
  TokenReader reader(input);
  BufferedWriter writer(output);

  if (!output.create()) return Failure{Kind::openOutput};
  if (hasSecond && !second.create()) return Failure{.kind = Kind::openOutput, .second = true};
  if (auto failure = pass(reader, writer, messages)) return failure;
  if (!writer.flush() || !output.finish()) return Failure{Kind::write};
  if (std::fflush(messages.stream()) != 0 || std::ferror(messages.stream()) != 0)
    return Failure{Kind::writeStdout};
  if (hasSecond) {
    const std::string text = files.secondText();
    if (!second.write(text) || !second.finish())
      return Failure{.kind = Kind::write, .second = true};
  }
  // Both outputs take their places, or neither, should a signal come now.
  const platform::SignalsHeld held;
  if (!output.commit()) return Failure{Kind::write};
  if (hasSecond && !second.commit()) return Failure{.kind = Kind::write, .second = true};
  return std::nullopt;
}

} // namespace

Outcome runPass(const RunFiles& files, const Pass& pass) {
  Outcome outcome;
  outcome.failure = runFiles(files, pass, outcome);
  return outcome;
}

std::string describe(const Failure& failure, const RunFiles& files) {
  const std::string& outputPath = failure.second ? files.second : files.output;
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
  case Failure::Kind::sameOutputs:
    return "The header and the output are the same file: " + files.second + ".\n";
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
  if (!outcome.failure) return finish(tool, "", exitSuccess, outcome.outputIsStdout);
  return finish(tool, describe(*outcome.failure, files), exitFailure, outcome.outputIsStdout);
}

} // namespace srec
