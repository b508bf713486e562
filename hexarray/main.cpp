// hexarray IN OUT.c: writes the data bytes of an S-record file as one C array.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "srec/files.hpp"
#include "srec/run.hpp"

#include <string>

int main(int argc, char* argv[]) {
  constexpr srec::Tool tool{"hexarray",
                            "Usage: hexarray.exe [s-record file] [output C source file]\n", "", 2};
  const srec::CommandLine line = srec::readCommandLine(tool, argc, argv);
  if (line.exitStatus) return srec::finish(tool, line.text, *line.exitStatus);

  srec::RunFiles files;
  files.input = line.operands[0];
  files.output = line.operands[1];
  const std::string name = hexarray::arrayName(files.output);
  const srec::Outcome outcome = srec::runPass(files, [&](auto& in, auto& out, auto& messages) {
    return hexarray::convert(in, out, name, messages);
  });
  const auto& failure = outcome.failure;
  if (failure && failure->kind == srec::Failure::Kind::badHexDigit)
    return srec::finish(
        tool, "Bad hex digit in data record at line " + std::to_string(failure->line) + ".\n",
        srec::exitFailure, outcome.outputIsStdout);
  return srec::finish(tool, outcome, files);
}
