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

std::optional<Failure> runPass(const std::string& inputPath, const std::string& outputPath,
                               const Pass& pass) {
  using Kind = Failure::Kind;
  InputFile input;
  if (!input.open(inputPath)) return Failure{Kind::openInput};
  if (input.isSameFile(outputPath)) return Failure{Kind::sameFile};
  OutputFile output;
  if (!output.open(outputPath)) return Failure{Kind::openOutput};

  TokenReader reader(input);
  BufferedWriter writer(output);
  if (auto failure = pass(reader, writer)) return failure;
  if (!writer.flush()) return Failure{Kind::write};
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return Failure{Kind::writeStdout};
  if (!output.commit()) return Failure{Kind::write};
  return std::nullopt;
}

std::string describe(const Failure& failure, const std::string& inputPath,
                     const std::string& outputPath) {
  switch (failure.kind) {
  case Failure::Kind::openInput:
    return "\nCan't open the source file: " + inputPath + ".\n";
  case Failure::Kind::sameFile:
    return "Input and output are the same file: " + outputPath + ".\n";
  case Failure::Kind::openOutput:
    return "Can't open the output file: " + outputPath + ".\n";
  case Failure::Kind::read:
    return "Can't read the source file: " + inputPath + ".\n";
  case Failure::Kind::tooLong:
    return "Record too long at line " + std::to_string(failure.line) + ": more than " +
           std::to_string(maxTokenLength) + " characters.\n";
  case Failure::Kind::write:
    return "Can't write the output file: " + outputPath + ".\n";
  default:
    return {};
  }
}

int finish(const Tool& tool, std::string_view text, int status) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  const std::string complaint = std::string(tool.name) + ": can't write standard output\n";
  std::fputs(complaint.c_str(), stderr);
  return exitFailure;
}

int finish(const Tool& tool, const std::optional<Failure>& failure, const std::string& inputPath,
           const std::string& outputPath) {
  if (!failure) return finish(tool, "", exitSuccess);
  return finish(tool, describe(*failure, inputPath, outputPath), exitFailure);
}

} // namespace srec
