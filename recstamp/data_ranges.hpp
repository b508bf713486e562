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
  // Room for this many ranges, taken at once: 2 MiB, of which only what is used is touched.
  static constexpr std::size_t room = std::size_t{1} << 17;

  DataRanges();

  // A data record on `line` holding `bytes` bytes from `first`. `words` tells how addresses are
  // most likely counted (16-bit words: a record covers half its bytes, rounded down); it matters
  // only once ranges must be joined to stay within the room.
  void add(std::uint32_t first, std::uint32_t bytes, std::uint64_t line, bool words);

  // The line of the first data record in input order that covers an address from `first` to
  // `last`, counted in words or bytes. Exact while the records, or once they are many, the
  // separate ranges they make, fit the room.
  [[nodiscard]] std::optional<std::uint64_t> firstOver(std::uint64_t first, std::uint64_t last,
                                                       bool words);

private:
  // A record as it came, or a range joined from several (its last address, in the units it was
  // joined in, and the first line of any of them).
  struct Range {
    std::uint32_t first;
    std::uint32_t extent; // bytes held, or the last address of a joined range
    std::uint64_t line;   // joinedFlag for a joined range
  };
  static constexpr std::uint64_t joinedFlag = std::uint64_t{1} << 63;
  // Its last address plus one in the units asked for; at most 2^32, since no version record
  // starts beyond 0xFFFFFFFF.
  static std::uint64_t end(const Range& range, bool words) noexcept;
  // Sorts the ranges by address in the given units and joins those that touch; if still too
  // many for the room, those with the smallest gaps between them as well.
  void compact(bool words);

  std::vector<Range> ranges_;
  bool sorted_ = false; // ranges_ are joined and sorted, as firstOver needs them
  std::uint64_t longest_ = 0;
};

} // namespace recstamp
