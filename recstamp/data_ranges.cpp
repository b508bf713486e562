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
  if ((range.line & joinedFlag) != 0) return std::uint64_t{range.extent} + 1;
  const std::uint32_t covered = words ? range.extent / 2 : range.extent;
  return std::min(std::uint64_t{range.first} + covered, addressSpace);
}

void DataRanges::add(std::uint32_t first, std::uint32_t bytes, std::uint64_t line, bool words) {
  if (bytes == 0) return;
  sorted_ = false;
  // Past half the room, a record that continues the last range, up or down, joins it: an image
  // of many records in order, or in reverse order, then takes no more room.
  if (ranges_.size() >= room / 2) {
    Range& last = ranges_.back();
    const Range next{first, bytes, line};
    const std::uint64_t lastEnd = end(last, words);
    const std::uint64_t nextEnd = end(next, words);
    if (nextEnd > first && lastEnd > last.first && (first == lastEnd || nextEnd == last.first)) {
      last.first = std::min(first, last.first);
      last.extent = static_cast<std::uint32_t>(std::max(lastEnd, nextEnd) - 1);
      last.line |= joinedFlag;
      return;
    }
  }
  if (ranges_.size() == room) compact(words);
  ranges_.push_back({first, bytes, line});
}

void DataRanges::compact(bool words) {
  // Each range by its addresses in these units; those that cover none go.
  std::erase_if(ranges_, [&](const Range& range) { return end(range, words) == range.first; });
  for (Range& range : ranges_)
    range = {range.first, static_cast<std::uint32_t>(end(range, words) - 1),
             range.line | joinedFlag};
  std::sort(ranges_.begin(), ranges_.end(),
            [](const Range& a, const Range& b) { return a.first < b.first; });
  // Ranges that overlap or touch are joined first, which keeps every address as it was; then,
  // only if that is not enough, across ever larger gaps.
  for (std::uint64_t gap = 0; ranges_.size() > room - room / 8 || gap == 0; gap = 2 * gap + 1) {
    std::size_t kept = 0;
    for (std::size_t i = 1; i < ranges_.size(); ++i) {
      Range& last = ranges_[kept];
      if (ranges_[i].first <= std::uint64_t{last.extent} + 1 + gap) {
        last.extent = std::max(last.extent, ranges_[i].extent);
        last.line = std::min(last.line, ranges_[i].line);
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
    // Every record by itself, in address order, and the longest of them, so that a search
    // need look only that far below `first`.
    std::erase_if(ranges_, [&](const Range& range) { return end(range, words) == range.first; });
    longest_ = 0;
    for (Range& range : ranges_) {
      const std::uint64_t rangeEnd = end(range, words);
      longest_ = std::max(longest_, rangeEnd - range.first);
      range = {range.first, static_cast<std::uint32_t>(rangeEnd - 1), range.line | joinedFlag};
    }
    std::sort(ranges_.begin(), ranges_.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    sorted_ = true;
  }
  const std::uint64_t lowest = first >= longest_ ? first - longest_ + 1 : 0;
  auto range = std::lower_bound(
      ranges_.begin(), ranges_.end(), lowest,
      [](const Range& r, std::uint64_t address) { return r.first < address; });
  std::optional<std::uint64_t> line;
  for (; range != ranges_.end() && range->first <= last; ++range)
    if (range->extent >= first) line = std::min(line.value_or(~joinedFlag), range->line & ~joinedFlag);
  return line;
}

} // namespace recstamp
