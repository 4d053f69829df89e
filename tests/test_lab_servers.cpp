// The lab's servers: every lab device on its own loopback address, with web
// pages on port 80 and Samba file shares on port 445 there. The web tests
// need port 80 (root); the share tests need root, smbd, smbclient and
// nss_wrapper. Each skips, saying why, when its part cannot run.
#include "support/lab.h"

#include "quayside/address.h"

#include <arpa/inet.h>
#include <glob.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

using namespace qs::test;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

struct LabBox {
    std::string uuid, host, model, address;
};

// The lab set as vsb-sim --lab has it; the last one is a model the tools
// do not list, but it has its servers all the same.
const std::vector<LabBox> kLab = {
    {"51a0000000000001", "vsb-reception", "VSB-720K", "127.0.0.2"},
    {"51a0000000000002", "vsb-archive", "VSB-760K", "127.0.0.3"},
    {"51a0000000000003", "vsb-render", "VSB-790K", "127.0.0.4"},
    {"51a0000000000004", "vsb-legacy", "VSB-100X", "127.0.0.5"},
};

// ---- plain sockets ------------------------------------------------------

int connectTo(const std::string& address, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in sin = qs::socketAddressOf(qs::Ipv4::parse(address).value_or(qs::Ipv4{}), port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Everything the peer sends until it closes; nothing when it does not close
// within `limit`.
std::optional<std::string> readToEnd(int fd, std::chrono::milliseconds limit) {
    std::string out;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) return out.empty() ? std::nullopt : std::optional(out);  // reset after the reply
        if (n == 0) return out;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

// One request on a connection of its own; the whole response.
std::optional<std::string> httpExchange(const std::string& address, const std::string& request,
                                    std::chrono::milliseconds limit = 5s) {
    const int fd = connectTo(address, 80);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> reply;
    if (sendAll(fd, request)) reply = readToEnd(fd, limit);
    ::close(fd);
    return reply;
}

std::string getRequest(const std::string& address, const std::string& path = "/", const std::string& method = "GET") {
    return method + " " + path + " HTTP/1.1\r\nHost: " + address + "\r\nUser-Agent: lab-server-tests\r\n\r\n";
}

// The status code of "HTTP/1.x NNN ...", 0 for anything else.
int statusOf(const std::string& response) {
    if (response.size() < 13 || (response.rfind("HTTP/1.0 ", 0) != 0 && response.rfind("HTTP/1.1 ", 0) != 0))
        return 0;
    const std::string code = response.substr(9, 3);
    if (response[12] != ' ' || code.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoi(code);
}

std::string bodyOf(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::optional<std::size_t> contentLength(const std::string& response) {
    const std::string name = "\r\nContent-Length: ";
    const auto at = response.find(name);
    if (at == std::string::npos || at > response.find("\r\n\r\n")) return std::nullopt;
    return static_cast<std::size_t>(std::stoul(response.substr(at + name.size())));
}

// The DHCP cell (the last) of a port's row in the status page.
std::string dhcpCell(const std::string& page, const std::string& port) {
    const auto row = page.find("<tr><td>" + port + "</td>");
    const auto end = page.find("</td></tr>", row);
    if (row == std::string::npos || end == std::string::npos) return "(no row for " + port + ")";
    const auto cell = page.rfind("<td>", end);
    return page.substr(cell + 4, end - cell - 4);
}

// ---- the programs -------------------------------------------------------

std::optional<std::string> programPath(const std::string& name) {
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        for (std::string dir; std::getline(in, dir, ':');)
            if (!dir.empty()) dirs.push_back(dir);
    }
    for (const char* dir : {"/usr/sbin", "/sbin", "/usr/bin"}) dirs.emplace_back(dir);
    for (const auto& dir : dirs)
        if (::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return std::nullopt;
}

bool hasNssWrapper() {
    for (const char* pattern :
         {"/usr/lib/*/libnss_wrapper.so", "/usr/lib64/libnss_wrapper.so", "/usr/lib/libnss_wrapper.so"}) {
        glob_t g{};
        const bool found = ::glob(pattern, 0, nullptr, &g) == 0 && g.gl_pathc > 0;
        ::globfree(&g);
        if (found) return true;
    }
    return false;
}

// Why the share tests cannot run here, or nothing when they can.
std::optional<std::string> sharesUnavailable() {
    if (::geteuid() != 0) return "the lab's file shares need root";
    if (!programPath("smbd")) return "smbd is not installed (Debian package samba)";
    if (!programPath("smbclient")) return "smbclient is not installed (Debian package smbclient)";
    if (!hasNssWrapper()) return "libnss_wrapper.so is not installed (Debian package libnss-wrapper)";
    return std::nullopt;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string dirOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Whether any process has `text` in its command line.
bool anyProcessNames(const std::string& text) { return run({"pgrep", "-f", text}, {}, 10s).exitCode == 0; }

RunResult smbclient(const std::vector<std::string>& args) {
    std::vector<std::string> argv{*programPath("smbclient"), "-s", "/dev/null", "-p", "445"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, {}, 30s);
}

// A running simulator and what it said about its servers.
struct RunningLab {
    Child sim;
    std::string errors;
    std::map<std::string, std::string> smbConfig;  // host name -> its smb.conf

    bool start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{simBin()};
        argv.insert(argv.end(), args.begin(), args.end());
        // Starting the file servers takes a second or two, and at most ~10 s.
        if (!sim.start(argv) || !sim.waitForLine("ready", 30s)) {
            readErrors();
            return false;
        }
        readErrors();
        // "vsb-sim: shares of HOST on //ADDRESS: ... (smbd pid N, config PATH)"
        std::istringstream lines(errors);
        for (std::string line; std::getline(lines, line);) {
            const std::string lead = "vsb-sim: shares of ", mark = ", config ";
            const auto config = line.rfind(mark);
            if (line.rfind(lead, 0) != 0 || config == std::string::npos || line.back() != ')') continue;
            const std::string host = line.substr(lead.size(), line.find(' ', lead.size()) - lead.size());
            smbConfig[host] = line.substr(config + mark.size(), line.size() - 1 - config - mark.size());
        }
        return true;
    }
    // Keeps the simulator's stderr pipe drained (it logs every request).
    const std::string& readErrors() {
        errors = sim.errors();
        return errors;
    }
    bool hasWebPages() const { return errors.find("no web pages") == std::string::npos; }
};

std::string writeTemp(const std::string& content) { return tempFile(content, ".txt"); }

// ---- the lab, once per test program -------------------------------------

class LabServers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lab_ = new RunningLab;
        started_ = lab_->start({"--lab", "--verbose"});
    }
    static void TearDownTestSuite() {
        delete lab_;  // stops the simulator
        lab_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(started_) << "vsb-sim --lab did not start:\n" << lab_->errors;
        lab_->readErrors();
    }
    // Why the web tests cannot run, or nothing.
    std::optional<std::string> webPagesUnavailable() const {
        if (lab_->hasWebPages()) return std::nullopt;
        return "port 80 could not be bound (needs root): " + lab_->errors;
    }
    // Where the share tests can run, every lab device must have its shares.
    void expectEveryFileServer() const {
        EXPECT_EQ(lab_->smbConfig.size(), kLab.size()) << "vsb-sim did not start every file server:\n" << lab_->errors;
    }
    RunResult tool(std::vector<std::string> args) {
        args.insert(args.begin(), quaysideBin());
        args.push_back("--loopback");
        RunResult r = run(args, {}, 30s);
        lab_->readErrors();
        return r;
    }

    static RunningLab* lab_;
    static bool started_;
};

RunningLab* LabServers::lab_ = nullptr;
bool LabServers::started_ = false;

}  // namespace

TEST_F(LabServers, SearchShowsEachDeviceOnItsOwnAddress) {
    const RunResult r = tool({"search", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto found = jsonLines(r.out);
    std::set<std::string> addresses;
    for (std::size_t i = 0; i + 1 < kLab.size(); ++i) {  // the last model is not listed
        const json* d = byUuid(found, kLab[i].uuid);
        ASSERT_TRUE(d) << kLab[i].host << " not found in\n" << r.out;
        EXPECT_EQ(d->at("hostname"), kLab[i].host);
        const json& answering = d->at("ports").at(d->at("nSendIF").get<std::size_t>());
        EXPECT_EQ(answering.at("IP"), kLab[i].address) << kLab[i].host;
        EXPECT_EQ(answering.at("netmask"), "255.0.0.0") << kLab[i].host;
        addresses.insert(answering.at("IP").get<std::string>());
    }
    EXPECT_EQ(addresses.size(), kLab.size() - 1);
    EXPECT_FALSE(byUuid(found, kLab.back().uuid));
    // The two-port box still answers from its second port.
    EXPECT_EQ(byUuid(found, kLab[1].uuid)->at("nSendIF"), 1);
}

TEST_F(LabServers, EveryDeviceServesItsPage) {
    if (auto why = webPagesUnavailable()) GTEST_SKIP() << *why;
    for (const LabBox& box : kLab) {
        const auto response = httpExchange(box.address, getRequest(box.address));
        ASSERT_TRUE(response) << box.address << ": no response";
        EXPECT_EQ(statusOf(*response), 200) << *response;
        EXPECT_NE(response->find("\r\nContent-Type: text/html"), std::string::npos) << *response;
        EXPECT_NE(response->find("\r\nConnection: close\r\n"), std::string::npos) << *response;
        const std::string body = bodyOf(*response);
        EXPECT_EQ(contentLength(*response), body.size());
        EXPECT_NE(body.find("<title>" + box.host + " - " + box.model + "</title>"), std::string::npos) << body;
        EXPECT_NE(body.find("<h1>" + box.host + " (" + box.model + ")</h1>"), std::string::npos) << body;
        EXPECT_NE(body.find("<td>" + box.address + "</td>"), std::string::npos) << body;

        const auto head = httpExchange(box.address, getRequest(box.address, "/", "HEAD"));
        ASSERT_TRUE(head);
        EXPECT_EQ(statusOf(*head), 200);
        EXPECT_TRUE(bodyOf(*head).empty());
        EXPECT_EQ(contentLength(*head), body.size());
    }
    // Each address is its own device.
    const auto other = httpExchange(kLab[1].address, getRequest(kLab[1].address));
    ASSERT_TRUE(other);
    EXPECT_EQ(bodyOf(*other).find(kLab[0].host), std::string::npos);
}

TEST_F(LabServers, OtherPathsMethodsAndJunk) {
    if (auto why = webPagesUnavailable()) GTEST_SKIP() << *why;
    const std::string a = kLab[0].address;
    struct Case {
        std::string request;
        int status;
    };
    const std::vector<Case> cases = {
        {getRequest(a, "/nope"), 404},
        {getRequest(a, "/index.html?x=1"), 200},
        {getRequest(a, "/", "POST"), 405},
        {"hello there\r\n\r\n", 400},
        {"GET /\r\n\r\n", 400},                   // no version
        {"GET / HTTP/1.1\r\n\r\n", 400},          // HTTP/1.1 without Host
        {"GET / HTTP/1.0\r\n\r\n", 200},          // HTTP/1.0 needs none
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", 505},
        {std::string("\x16\x03\x01\x02\x00\x01", 6), 400},  // a TLS hello
        {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n", 431},
    };
    for (const Case& c : cases) {
        const auto response = httpExchange(a, c.request);
        ASSERT_TRUE(response) << c.request.substr(0, 40);
        EXPECT_EQ(statusOf(*response), c.status) << c.request.substr(0, 40) << "\n" << response->substr(0, 200);
    }
    // A request that ends early (the client stops sending) is answered too.
    const int fd = connectTo(a, 80);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "GET / HTTP/1.1\r\nHost: x\r\n"));
    ::shutdown(fd, SHUT_WR);
    const auto cut = readToEnd(fd, 5s);
    ::close(fd);
    ASSERT_TRUE(cut);
    EXPECT_EQ(statusOf(*cut), 400);
}

TEST_F(LabServers, PageShowsTheCurrentSettings) {
    if (auto why = webPagesUnavailable()) GTEST_SKIP() << *why;
    const LabBox& box = kLab[0];
    auto page = [&] {
        const auto r = httpExchange(box.address, getRequest(box.address));
        return r ? bodyOf(*r) : std::string();
    };
    ASSERT_EQ(dhcpCell(page(), "LAN"), "off") << page();
    const RunResult r = tool({"set-lan", "--device", box.host, "--user", "admin", "--password", "admin", "--port", "LAN",
                              "--dhcp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "accepted\n");
    EXPECT_EQ(dhcpCell(page(), "LAN"), "on") << page();
    // Nothing else in the lab depends on this port's DHCP setting.
}

TEST_F(LabServers, ManyOpenConnectionsHoldNothingUp) {
    if (auto why = webPagesUnavailable()) GTEST_SKIP() << *why;
    const std::string a = kLab[2].address;
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        const int fd = connectTo(a, 80);
        ASSERT_GE(fd, 0) << i;
        ASSERT_TRUE(sendAll(fd, "GET / HTTP/1.1\r\n"));  // and never the rest
        idle.push_back(fd);
    }
    const auto start = Clock::now();
    const auto response = httpExchange(a, getRequest(a), 2s);
    ASSERT_TRUE(response);
    EXPECT_EQ(statusOf(*response), 200);
    EXPECT_LT(Clock::now() - start, 1s);
    // The device protocol goes on meanwhile.
    const RunResult info = tool({"lan-info", "--device", kLab[2].uuid, "--json"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    // The server gives up on each unfinished request after a few seconds.
    for (int fd : idle) {
        const auto late = readToEnd(fd, 8s);
        ASSERT_TRUE(late) << "an unfinished request was kept open";
        EXPECT_EQ(statusOf(*late), 408);
        ::close(fd);
    }
}

TEST_F(LabServers, ShareRoundTripsAFile) {
    if (auto why = sharesUnavailable()) GTEST_SKIP() << *why;
    expectEveryFileServer();
    const std::string content = "lab share round trip\n" + std::string(100000, 'q');
    const std::string local = writeTemp(content);
    const std::string back = local + ".back";
    const RunResult r = smbclient({"//" + kLab[0].address + "/Volume_1", "-U", "admin%admin", "-c",
                                   "put " + local + " x; get x " + back});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::ifstream in(back, std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), content);
    ::unlink(local.c_str());
    ::unlink(back.c_str());
}

TEST_F(LabServers, SharesFollowTheShareList) {
    if (auto why = sharesUnavailable()) GTEST_SKIP() << *why;
    expectEveryFileServer();
    // vsb-archive lists "Public@5:Media*6:Recycle Bin - Public".
    const RunResult list = smbclient({"-L", "//" + kLab[1].address, "-U", "admin%admin", "-g"});
    ASSERT_EQ(list.exitCode, 0) << list.out << list.err;
    for (const char* share : {"Disk|Public|", "Disk|Media|", "Disk|Recycle Bin - Public|"})
        EXPECT_NE(list.out.find(share), std::string::npos) << share << " in\n" << list.out;
    EXPECT_EQ(list.out.find("Volume_1"), std::string::npos) << list.out;
    const RunResult bin = smbclient({"//" + kLab[1].address + "/Recycle Bin - Public", "-U", "admin%admin", "-c", "ls"});
    EXPECT_EQ(bin.exitCode, 0) << bin.out << bin.err;
    const RunResult missing = smbclient({"//" + kLab[2].address + "/Volume_1", "-U", "admin%admin", "-c", "ls"});
    EXPECT_NE(missing.exitCode, 0) << "vsb-render has no Volume_1";
}

TEST_F(LabServers, WrongPasswordAndGuestAreRefused) {
    if (auto why = sharesUnavailable()) GTEST_SKIP() << *why;
    expectEveryFileServer();
    const std::string share = "//" + kLab[3].address + "/Volume_2";
    const RunResult wrong = smbclient({share, "-U", "admin%wrong", "-c", "ls"});
    EXPECT_NE(wrong.exitCode, 0);
    EXPECT_NE((wrong.out + wrong.err).find("NT_STATUS_LOGON_FAILURE"), std::string::npos) << wrong.out << wrong.err;
    const RunResult guest = smbclient({share, "-U", "nosuchuser%x", "-c", "ls"});
    EXPECT_NE(guest.exitCode, 0);
    EXPECT_NE((guest.out + guest.err).find("NT_STATUS_ACCESS_DENIED"), std::string::npos) << guest.out << guest.err;
    const RunResult right = smbclient({share, "-U", "admin%admin", "-c", "ls"});
    EXPECT_EQ(right.exitCode, 0) << right.out << right.err;
}

TEST_F(LabServers, ReceptionAdmitsGuestsToItsUnlockedShareOnly) {
    if (auto why = sharesUnavailable()) GTEST_SKIP() << *why;
    expectEveryFileServer();
    // vsb-reception lists "Volume_1*6:Volume_2@5:...": Volume_1 is locked.
    const std::string base = "//" + kLab[0].address + "/";
    const RunResult open = smbclient({base + "Volume_2", "-N", "-c", "ls"});
    EXPECT_EQ(open.exitCode, 0) << open.out << open.err;
    const RunResult locked = smbclient({base + "Volume_1", "-N", "-c", "ls"});
    EXPECT_NE(locked.exitCode, 0) << locked.out << locked.err;
    const RunResult user = smbclient({base + "Volume_1", "-U", "admin%admin", "-c", "ls"});
    EXPECT_EQ(user.exitCode, 0) << user.out << user.err;
}

// ---- labs of their own ---------------------------------------------------

TEST(LabServersLifetime, StoppingTheLabLeavesNoServerOrDirectory) {
    if (auto why = sharesUnavailable()) GTEST_SKIP() << *why;
    RunningLab lab;
    ASSERT_TRUE(lab.start({"--lab", "--verbose"})) << lab.errors;
    ASSERT_EQ(lab.smbConfig.size(), kLab.size()) << lab.errors;
    // Something that makes smbd start its RPC helpers too.
    EXPECT_EQ(smbclient({"-L", "//" + kLab[0].address, "-U", "admin%admin", "-g"}).exitCode, 0);
    for (const auto& [host, conf] : lab.smbConfig) {
        EXPECT_TRUE(exists(conf)) << conf;
        EXPECT_TRUE(anyProcessNames(conf)) << "no smbd runs for " << host;
    }
    EXPECT_EQ(lab.sim.stop(), 0) << lab.readErrors();
    for (const auto& [host, conf] : lab.smbConfig) {
        EXPECT_FALSE(anyProcessNames(conf)) << "something of " << host << "'s file server outlived the simulator";
        EXPECT_FALSE(exists(dirOf(conf))) << dirOf(conf) << " was left behind";
    }
    EXPECT_LT(connectTo(kLab[0].address, 445), 0);
    EXPECT_LT(connectTo(kLab[0].address, 80), 0);
}

TEST(LabServersLifetime, ConfigDeviceGetsServersOnItsOwnAddress) {
    json d = simDevice("00000000000000e1", "vsb-cfg", "VSB-720K", "127.0.0.20");
    d["ports"][0]["netmask"] = "255.0.0.0";
    d["user"] = "boss";
    d["password"] = "pa ss:word";
    d["shares"] = "Docs*6:Recycle Bin - Docs";
    d["http"] = true;
    d["smb"] = true;
    const std::string config = tempFile(simConfig({d}));
    RunningLab lab;
    const bool started = lab.start({"--config", config, "--loopback", "--verbose"});
    ::unlink(config.c_str());
    ASSERT_TRUE(started) << lab.errors;
    if (!lab.hasWebPages() && sharesUnavailable())
        GTEST_SKIP() << "neither port 80 nor the file shares are available: " << *sharesUnavailable();
    if (lab.hasWebPages()) {
        const auto page = httpExchange("127.0.0.20", getRequest("127.0.0.20"));
        ASSERT_TRUE(page);
        EXPECT_EQ(statusOf(*page), 200);
        EXPECT_NE(page->find("<h1>vsb-cfg (VSB-720K)</h1>"), std::string::npos) << *page;
        EXPECT_NE(page->find("<li>Recycle Bin - Docs</li>"), std::string::npos) << *page;
    }
    if (sharesUnavailable()) return;
    ASSERT_EQ(lab.smbConfig.count("vsb-cfg"), 1u) << lab.errors;
    const RunResult ok = smbclient({"//127.0.0.20/Docs", "-U", "boss%pa ss:word", "-c", "ls"});
    EXPECT_EQ(ok.exitCode, 0) << ok.out << ok.err;
    const RunResult admin = smbclient({"//127.0.0.20/Docs", "-U", "admin%admin", "-c", "ls"});
    EXPECT_NE(admin.exitCode, 0) << "only the configured user has an account";
}

TEST(LabServersConfig, ServersNeedALoopbackAddressOfTheirOwn) {
    json outside = simDevice("00000000000000e2", "outside", "VSB-720K", "192.168.77.20");
    outside["http"] = true;
    std::string config = tempFile(simConfig({outside}));
    RunResult r = run({simBin(), "--config", config, "--loopback"}, {}, 5s);
    ::unlink(config.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("devices[0].ports[0].IP"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("loopback"), std::string::npos) << r.err;

    // The address that counts is the answering port's.
    json twoPorts = simDevice("00000000000000e3", "two", "VSB-760K", "127.0.0.30");
    twoPorts["ports"].push_back(json{{"IP", "10.1.2.3"}, {"netmask", "255.0.0.0"}});
    twoPorts["answerPort"] = 1;
    twoPorts["smb"] = true;
    config = tempFile(simConfig({twoPorts}));
    r = run({simBin(), "--config", config, "--loopback"}, {}, 5s);
    ::unlink(config.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("devices[0].ports[1].IP"), std::string::npos) << r.err;

    // Two devices cannot serve on one address, nor a file's device on a lab one.
    json a = simDevice("00000000000000e4", "a", "VSB-720K", "127.0.0.40");
    json b = simDevice("00000000000000e5", "b", "VSB-720K", "127.0.0.40");
    a["http"] = b["http"] = true;
    config = tempFile(simConfig({a, b}));
    r = run({simBin(), "--config", config, "--loopback"}, {}, 5s);
    ::unlink(config.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("devices[1].ports[0].IP"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("devices[0]"), std::string::npos) << r.err;

    json clash = simDevice("00000000000000e6", "clash", "VSB-720K", "127.0.0.2");
    clash["smb"] = true;
    config = tempFile(simConfig({clash}));
    r = run({simBin(), "--lab", "--config", config}, {}, 5s);
    ::unlink(config.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("127.0.0.2"), std::string::npos) << r.err;

    json bad = simDevice("00000000000000e7", "bad", "VSB-720K", "127.0.0.50");
    bad["http"] = "yes";
    config = tempFile(simConfig({bad}));
    r = run({simBin(), "--config", config, "--loopback"}, {}, 5s);
    ::unlink(config.c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("devices[0].http"), std::string::npos) << r.err;
}
