// hexarray [--name NAME] [--header FILE.h] [--fill BYTE] [--byte-addressed|--word-addressed]
// [--strict] IN OUT.c: writes the data bytes of an S-record file as one C array.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "hexarray/header.hpp"
#include "srec/files.hpp"
#include "srec/hex.hpp"
#include "srec/run.hpp"

#include <string>

namespace {

constexpr srec::Option options[] = {{"--name", true},     {"--header", true},   {"--fill", true},
                                    {"--byte-addressed"}, {"--word-addressed"}, {"--strict"}};
constexpr std::pair<std::string_view, std::string_view> exclusive[] = {
    {"--byte-addressed", "--word-addressed"}};
constexpr srec::Tool tool{
    "hexarray",
    "Usage: hexarray.exe [s-record file] [output C source file]\n",
    "       hexarray [--name NAME] [--header FILE.h] [--fill BYTE]\n"
    "                [--byte-addressed | --word-addressed] [--strict] [--] IN OUT\n",
    "Write the data of the S-record image IN as a C array to the file OUT.\n",
    "  --name NAME       the array's name, instead of OUT's base name and _C\n"
    "  --header FILE.h   also write FILE.h, which declares the array and NAME_SIZE\n"
    "  --fill BYTE       the image as memory holds it, each gap filled with BYTE\n"
    "  --byte-addressed  the image counts its addresses in bytes, whatever it shows\n"
    "  --word-addressed  the image counts its addresses in 16-bit words\n"
    "  --strict          stop at the first record with a wrong digit, count or checksum\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the version and exit\n",
    2,
    options,
    exclusive};

int convertFile(const srec::CommandLine& line) {
  srec::RunFiles files;
  files.input = line.operands[0];
  files.output = line.operands[1];
  hexarray::Array array;
  if (const std::string* name = line.option("--name")) {
    if (!hexarray::isIdentifier(*name))
      return srec::finish(tool, "Not a C identifier: " + *name + ".\n", srec::exitUsage);
    if (!hexarray::isUsableName(*name))
      return srec::finish(tool, "Not a usable array name: " + *name + ".\n", srec::exitUsage);
    array.name = *name;
  } else if (files.output != "-") {
    array.name = hexarray::arrayName(files.output);
  } else if (files.input != "-") {
    array.name = hexarray::arrayName(files.input);
  } else {
    return srec::finish(tool, "Name the array with --name when both files are standard streams.\n",
                        srec::exitUsage);
  }
  if (const std::string* fill = line.option("--fill")) {
    const std::optional<std::uint64_t> byte = srec::cNumber(*fill, 255);
    if (!byte) return srec::finish(tool, "Not a byte value: " + *fill + ".\n", srec::exitUsage);
    array.fill = static_cast<std::uint8_t>(*byte);
  }
  if (line.option("--byte-addressed") != nullptr) array.addressing = srec::Addressing::byte;
  if (line.option("--word-addressed") != nullptr) array.addressing = srec::Addressing::word;
  if (const std::string* header = line.option("--header")) {
    // Standard output has no name to include, and takes the C file or nothing.
    if (*header == "-")
      return srec::finish(tool, "The header needs a file name: -.\n", srec::exitUsage);
    if (!hexarray::isUsableHeaderName(*header))
      return srec::finish(tool, "Not a usable header name: " + *header + ".\n", srec::exitUsage);
    files.second = *header;
    array.include = hexarray::includedName(*header);
    files.secondText = [&] { return hexarray::headerText(array, *files.second); };
  }
  if (files.second && !hexarray::fitsHeader(array, *files.second))
    return srec::finish(tool, "Not a usable array name: " + array.name + ".\n", srec::exitUsage);

  files.strict = line.option("--strict") != nullptr;
  const srec::Outcome outcome =
      srec::runPass(files, [&](auto& in, auto& out, auto& messages, auto& checks) {
        return hexarray::convert(in, out, array, messages, checks);
      });
  std::string message;
  if (const auto& failure = outcome.failure) {
    const std::string number = std::to_string(failure->line);
    if (failure->kind == srec::Failure::Kind::badHexDigit)
      message = "Bad hex digit in data record at line " + number + ".\n";
    else if (failure->kind == srec::Failure::Kind::noData)
      message = "No data in the source file: " + files.input + ".\n";
  }
  if (!message.empty())
    return srec::finish(tool, message, srec::exitFailure, outcome.outputIsStdout);
  return srec::finish(tool, outcome, files);
}

} // namespace

int main(int argc, char* argv[]) {
  return srec::runTool(tool, argc, argv, convertFile);
}
