// recstamp [--byte-addressed|--word-addressed] VERSION IN OUT: copies an S-record file with a
// version record added.
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"
#include "srec/hex.hpp"
#include "srec/run.hpp"

#include <string>

namespace {

constexpr srec::Option options[] = {{"--byte-addressed"}, {"--word-addressed"}, {"--strict"},
                                    {"--crc32"},          {"--crc32-be"},       {"--crc32-mpeg2"}};
constexpr srec::Tool tool{
    "recstamp",
    "Usage: recstamp [version string] [s-record file] [output s-record file]\n",
    "       recstamp --byte-addressed [version string] [s-record file] [output s-record file]\n"
    "       recstamp --word-addressed [version string] [s-record file] [output s-record file]\n"
    "Before S8, S9 and at the end of the input the record follows the last data record by its\n"
    "whole length when the image's addresses count bytes, by half of it when they count 16-bit\n"
    "words or the image does not show which (by its first pair of data records a length or half\n"
    "a length apart).\n"
    "  --byte-addressed  always the whole length\n"
    "  --word-addressed  always half of it\n"
    "  --strict          stop at the first record whose digits, count or checksum are wrong,\n"
    "                    rather than tell the first ten and go on\n"
    "  --crc32           after each version record, a record of 0 to 3 bytes 0xFF and the\n"
    "                    CRC-32 (as zlib's) of the image from its first data address up to the\n"
    "                    CRC, gaps as 0xFF, little-endian\n"
    "  --crc32-be        the same, big-endian\n"
    "  --crc32-mpeg2     the same with CRC-32/MPEG-2 of the image read as little-endian 32-bit\n"
    "                    words, as an STM32 CRC unit fed with them computes it\n",
    3,
    options,
    6};

int stampFile(const srec::CommandLine& line) {
  const std::string& version = line.operands[0];
  if (version.size() > recstamp::maxVersionLength)
    return srec::finish(tool,
                        "Version string too long: " + std::to_string(version.size()) +
                            " bytes, at most " + std::to_string(recstamp::maxVersionLength) + ".\n",
                        srec::exitFailure);
  const std::string field = recstamp::versionField(version);
  if (line.option("--byte-addressed") != nullptr && line.option("--word-addressed") != nullptr)
    return srec::finish(tool, tool.usage, srec::exitUsage);
  auto addressing = recstamp::Addressing::shown;
  if (line.option("--byte-addressed") != nullptr) addressing = recstamp::Addressing::byte;
  if (line.option("--word-addressed") != nullptr) addressing = recstamp::Addressing::word;

  std::optional<recstamp::CrcVariant> crc;
  std::string crcOption;
  for (const auto& [word, variant] : {std::pair{"--crc32", recstamp::CrcVariant::crc32},
                                      std::pair{"--crc32-be", recstamp::CrcVariant::crc32Be},
                                      std::pair{"--crc32-mpeg2", recstamp::CrcVariant::mpeg2}})
    if (line.option(word) != nullptr) {
      if (crc)
        return srec::finish(tool,
                            "Options " + crcOption + " and " + word + " can't be used together.\n",
                            srec::exitUsage);
      crc = variant;
      crcOption = word;
    }
  if (crc && addressing == recstamp::Addressing::word)
    return srec::finish(tool, "A CRC needs a byte-addressed image.\n", srec::exitFailure);

  srec::RunFiles files;
  files.input = line.operands[1];
  files.output = line.operands[2];
  unsigned long malformed = 0;
  const srec::Outcome outcome = srec::runPass(files, [&](auto& in, auto& out, auto& messages) {
    srec::RecordChecks checks(messages, line.option("--strict") != nullptr);
    auto failure = recstamp::stamp(in, out, field, addressing, checks, crc);
    malformed = checks.malformed();
    return failure;
  });
  std::string message;
  if (const auto& failure = outcome.failure) {
    if (failure->kind == srec::Failure::Kind::addressMisfit)
      message = "Version record address 0x" + srec::toHex(failure->address, true) +
                " does not fit an S" + std::to_string(failure->recType) + " record.\n";
    else if (failure->kind == srec::Failure::Kind::wordImage)
      message = "A CRC needs a byte-addressed image.\n";
    else if (failure->kind == srec::Failure::Kind::misalignedStart)
      message = "The image must start at a multiple of 4 for --crc32-mpeg2.\n";
    else if (failure->kind == srec::Failure::Kind::outOfOrder)
      message =
          "Data record at line " + std::to_string(failure->line) + " is out of address order.\n";
  }
  if (!message.empty())
    return srec::finish(tool, message, srec::exitFailure, outcome.outputIsStdout);
  if (!outcome.failure)
    return srec::finish(tool, srec::malformedSummary(malformed), srec::exitSuccess,
                        outcome.outputIsStdout);
  return srec::finish(tool, outcome, files);
}

} // namespace

int main(int argc, char* argv[]) {
  return srec::runTool(tool, argc, argv, stampFile);
}
