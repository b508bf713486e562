// hexarray IN OUT.c: writes the data bytes of an S-record file as one C array.
#include "hexarray/array_name.hpp"
#include "hexarray/convert.hpp"
#include "srec/files.hpp"
#include "srec/run.hpp"

#include <cstdio>
#include <string>

int main(int argc, char* argv[]) {
  constexpr const char* usage = "Usage: hexarray.exe [s-record file] [output C source file]\n";
  if (const auto early =
          srec::parseCommandLine(argc, argv, 2, usage, "hexarray " SREC_TOOLS_VERSION "\n")) {
    std::fputs(early->message.c_str(), stdout);
    return early->exitStatus;
  }

  const std::string name = hexarray::arrayName(argv[2]);
  srec::StreamSink messages(stdout);
  const srec::RunOutcome outcome =
      srec::runPass(argv[1], argv[2], [&](srec::TokenReader& in, srec::BufferedWriter& out) {
        const hexarray::ConvertResult result = hexarray::convert(in, out, name, messages);
        if (!result.badHexDigit) return std::string();
        return "Bad hex digit in data record at line " + std::to_string(result.badDigitLine) +
               ".\n";
      });
  std::fputs(outcome.message.c_str(), stdout);
  return outcome.exitStatus;
}
