#include "recstamp/seal.hpp"

#include "srec/check.hpp"
#include "srec/hex.hpp"

#include <algorithm>

namespace recstamp {

Seal::Seal(CrcVariant variant) noexcept
    : variant_(variant),
      crc_(variant == CrcVariant::mpeg2 ? ImageCrc::Kind::mpeg2 : ImageCrc::Kind::isoHdlc) {}

std::optional<srec::Failure> Seal::place(std::uint64_t address, unsigned long line) {
  using Kind = srec::Failure::Kind;
  if (!started_) {
    // The STM32 CRC unit reads whole words from the first one.
    if (variant_ == CrcVariant::mpeg2 && address % 4 != 0)
      return srec::Failure{.kind = Kind::misalignedStart, .line = line, .address = address};
    started_ = true;
    end_ = address;
  }
  if (address < end_) return srec::Failure{Kind::outOfOrder, line};
  if (address > end_) {
    flush();
    crc_.fill(address - end_);
    end_ = address;
  }
  return std::nullopt;
}

void Seal::flush() noexcept {
  crc_.update(pending_.data(), pendingSize_);
  pendingSize_ = 0;
}

std::optional<srec::Failure> Seal::data(std::uint32_t address, const char* text, std::size_t pairs,
                                        unsigned long line, bool sound) {
  // A record without data is placed nowhere, as hexarray --fill places it.
  if (pairs == 0 || broken_) return std::nullopt;
  if (auto failure = place(address, line)) return failure;
  end_ += pairs;
  for (std::size_t done = 0; done < pairs;) {
    if (pendingSize_ == pending_.size()) flush();
    const std::size_t chunk = std::min(pairs - done, pending_.size() - pendingSize_);
    std::uint8_t* out = pending_.data() + pendingSize_;
    if (sound) {
      srec::decodeSoundPairs(text + 2 * done, chunk, out);
    } else {
      // A character that is no hex digit counts as -1, as it does in an address.
      for (std::size_t i = 0; i < chunk; ++i)
        out[i] = static_cast<std::uint8_t>(srec::hexDigit(text[2 * (done + i)]) * 16 +
                                           srec::hexDigit(text[2 * (done + i) + 1]));
    }
    pendingSize_ += chunk;
    done += chunk;
  }
  return std::nullopt;
}

std::optional<srec::Failure> Seal::version(std::uint64_t address, std::string_view bytes) {
  if (broken_) return std::nullopt;
  if (started_ && address < end_) {
    broken_ = true;
    return std::nullopt;
  }
  if (auto failure = place(address, 0)) return failure;
  flush();
  crc_.update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  end_ += bytes.size();
  return std::nullopt;
}

std::string Seal::record(std::uint64_t address) {
  const auto padding = static_cast<std::size_t>((4 - address % 4) % 4);
  std::string bytes(padding, '\xFF');
  if (!broken_) {
    static_cast<void>(place(address, 0)); // right after the version record, where it ends
    flush();
    crc_.fill(padding);
  }
  const std::uint32_t crc = crc_.value();
  for (int i = 0; i < 4; ++i) {
    const int shift = variant_ == CrcVariant::crc32Be ? 24 - 8 * i : 8 * i;
    bytes += static_cast<char>((crc >> shift) & 0xFF);
  }
  if (!broken_) {
    crc_.update(reinterpret_cast<const std::uint8_t*>(bytes.data()) + padding, 4);
    end_ = address + bytes.size();
  }
  return bytes;
}

} // namespace recstamp
