// Helpers shared by the Linux backend's sources.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "update/http_answer.h"

typedef struct _GProxyResolver GProxyResolver;

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

// The reading of a response head's lines is the download's own
// (update/http_answer.h), shared with the operator's tool.
using kvn::HeaderLine;
using kvn::ParseHeaderLine;

// The ways a download takes, in order, from the answer of GIO's proxy
// resolver for its URL (a list of "direct://" and proxy URLs, best first):
// the entries libcurl can follow, each once; what it cannot is passed over.
// An empty list fails the download rather than going around the proxy the
// desktop asked for.
struct ProxyChoice {
    enum Kind { Direct, Proxy } kind;
    std::string url;  // for Proxy: the proxy as libcurl takes it
    bool operator==(const ProxyChoice&) const = default;
};
std::vector<ProxyChoice> ProxyRoads(const std::vector<std::string>& answer);

// The HTTP backend with a resolver of the caller's instead of the default.
std::unique_ptr<Http> makeHttp(GProxyResolver* resolver);

}  // namespace kvn::linuxp
