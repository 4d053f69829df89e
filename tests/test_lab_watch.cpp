// quayside watch against the simulator in the loopback lab: boxes appear,
// one changes and one stops answering, and SIGTERM ends the watch cleanly.
#include "support/lab.h"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace qs::test;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// The events the watch has printed so far, read until `done` holds on them
// or `limit` passes.
std::vector<json> eventsUntil(Child& watch, const std::function<bool(const std::vector<json>&)>& done,
                              std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        // No line is ever this; the call only reads what came.
        watch.waitForLine("\x01", 100ms);
        std::vector<json> events;
        const std::string& out = watch.output();
        const std::string complete = out.substr(0, out.rfind('\n') + 1);
        for (const auto& e : jsonLines(complete)) events.push_back(e);
        if (done(events) || Clock::now() > deadline) return events;
    }
}

std::size_t countOf(const std::vector<json>& events, const std::string& kind, const std::string& uuid = {}) {
    return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const json& e) {
        return e.at("event") == kind && (uuid.empty() || e.at("serverUUID") == uuid);
    }));
}

// The device counts of the searches the watch reported on stderr.
std::vector<std::string> searchCounts(const std::string& errors) {
    std::vector<std::string> counts;
    std::istringstream in(errors);
    const std::string prefix = "quayside: search: ";
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) counts.push_back(line.substr(prefix.size()));
    return counts;
}

struct SimFile {
    std::string path;
    explicit SimFile(const std::vector<json>& devices) : path(tempFile(simConfig(devices))) {}
    ~SimFile() { ::unlink(path.c_str()); }
};

}  // namespace

TEST(LabWatch, ReportsNewChangedAndGoneThenEndsOnSigterm) {
    const json a = simDevice("00000000000000d1", "watch-a", "VSB-720K", "192.168.77.51");
    const json b = simDevice("00000000000000d2", "watch-b", "VSB-760K", "192.168.77.52");
    const json c = simDevice("00000000000000d3", "watch-c", "VSB-790K", "192.168.77.53");
    json aRenamed = a;
    aRenamed["hostname"] = "watch-a-renamed";
    const SimFile before({a, b, c}), after({aRenamed, b});

    Child watch;
    ASSERT_TRUE(watch.start({quaysideBin(), "watch", "--json", "--loopback", "--every", "3", "--verbose"}));
    Child sim;
    ASSERT_TRUE(sim.start({simBin(), "--config", before.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();

    auto events = eventsUntil(watch, [](const auto& e) { return countOf(e, "new") >= 3; }, 10s);
    ASSERT_EQ(countOf(events, "new"), 3u) << watch.output() << watch.errors();
    // The lines came out with the search that found the boxes, not later.
    const auto counts = searchCounts(watch.errors());
    EXPECT_EQ(std::count(counts.begin(), counts.end(), "3 devices"), 1) << watch.errors();

    // The same boxes again, but a renamed and c no longer there. A search
    // during the restart misses a and b once, which is not enough to be gone.
    const std::size_t searchesBefore = watch.errors().size();
    sim.stop();
    ASSERT_TRUE(sim.start({simBin(), "--config", after.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    events = eventsUntil(
        watch, [](const auto& e) { return countOf(e, "changed") >= 1 && countOf(e, "gone") >= 1; }, 15s);
    ASSERT_EQ(countOf(events, "changed", "00000000000000d1"), 1u) << watch.output();
    ASSERT_EQ(countOf(events, "gone", "00000000000000d3"), 1u) << watch.output();
    for (const auto& e : events) {
        if (e.at("event") == "changed") {
            EXPECT_EQ(e.at("hostname"), "watch-a-renamed");
            EXPECT_EQ(e.at("fields"), json::array({"hostname"}));
        }
        if (e.at("event") == "gone") {
            EXPECT_EQ(e.at("hostname"), "watch-c");
        }
    }
    EXPECT_EQ(events.size(), 5u) << watch.output();
    // c went away after two searches without it (each search says on
    // stderr, before its events, how many devices it found).
    const auto later = searchCounts(watch.errors().substr(searchesBefore));
    EXPECT_GE(later.size() - static_cast<std::size_t>(std::count(later.begin(), later.end(), "3 devices")), 2u)
        << watch.errors();

    // SIGTERM: exit code 0 within the grace period (bounded by one search).
    const auto stopAt = Clock::now();
    EXPECT_EQ(watch.stop(), 0) << watch.errors();
    EXPECT_LT(Clock::now() - stopAt, 3s);
}

// What the watch prints must reach someone: a reader that goes away, or an
// output that takes nothing, ends it with exit code 1 and one line saying
// why, within a search and a wait.
TEST(LabWatch, EndsWithOneWhenItsReaderHasGone) {
    const SimFile config(std::vector<json>{simDevice("00000000000000e1", "reader-a", "VSB-720K", "192.168.77.61")});
    Child sim;
    ASSERT_TRUE(sim.start({simBin(), "--config", config.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    Child watch;
    ASSERT_TRUE(watch.start({quaysideBin(), "watch", "--json", "--loopback", "--every", "3"}));
    const auto events = eventsUntil(watch, [](const auto& e) { return !e.empty(); }, 10s);
    ASSERT_EQ(countOf(events, "new"), 1u) << watch.output() << watch.errors();

    // Nothing changes, so the watch has nothing more to write.
    const auto closedAt = Clock::now();
    watch.closeOutput();
    EXPECT_EQ(watch.waitExit(8s), 1) << watch.errors();
    EXPECT_LT(Clock::now() - closedAt, 8s);
    EXPECT_EQ(watch.errors(), "quayside: cannot write the output: Broken pipe\n");
}

TEST(LabWatch, AWriteWithNoReaderIsAFailureNotASignal) {
    const SimFile config(std::vector<json>{simDevice("00000000000000e2", "reader-b", "VSB-720K", "192.168.77.62")});
    Child sim;
    ASSERT_TRUE(sim.start({simBin(), "--config", config.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    Child watch;
    const bool started = watch.start({quaysideBin(), "watch", "--loopback", "--every", "3"}, fds[1]);
    ::close(fds[1]);
    ASSERT_TRUE(started);
    // The first search finds the box and its line meets the closed pipe.
    EXPECT_EQ(watch.waitExit(10s), 1) << "-1: ended by a signal";
    EXPECT_EQ(watch.errors(), "quayside: cannot write the output: Broken pipe\n");
}

TEST(LabWatch, AFullOutputEndsTheWatch) {
    const SimFile config(std::vector<json>{simDevice("00000000000000e3", "reader-c", "VSB-720K", "192.168.77.63")});
    Child sim;
    ASSERT_TRUE(sim.start({simBin(), "--config", config.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"watch", "--json", "--loopback", "--every", "3"},
          {"watch", "--format", "csv", "--loopback", "--every", "3"}, {"search", "--loopback"}}) {
        std::vector<std::string> argv{quaysideBin()};
        argv.insert(argv.end(), args.begin(), args.end());
        Child child;
        ASSERT_TRUE(child.start(argv, full));
        const std::string command = args[0] + " " + args[1];
        EXPECT_EQ(child.waitExit(10s), 1) << command;
        EXPECT_EQ(child.errors(), "quayside: cannot write the output: No space left on device\n") << command;
    }
    ::close(full);
}

// A host name with a tab and a line end cannot break a TSV record: the
// header comes once, then one record per event with a cell per column.
TEST(LabWatch, TsvHasOneHeaderThenOneRecordPerEvent) {
    const SimFile config(std::vector<json>{simDevice("00000000000000e4", "tsv\tbox\nx", "VSB-720K", "192.168.77.64")});
    Child sim;
    ASSERT_TRUE(sim.start({simBin(), "--config", config.path, "--loopback"}));
    ASSERT_TRUE(sim.waitForLine("ready")) << sim.errors();
    Child watch;
    ASSERT_TRUE(watch.start({quaysideBin(), "watch", "--format", "tsv", "--loopback", "--every", "3"}));
    const auto deadline = Clock::now() + 10s;
    while (std::count(watch.output().begin(), watch.output().end(), '\n') < 2 && Clock::now() < deadline)
        watch.waitForLine("\x01", 100ms);  // no line is ever this; it only reads what came
    EXPECT_EQ(watch.stop(), 0) << watch.errors();

    const auto split = [](const std::string& text, char at) {
        std::vector<std::string> parts;
        std::size_t from = 0;
        for (std::size_t to; (to = text.find(at, from)) != std::string::npos; from = to + 1)
            parts.push_back(text.substr(from, to - from));
        parts.push_back(text.substr(from));
        return parts;
    };
    auto lines = split(watch.output(), '\n');
    ASSERT_EQ(lines.size(), 3u) << watch.output();  // the last one empty
    EXPECT_EQ(lines[2], "");
    const auto columns = split(lines[0], '\t');
    const auto cells = split(lines[1], '\t');
    ASSERT_EQ(cells.size(), columns.size()) << watch.output();
    std::map<std::string, std::string> record;
    for (std::size_t i = 0; i < columns.size(); ++i) record[columns[i]] = cells[i];
    EXPECT_EQ(columns.front(), "event");
    EXPECT_EQ(record["event"], "new");
    EXPECT_EQ(record["serverUUID"], "00000000000000e4");
    EXPECT_EQ(record["hostname"], "tsv\\x09box\\x0ax");
    EXPECT_EQ(record["ports[0].IP"], "192.168.77.64");
    EXPECT_EQ(record["localInterface"], "127.0.0.1");
}
