// Setting values in a configuration file's text while every other byte
// stays as the operator wrote it (GBK text, CR LF, comments, order): the
// publishing tool's edits, made the way the launcher's INI reader finds
// sections and keys.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

// Sets key=value in the section the launcher reads (the first of that name,
// names compared without ASCII case): the first line of that key gets the
// new value after its '=' and keeps its line end; a missing key is added
// after the section's last non-blank line; a missing section is added at
// the end of the text. New lines end in CR LF.
std::string SetConfigValue(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value);

// The text without any ";kelto2-signature" line, wherever it stands, and
// with a CR LF after its last line if that lacks a line end: the bytes a
// new signature line can follow.
std::string WithoutConfigSignature(std::string_view text);

}  // namespace kelto
