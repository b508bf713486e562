// The header that declares hexarray's array for the other files of a build.
#pragma once

#include "hexarray/convert.hpp"

#include <string>
#include <string_view>

namespace hexarray {

// The declaration of `array` with its size, so that sizeof works wherever it is included, in C
// linkage for C++; NAME_SIZE and, address-true, NAME_ADDRESS as plain numbers for #if; all
// inside an include guard made from `headerPath`. Valid C89 and C++ alike.
// False when the array's name or one of the header's macros is the header's include guard: such
// a header would not compile.
bool fitsHeader(const Array& array, std::string_view headerPath);

std::string headerText(const Array& array, std::string_view headerPath);

} // namespace hexarray
