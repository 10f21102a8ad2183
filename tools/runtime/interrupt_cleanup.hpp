// Removing unfinished outputs when the tool is interrupted.
//
// Output files are made under a temporary name (or none at all, see
// atomic_file.hpp) and moved into place when complete. A temporary name that
// exists on disk is registered here for as long as it does, so that a
// SIGINT, SIGTERM or SIGHUP handler can remove every one before the process
// ends. The registry is a fixed array of slots claimed and released with
// atomics: the handler takes no lock, allocates nothing and calls only
// async-signal-safe functions (unlinkat, write, _exit).
//
// Only the command-line tool installs the handler; a library user (the Python
// package) keeps its own signal handling, and the registry then costs a few
// atomic operations per file.
#ifndef AXISWARP_TOOLS_INTERRUPT_CLEANUP_HPP
#define AXISWARP_TOOLS_INTERRUPT_CLEANUP_HPP

#include <string_view>

#include <signal.h>

namespace axiswarp::tools {

// Installs the handler for SIGINT, SIGTERM and SIGHUP, once. It removes every
// registered temporary, prints "axiswarp: interrupted" on stderr and ends the
// process with status 128 + the signal number (130 for SIGINT, 143 for
// SIGTERM), as a shell reports a process killed by it. A signal that was
// ignored when the tool started (SIGHUP under nohup, SIGINT in a background
// job of a script) stays ignored.
void installInterruptCleanup();

// Brackets registering a temporary name and creating the file under it, so
// that an interrupt cannot fall between the two and leave a file the handler
// did not know of: the handler waits for open windows to close before it
// removes anything, and a window opened while the handler runs never closes
// (the process is about to end). The three signals are blocked in the calling
// thread meanwhile, so its own window cannot be interrupted.
class CreationWindow {
public:
    CreationWindow() noexcept;
    ~CreationWindow();
    CreationWindow(const CreationWindow&) = delete;
    CreationWindow& operator=(const CreationWindow&) = delete;

private:
    sigset_t savedMask_;  // the thread's signal mask, restored on close
};

// Registers the file `name` in the folder open as `folderFd` for removal on
// interrupt; call it inside a CreationWindow, before creating the file.
// Returns the slot, or -1 when the name is too long for a file name or every
// slot is taken (that file is then not removed on interrupt).
int registerTemporary(int folderFd, std::string_view name) noexcept;

// Releases a slot once its name is gone from disk (renamed or removed).
// Returns false when the handler has already taken it: the process is then
// ending, and folderFd must stay open until it has.
bool forgetTemporary(int slot) noexcept;

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_INTERRUPT_CLEANUP_HPP
