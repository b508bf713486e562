#include "hexarray/array_name.hpp"

#include <algorithm>
#include <array>

namespace hexarray {
namespace {

bool isLetter(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isIdentifierChar(char c) noexcept {
  return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

// The keywords of C and C++ that need no underscore, `main`, and the predefined macros that need
// none either; sorted.
// clang-format off
constexpr std::array<std::string_view, 98> plainUnusable = {
    "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
    "case", "catch", "char", "char16_t", "char32_t", "char8_t", "class", "co_await", "co_return",
    "co_yield", "compl", "concept", "const", "const_cast", "consteval", "constexpr", "constinit",
    "continue", "decltype", "default", "delete", "do", "double", "dynamic_cast", "else", "enum",
    "explicit", "export", "extern", "false", "float", "for", "friend", "goto", "if", "inline",
    "int", "linux", "long", "main", "mutable", "namespace", "new", "noexcept", "not", "not_eq",
    "nullptr", "operator", "or", "or_eq", "private", "protected", "public", "register",
    "reinterpret_cast", "requires", "restrict", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
    "throw", "true", "try", "typedef", "typeid", "typename", "typeof", "typeof_unqual", "union",
    "unix", "unsigned", "using", "virtual", "void", "volatile", "wchar_t", "while", "xor",
    "xor_eq"};
// clang-format on

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

bool isUsableName(std::string_view name) {
  const bool reserved =
      name.size() > 1 && name[0] == '_' && (name[1] == '_' || (name[1] >= 'A' && name[1] <= 'Z'));
  return !reserved && !std::binary_search(plainUnusable.begin(), plainUnusable.end(), name);
}

std::string_view includedName(std::string_view headerPath) noexcept {
#ifdef _WIN32
  return baseName(headerPath);
#else
  return headerPath.substr(headerPath.rfind('/') + 1); // '\\' is a character of the name
#endif
}

bool isUsableHeaderName(std::string_view headerPath) {
  const std::string_view name = includedName(headerPath);
  for (std::size_t at = name.find("??"); at != std::string_view::npos; at = name.find("??", at + 1))
    if (at + 2 < name.size() &&
        std::string_view("=(/)'<!>-").find(name[at + 2]) != std::string_view::npos)
      return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
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
