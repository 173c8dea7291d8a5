// The release step of the operator's tool: the version record's lines with
// the digests and sizes of the files it announces filled in. Pure text
// work, so that it keeps every byte it does not mean to change.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvn::tools {

// The record with each of `values` (key, value) set in its section
// `VersionInfo`: every line of such a section holding one of the keys
// (names compared without regard to case, as the profile functions do)
// gets the new value after its '='; a key no such section holds is added
// after the last line of the first. All other lines and every line end stay as they were; added lines
// end as the file's first line does (CRLF in a file without one). nullopt,
// with `error` set, when the record has no such section.
std::optional<std::string> FillRecord(const std::string& record,
                                      const std::vector<std::pair<std::string, std::string>>& values,
                                      std::string& error);

}  // namespace kvn::tools
