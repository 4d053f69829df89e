#include "quayside/delivery.h"

#include "quayside/address.h"

#include <algorithm>

namespace qs {

CredentialRoutes::Request CredentialRoutes::start(const DeviceData_n& device, bool groupReachable) const {
    Request r;
    r.device = device.serverUUID;
    r.address = hostOrderOf(device.answeredFrom);
    r.groupReachable = groupReachable && !device.byAddress;
    for (const PortBlock& p : device.port)
        if (const auto& a = p.IP.address(); a && a->hostOrder != 0) r.reported.push_back(a->hostOrder);
    return r;
}

Via CredentialRoutes::group(Request& r) {
    r.groupSent = true;
    return Via::Group;
}

Via CredentialRoutes::first(Request& r) {
    if (r.groupReachable && (r.address == 0 || needsGroup(r.device))) return group(r);
    return r.address != 0 ? Via::Unicast : Via::Nothing;
}

Via CredentialRoutes::again(Request& r) {
    if (!r.groupSent && r.address != 0 && r.groupReachable) return group(r);
    return r.address != 0 ? Via::Unicast : Via::Nothing;
}

bool CredentialRoutes::believes(const Request& r, std::uint32_t from) const {
    if (from == 0) return false;
    if (from == r.address) return true;
    return r.groupSent && std::find(r.reported.begin(), r.reported.end(), from) != r.reported.end();
}

bool CredentialRoutes::fromDevice(const Request& r, std::uint32_t from) const {
    if (from == 0) return false;
    return from == r.address || std::find(r.reported.begin(), r.reported.end(), from) != r.reported.end();
}

void CredentialRoutes::answered(const Request& r, bool toUnicastCopy) {
    if (toUnicastCopy)
        needsGroup_.erase(r.device);
    else if (r.groupSent && r.address != 0)
        needsGroup_.insert(r.device);
}

void LateAnswers::ended(const Key& key, int copies, Clock::time_point first, Clock::time_point last,
                        std::optional<Clock::time_point> answeredAt, Clock::time_point now) {
    Owed o;
    if (answeredAt) {
        o.count = copies - 1;
        o.until = last + (*answeredAt - first) + kMargin;
    } else {
        o.count = copies;
        o.until = now + kUnansweredGrace;
    }
    if (o.count <= 0 || o.until <= now)
        owed_.erase(key);
    else
        owed_[key] = o;
}

std::optional<LateAnswers::Clock::time_point> LateAnswers::holdUntil(const Key& key, Clock::time_point now) {
    const auto it = owed_.find(key);
    if (it == owed_.end()) return std::nullopt;
    if (it->second.until <= now) {
        owed_.erase(it);
        return std::nullopt;
    }
    return it->second.until;
}

bool LateAnswers::takeLate(const Key& key, Clock::time_point now) {
    const auto it = owed_.find(key);
    if (it == owed_.end()) return false;
    if (it->second.until <= now) {
        owed_.erase(it);
        return false;
    }
    if (--it->second.count <= 0) owed_.erase(it);
    return true;
}

}  // namespace qs
