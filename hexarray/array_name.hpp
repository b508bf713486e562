// The C identifiers hexarray writes: the array's name, made from a file name or given, and the
// include guard of its header.
#pragma once

#include <string>
#include <string_view>

namespace hexarray {

// The base name (after the last '/' or '\'), cut at its last '.', with "_C" appended; every
// character outside [A-Za-z0-9_] becomes '_', and a leading digit gets a '_' in front.
// boot.c -> boot_C, out\image.c -> image_C, my-image.c -> my_image_C, 1st.c -> _1st_C.
std::string arrayName(std::string_view path);

// A letter or '_', then letters, digits and '_'.
bool isIdentifier(std::string_view name) noexcept;

// What follows the last '/' or '\' of `path`.
std::string_view baseName(std::string_view path) noexcept;

// `text` in upper case, every character outside [A-Z0-9] as '_'.
std::string macroName(std::string_view text);

// False for a name that would not compile as the array's everywhere the C file and its header
// go: a keyword of C (C89 to C23) or C++ (C++11 to C++20, alternative tokens such as `and`
// included), `main`, a name reserved to the compiler (`__func__`, `_Pragma`, `__cplusplus`: a
// leading "__" or '_' and a capital letter), or a macro that compilers predefine without a
// leading underscore (`unix`, `linux`).
bool isUsableName(std::string_view name);

// The header's name as the C file includes it: its base name, after the last '/' (and on Windows
// '\').
std::string_view includedName(std::string_view headerPath) noexcept;

// False for a header whose base name can't stand in `#include "..."`: one holding '"', '\' (a
// name character where it does not separate folders), a control character or a trigraph ("??=").
bool isUsableHeaderName(std::string_view headerPath);

// The macro name of the header's base name, with an 'H' in front unless it starts with a letter,
// so that it never takes a name reserved to the compiler: fw.h -> FW_H, gen/1st-fw.h -> H1ST_FW_H.
std::string includeGuard(std::string_view headerPath);

} // namespace hexarray
