// hexarray [--name NAME] [--header FILE.h] [--fill BYTE] IN OUT.c: writes the data bytes of an
// S-record file as one C array.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "hexarray/header.hpp"
#include "srec/files.hpp"
#include "srec/run.hpp"

#include <string>

namespace {

constexpr srec::Option options[] = {{"--name", true}, {"--header", true}, {"--fill", true}};
constexpr srec::Tool tool{
    "hexarray",
    "Usage: hexarray.exe [s-record file] [output C source file]\n",
    "       hexarray [--name NAME] [--header FILE.h] [--fill BYTE] IN OUT\n",
    "Write the data of the S-record image IN as a C array to the file OUT.\n",
    "  --name NAME      the array's name, instead of OUT's base name and _C\n"
    "  --header FILE.h  also write FILE.h, which declares the array and NAME_SIZE\n"
    "  --fill BYTE      the image as memory holds it, each gap filled with BYTE\n"
    "  -h, --help       print this help and exit\n"
    "      --version    print the version and exit\n",
    2,
    options,
    3};

int convertFile(const srec::CommandLine& line) {
  srec::RunFiles files;
  files.input = line.operands[0];
  files.output = line.operands[1];
  hexarray::Array array;
  if (const std::string* name = line.option("--name")) {
    if (!hexarray::isIdentifier(*name))
      return srec::finish(tool, "Not a C identifier: " + *name + ".\n", srec::exitUsage);
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
    array.fill = hexarray::byteValue(*fill);
    if (!array.fill)
      return srec::finish(tool, "Not a byte value: " + *fill + ".\n", srec::exitUsage);
  }
  if (const std::string* header = line.option("--header")) {
    files.second = *header;
    array.include = hexarray::baseName(*header);
    files.secondText = [&] { return hexarray::headerText(array, files.second); };
  }

  const srec::Outcome outcome = srec::runPass(files, [&](auto& in, auto& out, auto& messages) {
    return hexarray::convert(in, out, array, messages);
  });
  std::string message;
  if (const auto& failure = outcome.failure) {
    const std::string number = std::to_string(failure->line);
    if (failure->kind == srec::Failure::Kind::badHexDigit)
      message = "Bad hex digit in data record at line " + number + ".\n";
    else if (failure->kind == srec::Failure::Kind::outOfOrder)
      message = "Data record at line " + number + " is out of address order.\n";
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
