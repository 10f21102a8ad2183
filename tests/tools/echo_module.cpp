// A stand-in module for testing the command-line tool on its own: it returns
// a copy of its first input, or raises an error when given none. The tool's
// argument parsing and file handling can so be checked value by value,
// whatever the real module does with the values.
#include <zu.h>

#include <cstring>

ZUP_MODULE_EXPORT void zupFunction(int, zuArray* outputs[], int inputCount, const zuArray* inputs[]) {
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
