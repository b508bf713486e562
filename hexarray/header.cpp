#include "hexarray/header.hpp"

#include "hexarray/array_name.hpp"
#include "srec/hex.hpp"

namespace hexarray {

bool fitsHeader(const Array& array, std::string_view headerPath) {
  const std::string guard = includeGuard(headerPath);
  const std::string macro = macroName(array.name);
  return array.name != guard && guard != macro + "_SIZE" &&
         (!array.fill || guard != macro + "_ADDRESS");
}

std::string headerText(const Array& array, std::string_view headerPath) {
  const std::string guard = includeGuard(headerPath);
  const std::string macro = macroName(array.name);
  std::string text = "#ifndef " + guard + "\n#define " + guard + "\n\n#define " + macro + "_SIZE " +
                     std::to_string(array.size) + "\n";
  if (array.fill)
    text += "#define " + macro + "_ADDRESS 0x" + srec::toHex(array.address, true) + "\n";
  // The C file includes this first: the compiler then checks the size against the definition,
  // and in C++ the definition, a const, keeps this declaration's external C linkage.
  return text + "\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n\nextern const unsigned char " +
         array.name + "[" + macro + "_SIZE];\n\n#ifdef __cplusplus\n}\n#endif\n\n#endif\n";
}

} // namespace hexarray
