// The remembered boxes: the file kept whole whatever happens to it.
#include "box_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace qs;
using namespace qs::cli;

namespace {

class BoxStoreFile : public ::testing::Test {
protected:
    std::string dir, path;
    std::vector<std::string> warnings;

    void SetUp() override {
        char tmpl[] = "/tmp/qs-box-store-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/quayside/boxes.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    BoxStore store() {
        return BoxStore(path, [this](const std::string& w) { warnings.push_back(w); });
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void write(const std::string& file, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file) << text;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir + "/quayside"))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

RememberedBox named(const std::string& id, const std::string& host) {
    RememberedBox b;
    b.serverUUID = id;
    b.hostname = host;
    b.lastSeen = "2024-05-01T09:30:00Z";
    return b;
}

bool add(BoxStore& s, const RememberedBox& b) {
    return s.update([&](std::vector<RememberedBox>& boxes) {
        boxes.push_back(b);
        return true;
    });
}

}  // namespace

TEST_F(BoxStoreFile, ADamagedFileIsKeptAsideAndSaidAndANewListBegins) {
    // Not JSON, and JSON of the wrong shape: both kept as they were.
    for (const std::string& damaged : {std::string("{\"version\": 1, \"boxes\": [tru"),
                                      std::string(R"({"version": 1, "boxes": [{"serverUUID": "00000000000000a1", "byAddress": "yes"}]})")}) {
        std::filesystem::remove_all(dir + "/quayside");
        warnings.clear();
        write(path, damaged);
        BoxStore s = store();
        ASSERT_TRUE(add(s, named("00000000000000a2", "fresh")));
        const auto names = files();
        ASSERT_EQ(names.size(), 3u) << damaged;  // boxes.json, its copy aside, the lock
        const std::string aside = dir + "/quayside/" + names[1];
        EXPECT_EQ(names[1].rfind("boxes.json.damaged-", 0), 0u) << names[1];
        EXPECT_EQ(read(aside), damaged);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(path), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find(aside), std::string::npos) << warnings[0];
        std::vector<RememberedBox> now;
        ASSERT_TRUE(s.load(now));
        ASSERT_EQ(now.size(), 1u);
        EXPECT_EQ(now[0].hostname, "fresh");
    }
}

TEST_F(BoxStoreFile, TheNewListReplacesTheOldInOneStep) {
    BoxStore s = store();
    ASSERT_TRUE(add(s, named("00000000000000a1", "first")));
    const std::string old = read(path);
    // A reader of the old file keeps reading the old list whole: the new
    // one is written aside and renamed over it, not written into it.
    const int reader = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(add(s, named("00000000000000a2", "second")));
    std::string seen(old.size() + 100, '\0');
    const ssize_t n = ::pread(reader, seen.data(), seen.size(), 0);
    ::close(reader);
    EXPECT_EQ(seen.substr(0, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), old);
    EXPECT_EQ(files(), (std::vector<std::string>{"boxes.json", "boxes.json.lock"}));  // no temporary file left
    const auto now = parseBoxes(read(path));
    ASSERT_TRUE(now);
    ASSERT_EQ(now->size(), 2u);
    EXPECT_EQ((*now)[1], named("00000000000000a2", "second"));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(BoxStoreFile, TwoRunsAtOnceKeepEachOthersBoxes) {
    // Each thread is a run of its own (a store of its own on the same
    // file), adding its boxes one update at a time.
    constexpr int kRuns = 4, kEach = 25;
    std::vector<std::thread> runs;
    for (int r = 0; r < kRuns; ++r)
        runs.emplace_back([&, r] {
            BoxStore s(path, {});
            for (int i = 0; i < kEach; ++i) {
                char id[17];
                std::snprintf(id, sizeof id, "%08x%08x", r, i);
                add(s, named(id, "box"));
            }
        });
    for (auto& t : runs) t.join();
    std::vector<RememberedBox> boxes;
    ASSERT_TRUE(store().load(boxes));
    EXPECT_EQ(boxes.size(), static_cast<std::size_t>(kRuns * kEach));
}

TEST_F(BoxStoreFile, ADirectoryThatCannotBeMadeIsSaidOnce) {
    write(dir + "/quayside", "a file where the directory would be");
    BoxStore s = store();
    EXPECT_FALSE(add(s, named("00000000000000a1", "one")));
    EXPECT_FALSE(add(s, named("00000000000000a2", "two")));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cannot keep the list of boxes"), std::string::npos) << warnings[0];
    EXPECT_EQ(read(dir + "/quayside"), "a file where the directory would be");
}

TEST(RememberFound, ConflictsMoveNothingAndWhatWasKnownStaysWhereItStillHolds) {
    DeviceData_n box;
    box.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, 0xa1};
    box.hostname = "nas";
    box.ifCount = 2;
    box.port[0].IP = "10.0.0.2";
    box.port[1].IP = "10.0.1.2";
    box.answeredFrom = Ipv4{0x0A000002};
    box.byAddress = true;
    box.hardware = HardwareAddress{{0x02, 0, 0, 0, 0, 0xa1}};
    std::vector<RememberedBox> boxes;
    rememberFound(boxes, {&box}, "2024-05-01T09:00:00Z");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].serverUUID, "00000000000000a1");
    EXPECT_EQ(boxes[0].ports, (std::vector<RememberedPort>{{"LAN1", "10.0.0.2", "", ""}, {"LAN2", "10.0.1.2", "", ""}}));
    EXPECT_EQ(boxes[0].mac, "02:00:00:00:00:a1");
    EXPECT_TRUE(boxes[0].byAddress);

    // A forged answer from elsewhere, in conflict with the box's own: the
    // box stays where it was, and a box only forged is not added.
    DeviceData_n forged = box;
    forged.answeredFrom = Ipv4{0x0A0000FE};
    forged.byAddress = false;
    forged.conflict = true;
    DeviceData_n other = forged;
    other.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, 0xb1};
    rememberFound(boxes, {&forged, &other}, "2024-05-02T09:00:00Z");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].answeredFrom, "10.0.0.2");
    EXPECT_EQ(boxes[0].lastSeen, "2024-05-01T09:00:00Z");

    // Its neighbour entry aged out: the hardware address stays known at the
    // same address, and goes when the box answers from another.
    box.hardware.reset();
    rememberFound(boxes, {&box}, "2024-05-03T09:00:00Z");
    EXPECT_EQ(boxes[0].mac, "02:00:00:00:00:a1");
    EXPECT_EQ(boxes[0].firstSeen, "2024-05-01T09:00:00Z");
    EXPECT_EQ(boxes[0].lastSeen, "2024-05-03T09:00:00Z");
    box.answeredFrom = Ipv4{0x0A000009};
    rememberFound(boxes, {&box}, "2024-05-04T09:00:00Z");
    EXPECT_EQ(boxes[0].mac, "");
    EXPECT_EQ(boxes[0].answeredFrom, "10.0.0.9");

    // The file round-trips what was remembered.
    EXPECT_EQ(parseBoxes(serializeBoxes(boxes)), boxes);
}

TEST(RememberFound, AFloodOfAnswersThroughTheGroupPushesOutNoBoxFoundByAddress) {
    DeviceData_n far;
    far.serverUUID = Uuid8{0, 0, 0, 0, 0, 0, 0, 0xfa};
    far.answeredFrom = Ipv4{0x0A090002};
    far.byAddress = true;
    std::vector<RememberedBox> boxes;
    rememberFound(boxes, {&far}, "2024-05-01T09:00:00Z");
    std::vector<DeviceData_n> flood(kMaxRememberedBoxes + 10);
    std::vector<const DeviceData_n*> found;
    for (std::size_t i = 0; i < flood.size(); ++i) {
        flood[i].serverUUID = Uuid8{1, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        found.push_back(&flood[i]);
    }
    rememberFound(boxes, found, "2024-05-02T09:00:00Z");
    EXPECT_EQ(boxes.size(), kMaxRememberedBoxes);
    EXPECT_EQ(matchRemembered(boxes, "00000000000000fa").size(), 1u);
}
