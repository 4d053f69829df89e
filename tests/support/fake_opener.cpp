// A stand-in for the desktop's web opener in tests: stays for
// FAKE_OPENER_STAY_MS milliseconds (none when unset), then exits with
// FAKE_OPENER_EXIT (3 when unset: what xdg-open says when it finds no
// browser to start).
#include <chrono>
#include <cstdlib>
#include <thread>

int main() {
    const char* stay = std::getenv("FAKE_OPENER_STAY_MS");
    const char* status = std::getenv("FAKE_OPENER_EXIT");
    // Bounded: a stand-in never lingers for more than a minute.
    const long ms = stay ? std::strtol(stay, nullptr, 10) : 0;
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms < 60000 ? ms : 60000));
    return status ? std::atoi(status) : 3;
}
