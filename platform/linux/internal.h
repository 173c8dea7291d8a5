// Helpers shared by the Linux backend's sources.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace kvn::linuxp {

// Writes all bytes (retrying short writes).
bool writeWhole(int fd, const char* data, std::size_t n);
// Replaces a file whole: temp file in the same folder, then rename(2).
bool replaceWhole(const std::string& path, const std::string& data, mode_t mode);
// Reads a file (nullopt above maxBytes unless head) or its first maxBytes.
std::optional<std::string> readNative(const std::string& path, std::size_t maxBytes, bool head);

// Case-insensitive comparison of ASCII letters (other bytes compared as is).
bool equalsNoCase(const std::string& a, const std::string& b);
std::string trim(const std::string& s);

// One line of a response's head as the server sent it (line end included):
// the status line that starts a response, the empty line that ends the head,
// a Content-Length field (its value without surrounding blanks) or any other.
struct HeaderLine {
    enum Kind { Status, End, ContentLength, Other } kind;
    std::string value;
};
HeaderLine ParseHeaderLine(std::string_view line);

}  // namespace kvn::linuxp
