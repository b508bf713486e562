#include "srec/hex.hpp"

#include <cctype>
#include <charconv>

namespace srec {

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
