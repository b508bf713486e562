// recstamp VERSION IN OUT: copies an S-record file with a version record added.
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"
#include "srec/run.hpp"

#include <cstdio>
#include <string>

int main(int argc, char* argv[]) {
  constexpr const char* usage =
      "Usage: recstamp [version string] [s-record file] [output s-record file]\n";
  if (const auto early =
          srec::parseCommandLine(argc, argv, 3, usage, "recstamp " SREC_TOOLS_VERSION "\n")) {
    std::fputs(early->message.c_str(), stdout);
    return early->exitStatus;
  }

  const std::string_view version = argv[1];
  if (version.size() > recstamp::maxVersionLength) {
    const std::string message = "Version string too long: " + std::to_string(version.size()) +
                                " characters, at most " +
                                std::to_string(recstamp::maxVersionLength) + ".\n";
    std::fputs(message.c_str(), stdout);
    return srec::exitFailure;
  }
  const std::string field = recstamp::versionField(version);

  const srec::RunOutcome outcome =
      srec::runPass(argv[2], argv[3], [&](srec::TokenReader& in, srec::BufferedWriter& out) {
        const auto misfit = recstamp::stamp(in, out, field);
        if (!misfit) return std::string();
        return "Version record address 0x" + srec::toHex(misfit->address, true) +
               " does not fit an S" + std::to_string(misfit->recType) + " record.\n";
      });
  std::fputs(outcome.message.c_str(), stdout);
  return outcome.exitStatus;
}
