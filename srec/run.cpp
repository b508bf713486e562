#include "srec/run.hpp"

#include "srec/files.hpp"
#include "srec/platform.hpp"

#include <algorithm>
#include <cstdio>

namespace srec {

CommandLine readCommandLine(const Tool& tool, int argc, char** argv) {
  platform::openStandardStreams();
  CommandLine line;
  line.operands = platform::arguments(argc, argv);
  std::vector<std::string>& words = line.operands;
  if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) {
    line.exitStatus = exitSuccess;
    line.text = std::string(tool.usage) + std::string(tool.help);
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

Outcome runPass(const RunFiles& files, const Pass& pass) {
  using Kind = Failure::Kind;
  Outcome outcome;
  InputFile input;
  if (!input.open(files.input)) return {Failure{Kind::openInput}};
  if (input.isSameFile(files.output)) return {Failure{Kind::sameFile}};
  OutputFile output;
  if (!output.open(files.output)) return {Failure{Kind::openOutput}};
  outcome.outputIsStdout = output.isStdout();
  OutputFile second;
  if (!files.second.empty()) {
    if (files.second == files.output)
      return {Failure{.kind = Kind::sameOutputs}, outcome.outputIsStdout};
    if (input.isSameFile(files.second))
      return {Failure{.kind = Kind::sameFile, .second = true}, outcome.outputIsStdout};
    if (!second.open(files.second))
      return {Failure{.kind = Kind::openOutput, .second = true}, outcome.outputIsStdout};
  }
  StreamSink messages(outcome.outputIsStdout ? stderr : stdout);

  TokenReader reader(input);
  BufferedWriter writer(output);
  outcome.failure = pass(reader, writer, messages);
  if (!outcome.failure && !writer.flush()) outcome.failure = Failure{Kind::write};
  if (!outcome.failure &&
      (std::fflush(messages.stream()) != 0 || std::ferror(messages.stream()) != 0))
    outcome.failure = Failure{Kind::writeStdout};
  if (!outcome.failure && !files.second.empty()) {
    const std::string text = files.secondText();
    if (!second.write(text)) outcome.failure = Failure{.kind = Kind::write, .second = true};
  }
  if (!outcome.failure && !output.commit()) outcome.failure = Failure{Kind::write};
  if (!outcome.failure && !files.second.empty() && !second.commit())
    outcome.failure = Failure{.kind = Kind::write, .second = true};
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
  case Failure::Kind::noMemory:
    return "Not enough memory.\n";
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

int finish(const Tool& tool, const Outcome& outcome, const RunFiles& files) {
  if (!outcome.failure) return finish(tool, "", exitSuccess, outcome.outputIsStdout);
  return finish(tool, describe(*outcome.failure, files), exitFailure, outcome.outputIsStdout);
}

} // namespace srec
