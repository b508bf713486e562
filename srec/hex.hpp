// Hexadecimal text both ways: the digits of the input decoded, and the digits the tools write.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace srec {

namespace detail {
// Indexed by byte: a table rather than comparisons, since data digits are as random as the
// data, and a mispredicted branch per digit would dominate the conversion's time.
inline constexpr std::array<std::int8_t, 256> hexValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i)
    values['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values['A' + i] = static_cast<std::int8_t>(10 + i);
    values['a' + i] = static_cast<std::int8_t>(10 + i);
  }
  return values;
}();
} // namespace detail

// Value of one hexadecimal digit of either case, or -1 for any other byte.
constexpr int hexDigit(char c) noexcept {
  return detail::hexValues[static_cast<unsigned char>(c)];
}

inline constexpr std::string_view upperHexDigits = "0123456789ABCDEF";

// Writes the low `bytes` bytes of `value` at `out`, most significant first, two upper-case digits
// each; returns the end of what it wrote.
constexpr char* putHexBytes(char* out, std::uint32_t value, int bytes) noexcept {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    *out++ = upperHexDigits[(value >> (shift + 4)) & 0xF];
    *out++ = upperHexDigits[(value >> shift) & 0xF];
  }
  return out;
}

// A number as C writes it, from 0 to `max`: hexadecimal after 0x or 0X, octal after a 0, else
// decimal; nothing else, not even a sign or a blank.
std::optional<std::uint64_t> cNumber(std::string_view text, std::uint64_t max) noexcept;

// The digits of `value` without leading zeros, in lower or upper case.
std::string toHex(std::uint64_t value, bool upperCase = false);

} // namespace srec
