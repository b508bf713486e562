// The addresses an image's data records cover, kept so that a version record can be checked
// against all of them once the whole input is read, in little memory whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace recstamp {

class DataRanges {
public:
  // Room for this many ranges, taken at once: 1.75 MiB, of which only what is used is touched.
  // Joined, they are never more than seven eighths of it, which still holds 100,000.
  static constexpr std::size_t room = std::size_t{7} << 14;

  DataRanges();

  // `records` data records on consecutive lines from `line`, each holding `bytes` bytes, the
  // first from `first`, each of the others where the one before ends. `words` tells how the
  // addresses count: in 16-bit words a record covers half its bytes, rounded down. Several
  // records must count as the whole input will; a single one may be added before it shows.
  void add(std::uint32_t first, std::uint32_t records, std::uint32_t bytes, std::uint64_t line,
           bool words);

  // The line of the first data record in input order that covers an address from `first` to
  // `last`, counted in words or bytes. Exact while the ranges that the records make fit the room;
  // beyond that, ranges that touch are joined, and then those nearest each other, each counting
  // as its first record.
  [[nodiscard]] std::optional<std::uint64_t> firstOver(std::uint64_t first, std::uint64_t last,
                                                       bool words);

private:
  // Records that follow each other, or a range joined from several (`bytes` 0).
  struct Range {
    std::uint32_t first;
    std::uint32_t records;      // or, joined, the last address
    std::uint64_t lineAndBytes; // the first record's line, shifted left 16, and its bytes
  };
  static constexpr int bytesBits = 16;
  static constexpr std::uint64_t bytesMask = (std::uint64_t{1} << bytesBits) - 1;
  // Its last address plus one; at most 2^32, since no version record starts beyond 0xFFFFFFFF.
  static std::uint64_t end(const Range& range, bool words) noexcept;
  // Sorts the ranges by address and joins those that touch, and then if need be those with the
  // smallest gaps between them, until they take at most seven eighths of the room.
  void compact(bool words);

  std::vector<Range> ranges_;
  bool sorted_ = false; // as firstOver needs them: by address, those that cover nothing gone
  std::uint64_t longest_ = 0;
};

} // namespace recstamp
