// A stand-in module for testing the command-line tool on its own: it returns
// a copy of its first input, or raises an error when given none. The tool's
// argument parsing and file handling can so be checked value by value,
// whatever the real module does with the values.
//
// For the interrupt tests it can also hold a call until the process is
// signalled: with AXISWARP_ECHO_HOLD_FROM=N, call N (counted from 1 in the
// process) and every later one first create the file AXISWARP_ECHO_MARK (when
// set), telling the test that an output is being made, then sleep for ten
// minutes.
#include <zu.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<long> gCalls{0};

void holdIfAsked() {
    const long call = ++gCalls;
    const char* from = std::getenv("AXISWARP_ECHO_HOLD_FROM");
    if (from == nullptr || call < std::atol(from)) return;
    if (const char* mark = std::getenv("AXISWARP_ECHO_MARK")) {
        const int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0) ::close(fd);
    }
    for (int second = 0; second < 600; ++second) ::sleep(1);
}

}  // namespace

ZUP_MODULE_EXPORT void zupFunction(int, zuArray* outputs[], int inputCount, const zuArray* inputs[]) {
    holdIfAsked();
    if (inputCount < 1) zupErrMsgIdAndTxt("Test:echo:noInput", "Echo needs an input.");
    const zuArray* in = inputs[0];
    zuArray* out = zuCreateUninitNumericArray(in->numberOfDimensions(), in->get_dimensions(),
                                              in->classID(), in->isComplex() ? zuCOMPLEX : zuREAL);
    std::size_t bytes = zuGetNumberOfElements(in);
    switch (in->classID()) {
        case zuDoubleClass: case zuInt64Class: case zuUint64Class: bytes *= 8; break;
        case zuSingleClass: case zuInt32Class: case zuUint32Class: bytes *= 4; break;
        case zuInt16Class: case zuUint16Class: bytes *= 2; break;
        default: break;
    }
    if (bytes != 0) {
        std::memcpy(out->realPointer(), in->realPointer(), bytes);
        if (in->isComplex()) std::memcpy(out->imagPointer(), in->imagPointer(), bytes);
    }
    outputs[0] = out;
}
