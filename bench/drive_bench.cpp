// Drive mapping through GVfs: the time to map a share to a drive letter and
// to unmap it again, with the program's own GVfs connections against the
// GVfs lab (a private smbd on 127.0.0.9:445 and a private session bus; see
// tests/support/gvfs_lab.h). Skipped, with the reason, when the lab cannot
// run here (root, samba, gvfs and FUSE are needed).
//   drive-bench [--runs N]
#include "gvfs_net_connections.h"
#include "net_connections.h"
#include "support/gvfs_lab.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace qs::win;
using qs::test::kLabPassword;
using qs::test::kLabRemote;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* kLetter = "Z:";

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Figures {
    double meanMs = 0;
    double maxMs = 0;
};

Figures figuresOf(const std::vector<double>& ms) {
    Figures f;
    for (double v : ms) f.meanMs += v;
    if (!ms.empty()) f.meanMs /= double(ms.size());
    f.maxMs = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    return f;
}

// The FUSE view drops an unmounted share a moment after GVfs has; each
// round starts from an empty view (not timed).
void waitForEmptyFuseView(const std::string& runtime) {
    for (int i = 0; i < 50; ++i) {
        std::error_code ec;
        if (fs::directory_iterator(runtime + "/gvfs", ec) == fs::directory_iterator()) return;
        std::this_thread::sleep_for(100ms);
    }
}

// Maps and unmaps `runs` times; false (with the reason in `failure`, or
// `skip` when FUSE cannot show the mount) when a call fails.
bool measure(const qs::test::Lab& lab, int runs, std::vector<double>& mapMs, std::vector<double>& unmapMs,
             std::string& skip, std::string& failure) {
    GvfsNetConnections net;
    for (int i = 0; i < runs; ++i) {
        waitForEmptyFuseView(lab.runtime);
        auto start = std::chrono::steady_clock::now();
        const DWORD mapped =
            net.WNetAddConnection2A(kLetter, kLabRemote, kLabPassword, "admin", CONNECT_UPDATE_PROFILE);
        const double mapTook = msSince(start);
        if (mapped != NO_ERROR) {
            if (i == 0 && mapped == ERROR_NO_NET_OR_BAD_PATH)
                skip = "GVfs mounted the share but gives it no local path: gvfsd-fuse could not mount " + lab.runtime +
                       "/gvfs";
            else
                failure = "mapping " + std::string(kLabRemote) + " to " + kLetter + " failed with " +
                          std::to_string(mapped) + " (run " + std::to_string(i + 1) + ")";
            return false;
        }
        mapMs.push_back(mapTook);

        start = std::chrono::steady_clock::now();
        const DWORD unmapped = net.WNetCancelConnection2A(kLetter, CONNECT_UPDATE_PROFILE, true);
        const double unmapTook = msSince(start);
        if (unmapped != NO_ERROR) {
            failure = "unmapping " + std::string(kLetter) + " failed with " + std::to_string(unmapped) + " (run " +
                      std::to_string(i + 1) + ")";
            return false;
        }
        unmapMs.push_back(unmapTook);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: drive-bench [--runs N]\n");
        return 2;
    }
    if (runs < 1) {
        std::fprintf(stderr, "drive-bench: --runs needs a positive number\n");
        return 2;
    }

    qs::test::Lab lab;
    lab.start();
    if (!lab.skip.empty()) {
        std::printf("drive-bench: skipped, GVfs lab unavailable: %s\n", lab.skip.c_str());
        lab.stop();
        return 0;
    }

    std::vector<double> mapMs, unmapMs;
    std::string skip, failure;
    const bool ok = measure(lab, runs, mapMs, unmapMs, skip, failure);
    if (!ok) {
        // Leave no letter behind before the lab goes.
        GvfsNetConnections net;
        net.WNetCancelConnection2A(kLetter, CONNECT_UPDATE_PROFILE, true);
    }
    lab.stop();

    if (!skip.empty()) {
        std::printf("drive-bench: skipped, %s\n", skip.c_str());
        return 0;
    }
    if (!ok) {
        std::fprintf(stderr, "drive-bench: %s\n", failure.c_str());
        return 1;
    }
    const Figures map = figuresOf(mapMs), unmap = figuresOf(unmapMs);
    std::printf("map a share (GVfs, loopback smbd): mean %.1f ms, max %.1f ms over %d runs\n", map.meanMs, map.maxMs,
                runs);
    std::printf("unmap a share (GVfs, loopback smbd): mean %.1f ms, max %.1f ms over %d runs\n", unmap.meanMs,
                unmap.maxMs, runs);
    return 0;
}
