// The stamping pass: copy an S-record stream token by token, one a line, with a version record in
// front of every termination record, or once at the end when there is none.
#pragma once

#include "recstamp/version_record.hpp"
#include "srec/io.hpp"
#include "srec/token_reader.hpp"

#include <optional>
#include <string_view>

namespace recstamp {

// Runs the pass. Returns the version record that could not be written because its address does
// not fit its kind, in which case the pass stopped there.
std::optional<VersionRecord> stamp(srec::TokenReader& in, srec::BufferedWriter& out,
                                   std::string_view versionField);

} // namespace recstamp
