#include "srec/run.hpp"

#include "srec/files.hpp"

#include <cctype>
#include <charconv>

namespace srec {

std::optional<RunOutcome> parseCommandLine(int argc, const char* const* argv, int operands,
                                           std::string_view usage, std::string_view versionLine) {
  if (argc == 2) {
    const std::string_view flag = argv[1];
    if (flag == "--help" || flag == "-h") return RunOutcome{exitSuccess, std::string(usage)};
    if (flag == "--version") return RunOutcome{exitSuccess, std::string(versionLine)};
  }
  if (argc != operands + 1) return RunOutcome{exitUsage, std::string(usage)};
  return std::nullopt;
}

RunOutcome runPass(const char* inputPath, const char* outputPath, const Pass& pass) {
  InputFile input;
  if (!input.open(inputPath))
    return {exitFailure, "\nCan't open the source file: " + std::string(inputPath) + ".\n"};
  if (input.isSameFile(outputPath))
    return {exitFailure, "Input and output are the same file: " + std::string(outputPath) + ".\n"};
  OutputFile output;
  if (!output.open(outputPath))
    return {exitFailure, "Can't open the output file: " + std::string(outputPath) + ".\n"};

  TokenReader reader(input);
  BufferedWriter writer(output);
  std::string message = pass(reader, writer);
  if (message.empty() && reader.failed())
    message = "Can't read the source file: " + std::string(inputPath) + ".\n";
  input.close();
  const bool written = writer.flush() && output.close();
  if (message.empty() && !written)
    message = "Can't write the output file: " + std::string(outputPath) + ".\n";
  if (message.empty()) return {};
  output.discard();
  return {exitFailure, std::move(message)};
}

std::string toHex(std::uint32_t value, bool upperCase) {
  std::string digits(8, '0');
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr;
  digits.resize(static_cast<std::size_t>(end - digits.data()));
  if (upperCase)
    for (char& c : digits)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return digits;
}

} // namespace srec
