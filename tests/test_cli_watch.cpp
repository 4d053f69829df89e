// quayside watch: what one search tells against the one before.
#include "device_watch.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace qs;
using namespace qs::cli;

namespace {

DeviceData_n& box(DeviceRegistry& r, std::uint8_t id, const std::string& host, const std::string& ip) {
    DeviceData_n& d = r.append();
    d.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, id};
    d.hostname = host;
    d.modelName = "VSB-720K";
    d.ifCount = 1;
    d.port[0].IP = ip;
    d.port[0].netmask = "255.255.255.0";
    d.port[0].gateway = "10.0.0.254";
    return d;
}

std::vector<std::string> summary(const std::vector<WatchEvent>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) {
        std::string s = std::string(watchEventName(e.kind)) + " " + e.record.at("hostname").get<std::string>();
        for (const auto& f : e.fields) s += " " + f;
        out.push_back(s);
    }
    return out;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(DeviceWatch, NewChangedAndGoneAfterTwoMisses) {
    DeviceWatch watch;
    DeviceRegistry first;
    box(first, 1, "alpha", "10.0.0.1");
    box(first, 2, "beta", "10.0.0.2");
    EXPECT_EQ(summary(watch.update(first)), (Lines{"new alpha", "new beta"}));
    EXPECT_TRUE(watch.update(first).empty());

    // alpha renamed and moved to DHCP with a new address; beta missed once.
    DeviceRegistry second;
    DeviceData_n& a = box(second, 1, "alpha-2", "10.0.0.9");
    a.port[0].dhcpEnable = true;
    EXPECT_EQ(summary(watch.update(second)),
              (Lines{"changed alpha-2 hostname ports[0].IP ports[0].dhcpEnable"}));
    // Missed a second time in a row: gone, with the record last seen.
    const auto gone = watch.update(second);
    EXPECT_EQ(summary(gone), (Lines{"gone beta"}));
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].record.at("ports")[0].at("IP"), "10.0.0.2");

    // A box back after going away is new again; bonding shows as a change.
    DeviceRegistry third;
    DeviceData_n& a3 = box(third, 1, "alpha-2", "10.0.0.9");
    a3.port[0].dhcpEnable = true;
    a3.bondingEnable = 1;
    box(third, 2, "beta", "10.0.0.2");
    EXPECT_EQ(summary(watch.update(third)), (Lines{"changed alpha-2 bondingEnable", "new beta"}));
}

TEST(DeviceWatch, AHardwareAddressComingOrGoingIsNoChangeButAnotherOneIs) {
    DeviceWatch watch;
    DeviceRegistry r;
    box(r, 1, "alpha", "10.0.0.1");
    watch.update(r);
    // The neighbour entry appears, ages out, and comes back.
    r.at(0).hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x01}};
    EXPECT_TRUE(watch.update(r).empty());
    r.at(0).hardware.reset();
    EXPECT_TRUE(watch.update(r).empty());
    r.at(0).hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x01}};
    EXPECT_TRUE(watch.update(r).empty());
    // Other hardware answers for the box.
    r.at(0).hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0x02}};
    EXPECT_EQ(summary(watch.update(r)), (Lines{"changed alpha mac"}));
}

TEST(DeviceWatch, OneMissThenBackIsNoEvent) {
    DeviceWatch watch;
    DeviceRegistry both, onlyAlpha;
    box(both, 1, "alpha", "10.0.0.1");
    box(both, 2, "beta", "10.0.0.2");
    box(onlyAlpha, 1, "alpha", "10.0.0.1");
    watch.update(both);
    EXPECT_TRUE(watch.update(onlyAlpha).empty());
    EXPECT_TRUE(watch.update(both).empty());
    // The miss count started again when beta came back.
    EXPECT_TRUE(watch.update(onlyAlpha).empty());
    EXPECT_EQ(summary(watch.update(onlyAlpha)), (Lines{"gone beta"}));
}

TEST(DeviceWatch, LinesCarryTheEventAndEscapeDeviceText) {
    DeviceRegistry r;
    box(r, 1, "evil\x1b[2J", "10.0.0.1");
    DeviceWatch watch;
    auto events = watch.update(r);
    ASSERT_EQ(events.size(), 1u);
    const auto j = watchEventJson(events[0]);
    EXPECT_EQ(j.at("event"), "new");
    EXPECT_EQ(j.at("serverUUID"), "0000000000000001");
    EXPECT_FALSE(j.contains("fields"));
    EXPECT_EQ(watchEventText(events[0]),
              "new 0000000000000001: evil\\x1b[2J, VSB-720K, LAN 10.0.0.1 netmask 255.255.255.0 gateway 10.0.0.254 DHCP off");

    r.at(0).modelName = "VSB-760K";
    events = watch.update(r);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(watchEventJson(events[0]).at("fields"), nlohmann::json::array({"modelName"}));
    EXPECT_NE(watchEventText(events[0]).find("; changed: modelName"), std::string::npos);
}

TEST(DeviceWatch, InterfaceIsComparedByItsAddressNotItsIndex) {
    DeviceWatch watch;
    DeviceRegistry r;
    box(r, 1, "alpha", "10.0.0.1").localIfIndex = 1;
    const auto first = watch.update(r, {"192.168.5.2", "10.0.0.50"});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].record.at("localInterface"), "10.0.0.50");

    // An interface before it went away: same interface, now index 0.
    r.at(0).localIfIndex = 0;
    EXPECT_TRUE(watch.update(r, {"10.0.0.50"}).empty());
    // One came before it: index 2, still the same interface.
    r.at(0).localIfIndex = 2;
    EXPECT_TRUE(watch.update(r, {"192.168.5.2", "172.16.0.4", "10.0.0.50"}).empty());

    // Same index, another interface: a change, and the record says which.
    const auto moved = watch.update(r, {"192.168.5.2", "172.16.0.4", "10.0.7.1"});
    EXPECT_EQ(summary(moved), (Lines{"changed alpha localInterface"}));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].record.at("localInterface"), "10.0.7.1");
    EXPECT_EQ(moved[0].record.at("localIfIndex"), 2);
}

TEST(DeviceWatch, CsvAndTsvRowsCarryTheKeysOfTheJsonLines) {
    const auto& columns = watchEventColumns();
    ASSERT_FALSE(columns.empty());
    EXPECT_EQ(columns.front(), "event");
    EXPECT_EQ(columns.back(), "withheld");

    DeviceWatch watch;
    DeviceRegistry r;
    DeviceData_n& d = box(r, 1, "a,\"b\"\tc", "10.0.0.1");
    d.byAddress = true;
    d.answeredFrom = Ipv4{0x0A000001};
    watch.update(r, {"10.0.0.50"});
    r.at(0).port[0].IP = "10.0.0.2";
    const auto events = watch.update(r, {"10.0.0.50"});
    ASSERT_EQ(events.size(), 1u);
    const nlohmann::json line = watchEventJson(events[0]);

    // Every key of the JSON line has its column, and its cell says what
    // the line says; a key the line leaves out is an empty cell.
    const auto cells = watchEventCells(line);
    ASSERT_EQ(cells.size(), columns.size());
    const auto cell = [&](const std::string& column) {
        const auto it = std::find(columns.begin(), columns.end(), column);
        return it == columns.end() ? std::string("(no column)") : cells[static_cast<std::size_t>(it - columns.begin())];
    };
    for (const auto& [key, value] : line.items()) {
        if (key == "ports") {
            for (std::size_t p = 0; p < value.size(); ++p)
                for (const auto& [field, v] : value[p].items())
                    EXPECT_EQ(cell("ports[" + std::to_string(p) + "]." + field),
                              v.is_string() ? v.get<std::string>() : v.dump());
            continue;
        }
        if (key != "fields") {
            EXPECT_EQ(cell(key), value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump())
                << key;
        }
    }
    EXPECT_EQ(cell("fields"), "ports[0].IP");
    EXPECT_EQ(cell("event"), "changed");
    EXPECT_EQ(cell("byAddress"), "true");
    EXPECT_EQ(cell("conflict"), "");
    EXPECT_EQ(cell("withheld"), "");

    // The host name stays one field: quoted in CSV, its tab escaped in both.
    const std::string csv = separatedRow(OutputFormat::Csv, cells);
    EXPECT_NE(csv.find(",\"a,\"\"b\"\"\\x09c\","), std::string::npos) << csv;
    const std::string tsv = separatedRow(OutputFormat::Tsv, cells);
    EXPECT_EQ(static_cast<std::size_t>(std::count(tsv.begin(), tsv.end(), '\t')), columns.size() - 1) << tsv;
    EXPECT_NE(tsv.find("\ta,\"b\"\\x09c\t"), std::string::npos) << tsv;

    // The line that sums up withheld boxes fills its own two columns.
    const auto summary = watchEventCells({{"event", "new"}, {"withheld", 1200}});
    EXPECT_EQ(summary.front(), "new");
    EXPECT_EQ(summary.back(), "1200");
}
