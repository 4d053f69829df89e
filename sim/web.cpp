#include "web.h"

#include <algorithm>
#include <vector>

namespace qs::sim {

namespace {

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string cell(std::string_view text, const char* tag = "td") {
    return std::string("<") + tag + ">" + escaped(text) + "</" + tag + ">";
}

// The port names the device's own pages use.
std::string portLabel(const DeviceConfig& s, std::size_t port) {
    if (s.ports.size() == 1) return "LAN";
    return port == 0 ? "LAN1" : "LAN2";
}

struct Status {
    int code;
    const char* reason;
};

constexpr Status kOk{200, "OK"};
constexpr Status kBadRequest{400, "Bad Request"};
constexpr Status kNotFound{404, "Not Found"};
constexpr Status kMethodNotAllowed{405, "Method Not Allowed"};
constexpr Status kRequestTimeout{408, "Request Timeout"};
constexpr Status kHeaderTooLarge{431, "Request Header Fields Too Large"};
constexpr Status kVersionNotSupported{505, "HTTP Version Not Supported"};

std::string errorPage(Status s) {
    const std::string title = std::to_string(s.code) + " " + s.reason;
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body><h1>" + title + "</h1></body>\n</html>\n";
}

std::string response(Status s, const std::string& body, bool withBody = true) {
    std::string out = "HTTP/1.1 " + std::to_string(s.code) + " " + s.reason + "\r\n";
    out += "Content-Type: text/html; charset=utf-8\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    if (s.code == kMethodNotAllowed.code) out += "Allow: GET, HEAD\r\n";
    out += "Connection: close\r\n\r\n";
    if (withBody) out += body;
    return out;
}

std::string errorResponse(Status s) { return response(s, errorPage(s)); }

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

bool isTokenChar(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool allOf(std::string_view text, bool (*ok)(char)) { return !text.empty() && std::all_of(text.begin(), text.end(), ok); }

// A request line in the making that can no longer become one: anything but
// an upper-case method first, or bytes no request line carries.
bool hopelessStart(std::string_view partial) {
    if (partial.empty()) return false;
    if (partial[0] < 'A' || partial[0] > 'Z') return true;
    return std::any_of(partial.begin(), partial.end(), [](char c) {
        return c != '\r' && (isControl(c) || static_cast<unsigned char>(c) >= 0x80);
    });
}

struct RequestLine {
    std::string_view method, target, version;
};

std::optional<RequestLine> splitRequestLine(std::string_view line) {
    const auto first = line.find(' ');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) return std::nullopt;
    RequestLine r{line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)};
    if (r.method.size() > 16 || !allOf(r.method, [](char c) { return c >= 'A' && c <= 'Z'; })) return std::nullopt;
    if (r.target.empty() || r.target[0] != '/') return std::nullopt;
    if (!allOf(r.target, [](char c) { return c > ' ' && c < 0x7F; })) return std::nullopt;
    return r;
}

// "HTTP/d.d": the version's two digits.
std::optional<std::pair<int, int>> httpVersion(std::string_view v) {
    if (v.size() != 8 || v.substr(0, 5) != "HTTP/" || v[6] != '.') return std::nullopt;
    if (v[5] < '0' || v[5] > '9' || v[7] < '0' || v[7] > '9') return std::nullopt;
    return std::pair{v[5] - '0', v[7] - '0'};
}

bool isHeaderLine(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !allOf(line.substr(0, colon), isTokenChar)) return false;
    const std::string_view value = line.substr(colon + 1);
    return std::none_of(value.begin(), value.end(), [](char c) { return c != '\t' && isControl(c); });
}

bool namesHost(std::string_view line) {
    constexpr std::string_view kHost = "host:";
    if (line.size() < kHost.size()) return false;
    for (std::size_t i = 0; i < kHost.size(); ++i)
        if ((line[i] | 0x20) != kHost[i]) return false;
    return true;
}

// One line without its end (LF or CRLF); `next` is moved past the end.
// Nothing when the end has not arrived yet.
std::optional<std::string_view> takeLine(std::string_view text, std::size_t& next) {
    const auto end = text.find('\n', next);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(next, end - next);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    next = end + 1;
    return line;
}

}  // namespace

std::string devicePage(const DeviceConfig& s) {
    const std::string name = escaped(s.hostname);
    const std::string model = escaped(s.model);
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + name + " - " +
                       model + "</title>\n</head>\n<body>\n<h1>" + name + " (" + model + ")</h1>\n";
    page += "<h2>Network</h2>\n<table id=\"ports\">\n<tr>";
    for (const char* h : {"Port", "IP address", "Netmask", "Gateway", "DNS 1", "DNS 2", "DHCP"}) page += cell(h, "th");
    page += "</tr>\n";
    for (std::size_t i = 0; i < s.ports.size(); ++i) {
        const PortConfig& p = s.ports[i];
        page += "<tr>" + cell(portLabel(s, i)) + cell(p.IP) + cell(p.netmask) + cell(p.gateway) + cell(p.dns1) +
                cell(p.dns2) + cell(p.dhcp ? "on" : "off") + "</tr>\n";
    }
    page += "</table>\n<p>Answers on " + escaped(portLabel(s, static_cast<std::size_t>(s.answerPort))) +
            "; default gateway on " + escaped(portLabel(s, static_cast<std::size_t>(s.defaultGatewayPort))) + ".</p>\n";
    if (s.ports.size() == 2)
        page += s.bondEnable ? "<p>Bonding: on, mode " + std::to_string(s.bondMode) + ".</p>\n" : "<p>Bonding: off.</p>\n";
    page += "<h2>Shares</h2>\n";
    const std::vector<std::string> shares = shareNames(s.shares);
    if (shares.empty()) {
        page += "<p>No shares.</p>\n";
    } else {
        page += "<ul id=\"shares\">\n";
        for (const std::string& share : shares) page += "<li>" + escaped(share) + "</li>\n";
        page += "</ul>\n";
    }
    page += "</body>\n</html>\n";
    return page;
}

std::optional<std::string> webResponse(std::string_view received, const DeviceConfig& state) {
    received = received.substr(0, std::min(received.size(), kMaxWebRequest));
    std::size_t next = 0;
    const auto first = takeLine(received, next);
    if (!first) {
        if (hopelessStart(received) || received.size() >= kMaxWebRequest) return errorResponse(kBadRequest);
        return std::nullopt;
    }
    const auto line = splitRequestLine(*first);
    const auto version = line ? httpVersion(line->version) : std::nullopt;
    if (!version) return errorResponse(kBadRequest);
    if (version->first != 1) return errorResponse(kVersionNotSupported);

    bool host = false;
    for (;;) {
        const auto header = takeLine(received, next);
        if (!header) {
            if (received.size() >= kMaxWebRequest) return errorResponse(kHeaderTooLarge);
            return std::nullopt;
        }
        if (header->empty()) break;
        if (!isHeaderLine(*header)) return errorResponse(kBadRequest);
        host = host || namesHost(*header);
    }
    // HTTP/1.1 requests must say which host they are for.
    if (version->second >= 1 && !host) return errorResponse(kBadRequest);

    const bool head = line->method == "HEAD";
    if (line->method != "GET" && !head) return errorResponse(kMethodNotAllowed);
    std::string_view path = line->target;
    path = path.substr(0, std::min(path.find('?'), path.size()));
    if (path != "/" && path != "/index.html") return response(kNotFound, errorPage(kNotFound), !head);
    return response(kOk, devicePage(state), !head);
}

std::string webTimeoutResponse() { return errorResponse(kRequestTimeout); }

std::string webBadRequestResponse() { return errorResponse(kBadRequest); }

}  // namespace qs::sim
