#include "hexarray/array_name.hpp"

#include <algorithm>

namespace hexarray {
namespace {

bool isIdentifierChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

std::string arrayName(std::string_view outputPath) {
  std::string_view base = outputPath.substr(outputPath.find_last_of("/\\") + 1);
  base = base.substr(0, base.rfind('.'));
  std::string name(base);
  name += "_C";
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !isIdentifierChar(c); }, '_');
  if (name.front() >= '0' && name.front() <= '9') name.insert(0, 1, '_');
  return name;
}

} // namespace hexarray
