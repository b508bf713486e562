// recstamp [--byte-addressed|--word-addressed] VERSION IN OUT: copies an S-record file with a
// version record added.
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"
#include "srec/hex.hpp"
#include "srec/run.hpp"

#include <string>

namespace {

constexpr srec::Option options[] = {{"--byte-addressed"}, {"--word-addressed"}};
constexpr srec::Tool tool{
    "recstamp",
    "Usage: recstamp [version string] [s-record file] [output s-record file]\n",
    "       recstamp [--byte-addressed | --word-addressed] VERSION IN OUT\n",
    "Write a copy of the S-record image IN to OUT with the text VERSION put in as\n"
    "a data record after the image's data.\n",
    "  --byte-addressed  the image counts its addresses in bytes, whatever it shows\n"
    "  --word-addressed  the image counts its addresses in 16-bit words\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the version and exit\n",
    3,
    options,
    1};

int stampFile(const srec::CommandLine& line) {
  const std::string& version = line.operands[0];
  if (version.size() > recstamp::maxVersionLength)
    return srec::finish(tool,
                        "Version string too long: " + std::to_string(version.size()) +
                            " bytes, at most " + std::to_string(recstamp::maxVersionLength) + ".\n",
                        srec::exitFailure);
  const std::string field = recstamp::versionField(version);
  auto addressing = recstamp::Addressing::shown;
  if (line.option("--byte-addressed") != nullptr) addressing = recstamp::Addressing::byte;
  if (line.option("--word-addressed") != nullptr) addressing = recstamp::Addressing::word;

  srec::RunFiles files;
  files.input = line.operands[1];
  files.output = line.operands[2];
  const srec::Outcome outcome = srec::runPass(files, [&](auto& in, auto& out, auto& /*messages*/) {
    return recstamp::stamp(in, out, field, addressing);
  });
  const auto& failure = outcome.failure;
  if (failure && failure->kind == srec::Failure::Kind::addressMisfit)
    return srec::finish(tool,
                        "Version record address 0x" + srec::toHex(failure->address, true) +
                            " does not fit an S" + std::to_string(failure->recType) + " record.\n",
                        srec::exitFailure, outcome.outputIsStdout);
  return srec::finish(tool, outcome, files);
}

} // namespace

int main(int argc, char* argv[]) {
  return srec::runTool(tool, argc, argv, stampFile);
}
