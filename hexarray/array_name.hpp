// The C identifier of the generated array, made from the output file name.
#pragma once

#include <string>
#include <string_view>

namespace hexarray {

// The base name (after the last '/' or '\'), cut at its last '.', with "_C" appended; every
// character outside [A-Za-z0-9_] becomes '_', and a leading digit gets a '_' in front.
// boot.c -> boot_C, out\image.c -> image_C, my-image.c -> my_image_C, 1st.c -> _1st_C.
std::string arrayName(std::string_view outputPath);

} // namespace hexarray
