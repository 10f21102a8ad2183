#include "runtime/interrupt_cleanup.hpp"

#include <array>
#include <atomic>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace axiswarp::tools {

namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the interrupt handler may only use lock-free atomics");

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// One temporary name. `state` moves free -> filling -> live by its owner,
// live -> free by its owner when the name is gone, and live -> taken by the
// handler, which then owns the slot until the process ends.
enum SlotState : int { kFree, kFilling, kLive, kTaken };
struct Slot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char name[NAME_MAX + 1] = {};
};

// More than the files a run writes at once: one per worker thread, two for
// `tables`. A run with more (a machine with hundreds of cores and as many
// --jobs) still works; the extra names are only not removed on interrupt.
constexpr std::size_t kSlots = 256;
Slot gSlots[kSlots];

std::atomic<bool> gInterrupted{false};
std::atomic<int> gOpenWindows{0};

// How long the handler waits for windows in other threads to close, counted
// in loads of the counter (some tens of milliseconds): a window is one
// registration and one open or link, but a thread stuck in an open on a hung
// network file system must not keep the process from ending.
constexpr long kWindowWaitLoads = 1L << 25;

void onInterrupt(int signal) {
    gInterrupted.store(true);
    for (long n = 0; n < kWindowWaitLoads && gOpenWindows.load() != 0; ++n) {
    }
    for (Slot& slot : gSlots) {
        int expected = kLive;
        if (slot.state.compare_exchange_strong(expected, kTaken)) {
            ::unlinkat(slot.folder, slot.name, 0);
        }
    }
    static constexpr char kMessage[] = "axiswarp: interrupted\n";
    if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
        // Nothing more can be done about a closed stderr.
    }
    ::_exit(128 + signal);
}

sigset_t interruptSignals() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) sigaddset(&set, signal);
    return set;
}

}  // namespace

void installInterruptCleanup() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    for (const int signal : kSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        // A second signal during the cleanup waits; the first one's exit wins.
        action.sa_mask = interruptSignals();
        ::sigaction(signal, &action, nullptr);
    }
}

CreationWindow::CreationWindow() noexcept {
    const sigset_t block = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &block, &savedMask_);
    // Announce the window before looking at the flag, and the handler sets the
    // flag before looking at the count (both sequentially consistent): either
    // the handler waits for this window, or this thread sees the flag.
    gOpenWindows.fetch_add(1);
    if (gInterrupted.load()) {
        gOpenWindows.fetch_sub(1);
        // The handler is removing the registered names and will end the
        // process; creating a file now could leave it behind.
        for (;;) ::pause();
    }
}

CreationWindow::~CreationWindow() {
    gOpenWindows.fetch_sub(1);
    ::pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
}

int registerTemporary(int folderFd, std::string_view name) noexcept {
    if (name.empty() || name.size() > NAME_MAX) return -1;
    for (std::size_t k = 0; k < kSlots; ++k) {
        Slot& slot = gSlots[k];
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        slot.folder = folderFd;
        std::memcpy(slot.name, name.data(), name.size());
        slot.name[name.size()] = '\0';
        slot.state.store(kLive);
        return static_cast<int>(k);
    }
    return -1;
}

bool forgetTemporary(int slot) noexcept {
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return true;
    int expected = kLive;
    return gSlots[slot].state.compare_exchange_strong(expected, kFree);
}

}  // namespace axiswarp::tools
