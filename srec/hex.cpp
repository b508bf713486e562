#include "srec/hex.hpp"

#include <cctype>
#include <charconv>

namespace srec {

std::optional<std::uint64_t> cNumber(std::string_view text, std::uint64_t max) noexcept {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
    value = value * base + static_cast<unsigned>(digit);
    if (value > max) return std::nullopt;
  }
  return value;
}

std::string toHex(std::uint64_t value, bool upperCase) {
  std::string digits(16, '0');
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value, 16).ptr;
  digits.resize(static_cast<std::size_t>(end - digits.data()));
  if (upperCase)
    for (char& c : digits)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return digits;
}

} // namespace srec
