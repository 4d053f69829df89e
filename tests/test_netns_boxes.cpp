// The boxes the tool remembers, across a router of network namespaces: a
// box found once by its address is found again by a plain search.
#include "support/lab.h"
#include "support/netns.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace qs::test;

namespace {

// The client on 10.233.1.0/24, a router to 10.234.1.0/24, where the far
// box is. The router holds a box of its own on the client's link (the
// near box), which answers by unicast: the client's neighbour table then
// knows its hardware address.
class RememberedBoxes : public ::testing::Test {
protected:
    static constexpr const char* kNearHardware = "02:51:0b:0c:00:01";
    std::unique_ptr<Netns> client, router, devices;
    Child nearSim, farSim;
    std::string nearConfig, farConfig, stateDir;

    void SetUp() override {
        std::string why;
        if (!Netns::available(&why)) GTEST_SKIP() << why;
        client = std::make_unique<Netns>("bxc");
        router = std::make_unique<Netns>("bxr");
        devices = std::make_unique<Netns>("bxd");
        ASSERT_TRUE(client->ok() && router->ok() && devices->ok()) << "could not create network namespaces";
        std::string error, routerEnd;
        ASSERT_TRUE(veth(*client, "10.233.1.1/24", *router, "10.233.1.254/24", &error, nullptr, &routerEnd)) << error;
        ASSERT_EQ(run({"ip", "-n", router->name(), "link", "set", "dev", routerEnd, "address", kNearHardware}).exitCode,
                  0);
        ASSERT_TRUE(veth(*devices, "10.234.1.2/24", *router, "10.234.1.254/24", &error)) << error;
        ASSERT_TRUE(enableForwarding(*router, &error)) << error;
        ASSERT_TRUE(route(*client, {"default", "via", "10.233.1.254"}, &error)) << error;
        ASSERT_TRUE(route(*devices, {"default", "via", "10.234.1.254"}, &error)) << error;
        stateDir = freshStateHome();

        json near = simDevice("00000000000000b1", "near", "VSB-720K", "10.233.1.254");
        near["reply"] = "unicast";
        nearConfig = tempFile(simConfig({near}));
        ASSERT_TRUE(nearSim.start(router->exec({simBin(), "--config", nearConfig})));
        ASSERT_TRUE(nearSim.waitForLine("ready")) << nearSim.errors();
        farConfig = tempFile(simConfig({simDevice("00000000000000b2", "far", "VSB-760K", "10.234.1.2")}));
        ASSERT_TRUE(farSim.start(devices->exec({simBin(), "--config", farConfig})));
        ASSERT_TRUE(farSim.waitForLine("ready")) << farSim.errors();
    }
    void TearDown() override {
        nearSim.stop();
        farSim.stop();
        for (const auto& f : {nearConfig, farConfig})
            if (!f.empty()) ::unlink(f.c_str());
    }
    RunResult quayside(std::vector<std::string> args) {
        args.insert(args.begin(), quaysideBin());
        return run(client->exec(args));
    }
    std::vector<json> lines(const std::vector<std::string>& args) {
        const RunResult r = quayside(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return jsonLines(r.out);
    }
    std::string storeText() const {
        std::ifstream in(stateDir + "/quayside/boxes.json");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

}  // namespace

TEST_F(RememberedBoxes, ABoxFoundByAddressIsFoundAgainByAPlainSearch) {
    // Beyond the router only by address; the near box with its hardware
    // address, the far one without (its answers come through the router).
    auto found = lines({"search", "--json", "--host", "10.234.1.2"});
    ASSERT_EQ(found.size(), 2u);
    const json* near = byUuid(found, "00000000000000b1");
    const json* far = byUuid(found, "00000000000000b2");
    ASSERT_TRUE(near && far);
    EXPECT_EQ(near->at("mac"), kNearHardware);
    EXPECT_TRUE(far->at("mac").is_null());
    EXPECT_EQ(far->value("byAddress", false), true);
    const RunResult table = quayside({"search", "--host", "10.234.1.2"});
    EXPECT_NE(table.out.find(std::string("no    ") + kNearHardware + "\n"), std::string::npos) << table.out;

    struct stat st {};
    ASSERT_EQ(::stat((stateDir + "/quayside").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // --no-remember: the remembered address is not asked, nothing changes.
    const std::string before = storeText();
    EXPECT_EQ(lines({"search", "--json", "--no-remember"}).size(), 1u);
    EXPECT_EQ(storeText(), before);

    // A plain search asks it at the address it was found at.
    found = lines({"search", "--json"});
    ASSERT_EQ(found.size(), 2u);
    far = byUuid(found, "00000000000000b2");
    ASSERT_TRUE(far);
    EXPECT_EQ(far->value("byAddress", false), true);
    EXPECT_EQ(far->value("answeredFrom", ""), "10.234.1.2");
    RunResult r = quayside({"check-password", "--device", "far", "--user", "admin", "--password", "admin"});
    EXPECT_EQ(r.out, "accepted\n") << r.err;

    // Listed live while it answers, with the time it was last seen after.
    auto listed = lines({"boxes", "--json"});
    ASSERT_EQ(listed.size(), 2u);
    for (const json& b : listed) EXPECT_EQ(b.at("live"), true) << b;
    EXPECT_EQ(byUuid(listed, "00000000000000b1")->at("mac"), kNearHardware);
    farSim.stop();
    r = quayside({"boxes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("00000000000000b1  near"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string(kNearHardware) + "  group     live\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("10.234.1.2" + std::string(7 + 19, ' ') + "address   last seen 20"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("2 boxes remembered, 1 of them live\n"), std::string::npos) << r.out;

    // Forgotten, it is asked no more; forgetting it twice is an error.
    r = quayside({"forget", "far"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "forgot far (00000000000000b2)\n");
    r = quayside({"forget", "far"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("no remembered box 'far'"), std::string::npos) << r.err;
    listed = lines({"boxes", "--json", "--no-remember"});
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].at("hostname"), "near");
}

TEST_F(RememberedBoxes, AStateDirectoryThatCannotBeWrittenIsSaidOnceAndTheSearchGoesOn) {
    const std::string blocker = tempFile("not a directory", ".txt");
    ::setenv("XDG_STATE_HOME", blocker.c_str(), 1);
    const RunResult r = quayside({"search", "--json", "--host", "10.234.1.2"});
    ::setenv("XDG_STATE_HOME", stateDir.c_str(), 1);
    ::unlink(blocker.c_str());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(jsonLines(r.out).size(), 2u);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("quayside: cannot keep the list of boxes"), std::string::npos) << r.err;
}
