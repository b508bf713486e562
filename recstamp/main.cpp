// recstamp [--byte-addressed|--word-addressed] [--at ADDRESS|--crc32|--crc32-be|--crc32-mpeg2]
// [--strict] VERSION IN OUT: copies an S-record file with a version record added.
#include "recstamp/stamp.hpp"
#include "recstamp/version_record.hpp"
#include "srec/hex.hpp"
#include "srec/run.hpp"

#include <optional>
#include <string>

namespace {

constexpr srec::Option options[] = {{"--byte-addressed"}, {"--word-addressed"}, {"--at", true},
                                    {"--crc32"},          {"--crc32-be"},       {"--crc32-mpeg2"},
                                    {"--strict"}};
constexpr std::pair<std::string_view, std::string_view> exclusive[] = {
    {"--byte-addressed", "--word-addressed"},
    {"--at", "--crc32"},
    {"--at", "--crc32-be"},
    {"--at", "--crc32-mpeg2"},
    {"--crc32", "--crc32-be"},
    {"--crc32", "--crc32-mpeg2"},
    {"--crc32-be", "--crc32-mpeg2"}};
constexpr srec::Tool tool{
    "recstamp",
    "Usage: recstamp [version string] [s-record file] [output s-record file]\n",
    "       recstamp [--byte-addressed | --word-addressed]\n"
    "                [--at ADDRESS | --crc32 | --crc32-be | --crc32-mpeg2] [--strict] [--]\n"
    "                VERSION IN OUT\n",
    "Write a copy of the S-record image IN to OUT with the text VERSION put in as\n"
    "a data record after the image's data.\n",
    "  --byte-addressed  the image counts its addresses in bytes, whatever it shows\n"
    "  --word-addressed  the image counts its addresses in 16-bit words\n"
    "  --at ADDRESS      put every version record at ADDRESS (0x8000, 32768, 0100000)\n"
    "  --crc32           seal the image with its CRC-32 (as zlib's), little-endian\n"
    "  --crc32-be        the same CRC, big-endian\n"
    "  --crc32-mpeg2     seal it with the CRC-32/MPEG-2 an STM32 CRC unit computes\n"
    "  --strict          stop at the first record with a wrong digit, count or checksum\n"
    "  -h, --help        print this help and exit\n"
    "      --version     print the version and exit\n",
    3,
    options,
    exclusive};

// The stamping the options ask for, or the exit status of a refusal, which it tells.
std::optional<int> readStamping(const srec::CommandLine& line, recstamp::Stamping& stamping,
                                std::string& field) {
  if (const std::string* at = line.option("--at")) {
    const std::optional<std::uint64_t> address = srec::cNumber(*at, 0xFFFFFFFF);
    if (!address) return srec::finish(tool, "Not an address: " + *at + ".\n", srec::exitUsage);
    stamping.at = static_cast<std::uint32_t>(*address);
  }
  const std::string& version = line.operands[0];
  if (version.size() > recstamp::maxVersionLength)
    return srec::finish(tool,
                        "Version string too long: " + std::to_string(version.size()) +
                            " bytes, at most " + std::to_string(recstamp::maxVersionLength) + ".\n",
                        srec::exitFailure);
  field = recstamp::versionField(version);
  stamping.versionField = field;
  if (line.option("--byte-addressed") != nullptr) stamping.addressing = srec::Addressing::byte;
  if (line.option("--word-addressed") != nullptr) stamping.addressing = srec::Addressing::word;

  for (const auto& [word, variant] : {std::pair{"--crc32", recstamp::CrcVariant::crc32},
                                      std::pair{"--crc32-be", recstamp::CrcVariant::crc32Be},
                                      std::pair{"--crc32-mpeg2", recstamp::CrcVariant::mpeg2}})
    if (line.option(word) != nullptr) stamping.crc = variant;
  if (stamping.crc && stamping.addressing == srec::Addressing::word)
    return srec::finish(tool, "A CRC needs a byte-addressed image.\n", srec::exitFailure);
  return std::nullopt;
}

// Tells how the run ended and gives the exit status.
int tellOutcome(const srec::Outcome& outcome, const srec::RunFiles& files,
                std::optional<std::uint64_t> halvedAt) {
  std::string message;
  if (const auto& failure = outcome.failure) {
    const std::string address = "0x" + srec::toHex(failure->address, true);
    if (failure->kind == srec::Failure::Kind::addressMisfit)
      message = "Version record address " + address + " does not fit an S" +
                std::to_string(failure->recType) + " record.\n";
    else if (failure->kind == srec::Failure::Kind::overwrite)
      message = "The version record at " + address +
                " would overwrite the data of the record at line " + std::to_string(failure->line) +
                ".\n";
    else if (failure->kind == srec::Failure::Kind::wordImage)
      message = "A CRC needs a byte-addressed image.\n";
    else if (failure->kind == srec::Failure::Kind::misalignedStart)
      message = "The image must start at a multiple of 4 for --crc32-mpeg2.\n";
  }
  if (!message.empty())
    return srec::finish(tool, message, srec::exitFailure, outcome.outputIsStdout);
  if (outcome.failure) return srec::finish(tool, outcome, files);
  // The last messages of a successful run: where the version went when the image did not tell,
  // then how many records were malformed.
  std::string told;
  if (halvedAt)
    told = "The image does not show whether it counts bytes or 16-bit words: the version record "
           "went to 0x" +
           srec::toHex(*halvedAt, true) +
           ", as for words. Give --byte-addressed or --word-addressed.\n";
  return srec::finish(tool, told + srec::malformedSummary(outcome.malformed), srec::exitSuccess,
                      outcome.outputIsStdout);
}

// Apart from the two above, so that the pass runs below a small frame: the tools run on the
// smallest stacks.
int stampFile(const srec::CommandLine& line) {
  recstamp::Stamping stamping;
  std::string field;
  if (const std::optional<int> refused = readStamping(line, stamping, field)) return *refused;
  srec::RunFiles files;
  files.input = line.operands[1];
  files.output = line.operands[2];
  files.strict = line.option("--strict") != nullptr;
  std::optional<std::uint64_t> halvedAt;
  const srec::Outcome outcome =
      srec::runPass(files, [&](auto& in, auto& out, auto& /*messages*/, auto& checks) {
        return recstamp::stamp(in, out, stamping, checks, halvedAt);
      });
  return tellOutcome(outcome, files, halvedAt);
}

} // namespace

int main(int argc, char* argv[]) {
  return srec::runTool(tool, argc, argv, stampFile);
}
