// The web pages of a simulated device: one status page built from the
// device's current state, and the HTTP/1.x request handling around it. No
// sockets here; the simulator feeds in what a connection has received.
#pragma once

#include "config.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qs::sim {

// The most a request may send before its header is complete.
inline constexpr std::size_t kMaxWebRequest = 8 * 1024;

// The status page: host name and model in the title and the heading, a
// table of the port settings, bonding and the share list.
std::string devicePage(const DeviceConfig& state);

// The whole response (status line, header, body) to what a connection has
// received so far, or nothing while more is needed. GET and HEAD of "/" (or
// "/index.html") get the status page; other paths 404; other methods 405; a
// request line that is not HTTP/1.x, or a malformed header, 400; a header
// that does not end within kMaxWebRequest bytes, 431. Bytes after the
// header are never looked at: every response closes the connection.
std::optional<std::string> webResponse(std::string_view received, const DeviceConfig& state);

// The response sent when a connection does not finish its request in time.
std::string webTimeoutResponse();
// The response to a request cut short by the client's end of sending.
std::string webBadRequestResponse();

}  // namespace qs::sim
