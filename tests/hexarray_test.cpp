#include "hexarray/array_name.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ArrayName, FromTheOutputFileName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"boot.c", "boot_C"},
      {"out\\image.c", "image_C"},
      {"../gen/table.h", "table_C"},
      {"noext", "noext_C"},
      {"C:\\src\\out.c", "out_C"},
      {"x.", "x_C"},
      {".c", "_C"},
      {"a.b.c", "a_b_C"},
      {"dir\\file", "file_C"},
      {"dir.x\\file", "file_C"},
      {"dir/lib.d/file", "file_C"},
      {"./out", "out_C"},
      {"1st.c", "_1st_C"},
      {"dir/", "_C"},
      {"with blank-dash.c", "with_blank_dash_C"},
      {"Az_09$@~.c", "Az_09____C"},
      {"caf\xC3\xA9.c", "caf___C"},
      {"9", "_9_C"},
      {std::string(300, 'n') + ".c", std::string(300, 'n') + "_C"},
  };
  for (const auto& [path, name] : cases)
    EXPECT_EQ(hexarray::arrayName(path), name) << path;
}

} // namespace
