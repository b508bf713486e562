#include "hexarray/array_name.hpp"

#include <algorithm>

namespace hexarray {
namespace {

bool isLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isIdentifierChar(char c) noexcept {
  return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

std::string arrayName(std::string_view path) {
  std::string_view base = baseName(path);
  base = base.substr(0, base.rfind('.'));
  std::string name(base);
  name += "_C";
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !isIdentifierChar(c); }, '_');
  if (name.front() >= '0' && name.front() <= '9') name.insert(0, 1, '_');
  return name;
}

bool isIdentifier(std::string_view name) noexcept {
  return !name.empty() && (isLetter(name.front()) || name.front() == '_') &&
         std::all_of(name.begin(), name.end(), isIdentifierChar);
}

std::string_view baseName(std::string_view path) noexcept {
  return path.substr(path.find_last_of("/\\") + 1);
}

std::string macroName(std::string_view text) {
  std::string name(text.size(), '_');
  std::transform(text.begin(), text.end(), name.begin(), [](char c) {
    return isLetter(c) ? static_cast<char>(c & ~0x20) : c >= '0' && c <= '9' ? c : '_';
  });
  return name;
}

std::string includeGuard(std::string_view headerPath) {
  std::string guard = macroName(baseName(headerPath));
  if (guard.empty() || !isLetter(guard.front())) guard.insert(0, 1, 'H');
  return guard;
}

} // namespace hexarray
