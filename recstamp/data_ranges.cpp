#include "recstamp/data_ranges.hpp"

#include <algorithm>

namespace recstamp {
namespace {

constexpr std::uint64_t addressSpace = std::uint64_t{1} << 32;

} // namespace

DataRanges::DataRanges() {
  ranges_.reserve(room);
}

std::uint64_t DataRanges::end(const Range& range, bool words) noexcept {
  const std::uint64_t bytes = range.lineAndBytes & bytesMask;
  if (bytes == 0) return std::uint64_t{range.records} + 1;
  const std::uint64_t step = words ? bytes / 2 : bytes;
  return std::min(range.first + range.records * step, addressSpace);
}

void DataRanges::add(std::uint32_t first, std::uint32_t records, std::uint32_t bytes,
                     std::uint64_t line, bool words) {
  if (bytes == 0 || records == 0) return;
  sorted_ = false;
  const Range next{first, records, line << bytesBits | bytes};
  // Past half the room, records that continue the last range, up or down, join it: an image
  // of many records, each its own range, then takes no more room.
  if (ranges_.size() >= room / 2) {
    Range& last = ranges_.back();
    const std::uint64_t lastEnd = end(last, words);
    const std::uint64_t nextEnd = end(next, words);
    if (nextEnd > first && lastEnd > last.first && (first == lastEnd || nextEnd == last.first)) {
      last = {std::min(first, last.first),
              static_cast<std::uint32_t>(std::max(lastEnd, nextEnd) - 1),
              last.lineAndBytes & ~bytesMask};
      return;
    }
  }
  if (ranges_.size() == room) compact(words);
  ranges_.push_back(next);
}

void DataRanges::compact(bool words) {
  // Each range as the addresses it covers in these units; those that cover none go.
  std::erase_if(ranges_, [&](const Range& range) { return end(range, words) == range.first; });
  std::transform(ranges_.begin(), ranges_.end(), ranges_.begin(), [&](const Range& range) {
    return Range{range.first, static_cast<std::uint32_t>(end(range, words) - 1),
                 range.lineAndBytes & ~bytesMask};
  });
  std::sort(ranges_.begin(), ranges_.end(),
            [](const Range& a, const Range& b) { return a.first < b.first; });
  // Ranges that overlap or touch are joined first, which keeps every address; then, only if that
  // is not enough, across ever larger gaps.
  for (std::uint64_t gap = 0; gap == 0 || ranges_.size() > room - room / 8; gap = 2 * gap + 1) {
    std::size_t kept = 0;
    for (std::size_t i = 1; i < ranges_.size(); ++i) {
      Range& last = ranges_[kept];
      if (ranges_[i].first <= std::uint64_t{last.records} + 1 + gap) {
        last.records = std::max(last.records, ranges_[i].records);
        last.lineAndBytes = std::min(last.lineAndBytes, ranges_[i].lineAndBytes);
      } else {
        ranges_[++kept] = ranges_[i];
      }
    }
    ranges_.resize(std::min(ranges_.size(), kept + 1));
  }
}

std::optional<std::uint64_t> DataRanges::firstOver(std::uint64_t first, std::uint64_t last,
                                                   bool words) {
  if (!sorted_) {
    std::erase_if(ranges_, [&](const Range& range) { return end(range, words) == range.first; });
    std::sort(ranges_.begin(), ranges_.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    longest_ = 0;
    for (const Range& range : ranges_)
      longest_ = std::max(longest_, end(range, words) - range.first);
    sorted_ = true;
  }
  // Only a range that starts less than the longest one's length below `first` can reach it.
  const std::uint64_t lowest = first >= longest_ ? first - longest_ + 1 : 0;
  auto range =
      std::lower_bound(ranges_.begin(), ranges_.end(), lowest,
                       [](const Range& r, std::uint64_t address) { return r.first < address; });
  std::optional<std::uint64_t> line;
  for (; range != ranges_.end() && range->first <= last; ++range) {
    if (end(*range, words) <= first) continue;
    // Of records that follow each other, the first that reaches `first`.
    std::uint64_t record = 0;
    if (const std::uint64_t bytes = range->lineAndBytes & bytesMask;
        bytes != 0 && first > range->first)
      record = (first - range->first) / (words ? bytes / 2 : bytes);
    line = std::min(line.value_or(~std::uint64_t{0}), (range->lineAndBytes >> bytesBits) + record);
  }
  return line;
}

} // namespace recstamp
