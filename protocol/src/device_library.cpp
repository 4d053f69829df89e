#include "quayside/device_library.h"

#include "quayside/address.h"

#include <algorithm>
#include <array>
#include <set>

namespace qs {

Bytes buildSearchRequest(const Uuid8& clientUUID) {
    ByteWriter w = startRequest(op_SEARCH, clientUUID, Uuid8{});
    return finishRequest(w);
}

namespace {
Bytes authRequest(std::uint16_t opcode, const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                  std::string_view password) {
    ByteWriter w = startRequest(opcode, clientUUID, serverUUID);
    appendAuthData(w, user, password);
    return finishRequest(w);
}
}  // namespace

Bytes buildCheckPasswordRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                                std::string_view password) {
    return authRequest(op_CHK_PASSWD, clientUUID, serverUUID, user, password);
}

Bytes buildShareListRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                            std::string_view password) {
    return authRequest(op_GET_SAMBA_SHARE, clientUUID, serverUUID, user, password);
}

Bytes buildSetLanRequest(const Uuid8& clientUUID, const Uuid8& serverUUID, std::string_view user,
                         std::string_view password, const TmpDeviceData& t, ItemPadding padding) {
    ByteWriter w = startRequest(op_SET_LAN, clientUUID, serverUUID);
    appendAuthData(w, user, password);
    appendItem(w, v_IP, t.IP, padding);
    appendItem(w, v_NETMASK, t.netmask, padding);
    appendItem(w, v_GATEWAY, t.gateway, padding);
    appendItem(w, v_NS1, t.dns1, padding);
    appendItem(w, v_NS2, t.dns2, padding);
    appendItem(w, v_NS_MODE, t.dnsMode != 0 ? "1" : "0", padding);
    appendItem(w, v_IF_NO, t.nIfNo != 0 ? "1" : "0", padding);
    appendItem(w, v_DHCP_ENABLE, t.dhcpEnable ? "1" : "0", padding);
    return finishRequest(w);
}

int chooseSettingsPort(const DeviceData_n& device, std::string_view portLabel) {
    if (device.ifCount == 1) return device.answeringPort();
    if (device.ifCount == 2) {
        if (portLabel == "LAN1+LAN2") return device.answeringPort();
        return portLabel == "LAN1" ? 0 : 1;
    }
    return 0;
}

std::vector<std::string> decodeShareList(ByteView reply, std::size_t maxValue) {
    std::vector<std::string> names;
    bool first = true;
    walkItems(reply, kHeaderSize, 1, [&](const Item& item) {
        if (!first || item.length < 5) return;
        first = false;
        std::string text = item.text();
        if (maxValue != 0 && text.size() > maxValue) text.resize(maxValue);
        names = splitFields(text, ':', false);
    });
    return names;
}

const char* describe(Outcome o) {
    switch (o) {
        case Outcome::Accepted: return "accepted";
        case Outcome::Refused: return "refused";
        case Outcome::NoAnswer: return "no answer";
        case Outcome::UnknownDevice: return "device not found";
    }
    return "unknown";
}

DeviceLibrary::DeviceLibrary(std::unique_ptr<BlockingLink> link, const Uuid8& clientUUID)
    : link_(std::move(link)), clientUUID_(clientUUID) {}

bool DeviceLibrary::SearchDevices(const SearchTargets& targets, const SearchProgress& progress) {
    devices.ClearDeviceList();
    stats_ = {};
    asked_.clear();
    confirmed_.clear();
    heardTotal_ = 0;
    if (!link_) return false;
    link_->refreshInterfaces();
    const Bytes request = buildSearchRequest(clientUUID_);
    lastTargets_ = targets;
    SearchTargets asking = targets;
    for (const std::uint32_t a : followed_)
        if (std::find(asking.hosts.begin(), asking.hosts.end(), a) == asking.hosts.end()) asking.hosts.push_back(a);
    if (searchTuning.oneAtATime)
        searchInTurn(request, asking, progress);
    else
        searchTogether(request, asking, progress);
    devices.markAddressConflicts();
    // One reading of the neighbour table for the whole search.
    const auto table = neighbourTable ? neighbourTable() : readNeighbourTable();
    std::vector<DeviceData_n*> found;
    for (std::size_t i = 0; i < devices.count(); ++i) found.push_back(&devices.at(i));
    fillHardwareAddresses(found, table.value_or(std::vector<Neighbour>{}));
    return true;
}

bool DeviceLibrary::answersAddressAsked(const BlockingLink::Arrival& a) const {
    return a.direct || (!a.toGroup && a.from != 0 && asked_.count(a.from) != 0);
}

DeviceLibrary::Taken DeviceLibrary::takeSearchReply(ByteView datagram, HeardList& heard,
                                                    const BlockingLink::Arrival& arrival) {
    if (const ReplyCheck check = checkReply(datagram, op_SEARCH, clientUUID_); check != ReplyCheck::Accepted) {
        ++stats_.rejected;
        if (onRefused) onRefused(check, datagram, arrival);
        const bool echo = datagram.size() == kHeaderSize && readHeader(datagram) &&
                          readHeader(datagram)->magic == kRequestMagic && readHeader(datagram)->clientUUID == clientUUID_;
        return echo ? Taken::Quiet : Taken::Fresh;
    }
    // An answer to a request sent to one address comes from that address.
    if (arrival.direct && asked_.count(arrival.from) == 0) {
        ++stats_.rejected;
        if (onRefused) onRefused(ReplyCheck::Accepted, datagram, arrival);
        return Taken::Fresh;
    }
    BlockingLink::Arrival how = arrival;
    how.direct = answersAddressAsked(arrival);
    const Uuid8 id = readHeader(datagram)->serverUUID;
    if (how.direct) confirmed_.emplace(id, how.from);
    if (!how.direct && claimedElsewhere(id, how.from)) {
        ++stats_.duplicates;
        return Taken::Quiet;
    }
    if (const auto same = heard.index.find(id); same != heard.index.end()) {
        // Heard through the group from the address it was asked at: it is
        // no device found by address. An answer from another address does
        // not move it (anyone can send one under its serverUUID), and the
        // device's own answer from the address asked outweighs one that
        // came through the group from elsewhere.
        Heard& known = heard.items[same->second];
        if (!how.direct && how.from == known.from) known.byAddress = false;
        if (how.direct && !known.byAddress && how.from != known.from) {
            known = Heard{Bytes(datagram.begin(), datagram.end()), true, how.from};
        } else if (how.from != known.from && heard.elsewhere.size() < kElsewhereKept &&
                   std::none_of(heard.elsewhere.begin(), heard.elsewhere.end(), [&](const Heard& e) {
                       return e.from == how.from && readHeader(e.datagram)->serverUUID == id;
                   })) {
            heard.elsewhere.push_back(Heard{Bytes(datagram.begin(), datagram.end()), how.direct, how.from});
        }
        ++stats_.duplicates;
        return Taken::Quiet;
    }
    if (!replyIsSupportedModel(datagram)) {
        ++stats_.unsupported;
        // It ends no wait: the wait it came in counts toward the tally as
        // an empty one does. Counted apart, each of them (and each answer of
        // theirs to the repeats of the request) would shorten the window
        // for the devices that answer late.
        return Taken::Quiet;
    }
    if (heardTotal_ >= kMaxDevices) {
        ++stats_.refusedAsFull;
        return Taken::Quiet;
    }
    ++heardTotal_;
    heard.index.emplace(id, heard.items.size());
    heard.items.push_back(Heard{Bytes(datagram.begin(), datagram.end()), how.direct, how.from});
    return Taken::Fresh;
}

void DeviceLibrary::record(const HeardList& heard, int iface) {
    const auto recordOf = [&](const Heard& h) {
        DeviceData_n rec;
        fillDeviceFromReply(rec, h.datagram);
        rec.localIfIndex = iface;
        rec.byAddress = h.byAddress;
        rec.answeredFrom = knownIpv4(h.from);
        return rec;
    };
    // A second answer under a known serverUUID: kept beside the first when
    // the two cannot both be right, dropped otherwise.
    const auto weigh = [&](DeviceData_n& known, const Heard& h) {
        DeviceData_n other = recordOf(h);
        if (!answersConflict(known, other)) return;
        for (std::size_t i = 0; i < devices.count(); ++i)
            if (devices.at(i).serverUUID == other.serverUUID && devices.at(i).answeredFrom == other.answeredFrom) return;
        known.conflict = other.conflict = true;
        devices.append() = other;
    };
    for (const Heard& h : heard.items) {
        if (DeviceData_n* known = devices.FindDevice(readHeader(h.datagram)->serverUUID)) {
            const auto from = knownIpv4(h.from);
            if (!h.byAddress && from == known->answeredFrom) known->byAddress = false;
            if (h.byAddress && !known->byAddress && from != known->answeredFrom)
                *known = recordOf(h);
            else
                weigh(*known, h);
            ++stats_.duplicates;
            continue;
        }
        devices.append() = recordOf(h);
        ++stats_.accepted;
    }
    for (const Heard& h : heard.elsewhere) {
        const Uuid8 id = readHeader(h.datagram)->serverUUID;
        if (h.byAddress || !claimedElsewhere(id, h.from))
            if (DeviceData_n* known = devices.FindDevice(id)) weigh(*known, h);
    }
}

namespace {
// The repeats of a search request still to send, due at set times after
// the first sending.
class Repeats {
public:
    Repeats(const std::vector<std::chrono::milliseconds>& after, BlockingLink::Clock::time_point start)
        : after_(after), start_(start) {}
    bool due(BlockingLink::Clock::time_point now) {
        if (next_ >= after_.size() || now - start_ < after_[next_]) return false;
        ++next_;
        return true;
    }
    std::optional<BlockingLink::Clock::time_point> next() const {
        if (next_ >= after_.size()) return std::nullopt;
        return start_ + after_[next_];
    }

private:
    const std::vector<std::chrono::milliseconds>& after_;
    BlockingLink::Clock::time_point start_;
    std::size_t next_ = 0;
};
}  // namespace

void DeviceLibrary::searchInTurn(const Bytes& request, const SearchTargets&, const SearchProgress& progress) {
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    for (int i = 0; i < link_->interfaceCount(); ++i) {
        const std::string address = link_->interfaceAddress(i);
        if (progress) progress(i, address, devices.count());
        link_->sendRequest(i, request);
        const auto start = link_->now();
        Repeats repeats(searchTuning.repeatAfter, start);
        const int only[] = {i};
        int tally = 0;
        HeardList heard;
        while (tally < searchTuning.tallyLimit) {
            if (link_->now() - start >= searchTuning.listenBound) {
                ++stats_.boundHits;
                break;
            }
            if (repeats.due(link_->now())) link_->repeatRequests(only, request);
            const auto a = link_->pollAny(only, searchTuning.pollWait, buffer);
            if (!a) {
                ++tally;
                ++stats_.emptyWaits;
                continue;
            }
            if (takeSearchReply(ByteView(buffer.data(), a->length), heard, *a) == Taken::Tally) ++tally;
        }
        record(heard, i);
        if (progress) progress(i, address, devices.count());
    }
}

void DeviceLibrary::searchTogether(const Bytes& request, const SearchTargets& targets, const SearchProgress& progress) {
    using Clock = BlockingLink::Clock;
    using std::chrono::milliseconds;
    const bool multicast = targets.multicast;
    const int count = multicast ? link_->interfaceCount() : 0;
    struct Listener {
        std::string address;
        int tally = 0;
        Clock::time_point waitEnd;
        HeardList heard;
    };
    std::vector<Listener> listeners(static_cast<std::size_t>(link_->interfaceCount()));
    std::vector<int> active, everyInterface;
    for (int i = 0; i < link_->interfaceCount(); ++i) everyInterface.push_back(i);
    for (int i = 0; i < count; ++i) {
        listeners[static_cast<std::size_t>(i)].address = link_->interfaceAddress(i);
        active.push_back(i);
    }
    // Devices heard so far on any interface, for the progress count.
    std::set<Uuid8> known;
    const auto heardNew = [&](const HeardList& heard, std::size_t before) {
        if (heard.items.size() == before) return false;
        return known.insert(readHeader(heard.items.back().datagram)->serverUUID).second;
    };
    if (progress)
        for (int i = 0; i < count; ++i) progress(i, listeners[static_cast<std::size_t>(i)].address, 0);

    // Requests to single addresses go out paced, in rounds; a sweep of many
    // addresses goes round fewer times. Their answers are heard on the
    // direct socket until its own tally or bound ends it, counted from the
    // last sending.
    // The remembered addresses after those asked for, each once; they end
    // their listening with the group's.
    std::vector<std::uint32_t> hosts = targets.hosts;
    asked_ = std::unordered_set<std::uint32_t>(hosts.begin(), hosts.end());
    for (const std::uint32_t a : targets.remembered)
        if (asked_.insert(a).second) hosts.push_back(a);
    const bool directHoldsOpen = !targets.hosts.empty() || count == 0;
    std::size_t rounds = 0;
    if (!hosts.empty()) {
        rounds = directSearchRounds(hosts.size(), searchTuning.repeatAfter.size() + 1, searchTuning.directBudget);
        link_->drainDirect();
    }
    const auto spacing = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
                         std::max(1, searchTuning.directPerSecond);
    std::size_t round = 0, nextHost = 0;
    int directTally = 0;
    Clock::time_point roundStart{}, lastDirect{}, directWaitEnd{};
    HeardList heardDirectElsewhere;  // answers that came in on no interface of the table
    bool directListening = !hosts.empty();

    if (!active.empty()) link_->sendRequests(active, request);
    const auto start = link_->now();
    Repeats repeats(searchTuning.repeatAfter, start);
    roundStart = lastDirect = start;
    directWaitEnd = start + searchTuning.pollWait;
    for (auto& l : listeners) l.waitEnd = start + searchTuning.pollWait;
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    while (!active.empty() || directListening) {
        auto now = link_->now();
        if (!active.empty() && repeats.due(now)) link_->repeatRequests(active, request);
        // The direct requests due by now, each at its own time.
        while (round < rounds && now >= roundStart + spacing * static_cast<long>(nextHost)) {
            link_->sendDirect(hosts[nextHost], request);
            lastDirect = now;
            directTally = 0;
            if (++nextHost == hosts.size()) {
                nextHost = 0;
                ++round;
                const auto planned = round <= searchTuning.repeatAfter.size()
                                         ? start + searchTuning.repeatAfter[round - 1]
                                         : now;
                roundStart = std::max(planned, now + spacing);
            }
            now = link_->now();
        }
        // A wait that ran out empty counts toward its interface's tally;
        // an interface ends at its tally limit or its listening bound.
        std::erase_if(active, [&](int i) {
            Listener& l = listeners[static_cast<std::size_t>(i)];
            if (now >= l.waitEnd) {
                ++l.tally;
                ++stats_.emptyWaits;
                l.waitEnd = now + searchTuning.pollWait;
            }
            bool ended = l.tally >= searchTuning.tallyLimit;
            if (!ended && now - start >= searchTuning.listenBound) {
                ++stats_.boundHits;
                ended = true;
            }
            if (ended && progress) progress(i, l.address, known.size());
            return ended;
        });
        if (directListening && !directHoldsOpen && active.empty()) directListening = false;
        if (directListening) {
            if (now >= directWaitEnd) {
                if (round >= rounds) ++directTally;
                directWaitEnd = now + searchTuning.pollWait;
            }
            if (round >= rounds && directTally >= searchTuning.tallyLimit) directListening = false;
            if (round >= rounds && now - lastDirect >= searchTuning.listenBound) {
                ++stats_.boundHits;
                directListening = false;
            }
        }
        if (active.empty() && !directListening) break;
        std::optional<Clock::time_point> soonest;
        const auto consider = [&](Clock::time_point t) { soonest = soonest ? std::min(*soonest, t) : t; };
        for (const int i : active) consider(listeners[static_cast<std::size_t>(i)].waitEnd);
        if (directListening) consider(directWaitEnd);
        if (round < rounds) consider(roundStart + spacing * static_cast<long>(nextHost));
        if (!active.empty())
            if (const auto r = repeats.next()) consider(*r);
        const auto timeout = std::max(std::chrono::ceil<milliseconds>(*soonest - now), milliseconds(0));
        // While addresses are asked, every interface is heard: a device may
        // answer them at the device port, which is where the interface
        // sockets listen.
        const auto arrival = link_->pollWithDirect(directListening ? std::span<const int>(everyInterface) : active,
                                                   directListening, timeout, buffer);
        if (!arrival) continue;
        const ByteView datagram(buffer.data(), arrival->length);
        if (answersAddressAsked(*arrival)) {
            auto& heard = arrival->iface >= 0 ? listeners[static_cast<std::size_t>(arrival->iface)].heard
                                              : heardDirectElsewhere;
            const std::size_t before = heard.items.size();
            const Taken taken = takeSearchReply(datagram, heard, *arrival);
            if (taken != Taken::Quiet) directWaitEnd = link_->now() + searchTuning.pollWait;
            if (taken == Taken::Tally && round >= rounds) ++directTally;
            heardNew(heard, before);
            continue;
        }
        Listener& l = listeners[static_cast<std::size_t>(arrival->iface)];
        if (std::find(active.begin(), active.end(), arrival->iface) == active.end()) {
            // An interface done with its own listening: what comes is still
            // taken, but holds nothing open.
            const std::size_t before = l.heard.items.size();
            takeSearchReply(datagram, l.heard, *arrival);
            heardNew(l.heard, before);
            continue;
        }
        const std::size_t before = l.heard.items.size();
        const Taken taken = takeSearchReply(datagram, l.heard, *arrival);
        // The wait ended with a datagram: the next one starts now.
        if (taken != Taken::Quiet) l.waitEnd = link_->now() + searchTuning.pollWait;
        if (taken == Taken::Tally) ++l.tally;
        if (heardNew(l.heard, before) && progress && known.size() % 16 == 0)
            progress(arrival->iface, l.address, known.size());
    }
    for (int i = 0; i < link_->interfaceCount(); ++i) record(listeners[static_cast<std::size_t>(i)].heard, i);
    record(heardDirectElsewhere, -1);
}

bool DeviceLibrary::answerOf(ByteView datagram, const Uuid8& box, std::uint16_t opcode) const {
    return checkReply(datagram, opcode, clientUUID_) == ReplyCheck::Accepted && readHeader(datagram)->serverUUID == box;
}

Outcome DeviceLibrary::exchange(const Uuid8& box, const Bytes& request, std::uint16_t opcode,
                                std::chrono::milliseconds pollTime, Bytes& reply, bool resend) {
    const DeviceData_n* dev = devices.FindDevice(box);
    if (!dev || !link_) return Outcome::UnknownDevice;
    const int iface = dev->localIfIndex;
    const bool onTable = iface >= 0 && iface < link_->interfaceCount();
    if (!dev->byAddress && !onTable) return Outcome::UnknownDevice;
    CredentialRoutes::Request route = routes_.start(*dev, onTable);
    const int only[] = {iface};
    const std::span<const int> listen = onTable ? std::span<const int>(only) : std::span<const int>();
    std::array<std::uint8_t, kBlockingBufferSize> buffer{};
    const LateAnswers::Key key{box, opcode};
    // Answers still owed to the last request of this kind are read and
    // dropped before this one goes out.
    while (const auto until = late_.holdUntil(key, link_->now())) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - link_->now());
        const auto a = link_->pollWithDirect(listen, true, std::max(left, std::chrono::milliseconds(0)), buffer);
        // Anyone may send under the device's serverUUID; only the device's
        // own answers count off what it owes.
        if (a && answerOf(ByteView(buffer.data(), a->length), box, opcode) && routes_.fromDevice(route, a->from))
            late_.takeLate(key, link_->now());
    }
    const auto send = [&](Via via, bool first) {
        if (via == Via::Group)
            first ? link_->sendRequest(iface, request) : link_->repeatRequests(only, request);
        else if (via == Via::Unicast)
            first ? link_->sendDirectRequest(iface, route.address, request) : link_->sendDirect(route.address, request);
        return via != Via::Nothing;
    };
    if (!send(routes_.first(route), true)) return Outcome::NoAnswer;
    const auto firstSend = link_->now();
    auto lastSend = firstSend;
    int copies = 1;
    link_->sleepFor(operationTuning.pauseAfterSend);
    const auto start = link_->now();
    int empty = 0;
    while (link_->now() - start < operationTuning.waitBound) {
        if (resend && link_->now() - lastSend >= operationTuning.resendAfter) {
            if (send(routes_.again(route), false)) ++copies;
            lastSend = link_->now();
        }
        const auto a = link_->pollWithDirect(listen, true, pollTime, buffer);
        if (!a) {
            if (empty >= operationTuning.emptyWaitLimit) break;
            link_->sleepFor(operationTuning.emptyWaitSleep);
            ++empty;
            continue;
        }
        const ByteView datagram(buffer.data(), a->length);
        // Only the device asked may answer, from its own address: a late
        // reply from another device, or one sent under its serverUUID from
        // elsewhere, must not settle this request.
        if (!answerOf(datagram, box, opcode) || !routes_.believes(route, a->from)) continue;
        routes_.answered(route, a->direct);
        late_.ended(key, copies, firstSend, lastSend, link_->now(), link_->now());
        reply.assign(datagram.begin(), datagram.end());
        return Outcome::Accepted;
    }
    late_.ended(key, copies, firstSend, lastSend, std::nullopt, link_->now());
    return Outcome::NoAnswer;
}

namespace {
// The credentials as the protocol's fields hold them: each cut to 63 bytes,
// overwritten when done.
struct Fields {
    explicit Fields(const Credentials& who) : user(who.user), password(who.password) {}
    ~Fields() { password.clear(); }
    FixedText<64> user;
    FixedText<64> password;
};

Outcome byReturnCode(Outcome exchanged, const Bytes& reply) {
    if (exchanged != Outcome::Accepted) return exchanged;
    return readHeader(reply)->ret_code == 1 ? Outcome::Accepted : Outcome::Refused;
}
}  // namespace

Outcome DeviceLibrary::checkPassword(const Uuid8& box, const Credentials& who) {
    const Fields f(who);
    Bytes reply;
    Bytes request = buildCheckPasswordRequest(clientUUID_, box, f.user.view(), f.password.view());
    const Outcome o = byReturnCode(exchange(box, request, op_CHK_PASSWD, std::chrono::milliseconds(30), reply), reply);
    secureClear(request);
    return o;
}

Outcome DeviceLibrary::getShareList(const Uuid8& box, const Credentials& who) {
    shares.ClearShareList();
    const Fields f(who);
    Bytes reply;
    Bytes request = buildShareListRequest(clientUUID_, box, f.user.view(), f.password.view());
    const Outcome o = exchange(box, request, op_GET_SAMBA_SHARE, std::chrono::milliseconds(10), reply);
    secureClear(request);
    if (o == Outcome::Accepted)
        for (const auto& name : decodeShareList(reply)) shares.add(name);
    return o;
}

Outcome DeviceLibrary::setLanConfig(const Uuid8& box, const Credentials& who, const LanSettings& settings) {
    const DeviceData_n* dev = devices.FindDevice(box);
    if (!dev || (!dev->byAddress && devices.FindDeviceInterface(box) < 0)) return Outcome::UnknownDevice;
    const FixedText<10> label(settings.portLabel);
    const int p = chooseSettingsPort(*dev, label.view());
    const PortBlock& port = dev->port[static_cast<std::size_t>(p)];
    TmpDeviceData t;
    t.IP = textOf(settings.address);
    t.netmask = textOf(settings.netmask);
    t.gateway = textOf(settings.gateway);
    t.dns1 = port.dns1.str();
    t.dns2 = port.dns2.str();
    t.dnsMode = port.dnsMode;
    t.nIfNo = p;
    t.dhcpEnable = settings.dhcp;
    const Fields f(who);
    Bytes reply;
    Bytes request = buildSetLanRequest(clientUUID_, box, f.user.view(), f.password.view(), t);
    const auto pollTime = std::chrono::milliseconds(settings.dhcp ? 30 : 10);
    const bool byAddress = dev->byAddress;
    const std::uint32_t oldAddress = hostOrderOf(dev->answeredFrom);
    const Outcome o = byReturnCode(exchange(box, request, op_SET_LAN, pollTime, reply, false), reply);
    secureClear(request);
    if (o == Outcome::Accepted && byAddress && !settings.dhcp && settings.address &&
        settings.address->hostOrder != oldAddress)
        followMovedDevice(settings.address->hostOrder);
    return o;
}

void DeviceLibrary::followMovedDevice(std::uint32_t newAddress) {
    // The group does not reach it: the next searches ask its new address,
    // and one does now, once it has had time to take it.
    if (std::find(followed_.begin(), followed_.end(), newAddress) == followed_.end()) followed_.push_back(newAddress);
    link_->sleepFor(operationTuning.pauseBeforeFollowUp);
    const SearchTargets again = lastTargets_;
    SearchDevices(again);
}

bool DeviceLibrary::openSockets(const TransportOptions& options, std::string* error) {
    auto transport = std::make_unique<SocketTransport>();
    if (!transport->OpenSockets(options, error)) return false;
    clientUUID_ = makeClientId();
    link_ = std::move(transport);
    return true;
}

}  // namespace qs
