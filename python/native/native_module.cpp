// The package's native part: a second host of the module over NumPy arrays.
//
// The Python side turns every argument into the host's column-major order
// first (np.asfortranarray borrows what is already in that order), so this
// file only borrows buffers, runs the call without the GIL, and hands the
// output's data to NumPy without a copy: the NumPy array keeps a capsule that
// gives the block back to the host when the array goes.
#include <resample/resample_tables.hpp>
#include <resample/resize_pipeline.hpp>
#include <runtime/tool_error.hpp>

#include <zuhost/standin_host.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace axiswarp;

namespace {

py::dtype dtypeOf(zuClassID classID) {
    switch (classID) {
        case zuLogicalClass: return py::dtype::of<bool>();
        case zuDoubleClass: return py::dtype::of<double>();
        case zuSingleClass: return py::dtype::of<float>();
        case zuInt8Class: return py::dtype::of<std::int8_t>();
        case zuUint8Class: return py::dtype::of<std::uint8_t>();
        case zuInt16Class: return py::dtype::of<std::int16_t>();
        case zuUint16Class: return py::dtype::of<std::uint16_t>();
        case zuInt32Class: return py::dtype::of<std::int32_t>();
        case zuUint32Class: return py::dtype::of<std::uint32_t>();
        case zuInt64Class: return py::dtype::of<std::int64_t>();
        case zuUint64Class: return py::dtype::of<std::uint64_t>();
        default: throw zuhost::HostError("", std::string("the module returned an array of an unlisted class"));
    }
}

// Column-major strides in bytes for the extents.
std::vector<py::ssize_t> fortranStrides(const std::vector<py::ssize_t>& shape, py::ssize_t item) {
    std::vector<py::ssize_t> strides(shape.size());
    py::ssize_t step = item;
    for (std::size_t d = 0; d < shape.size(); ++d) {
        strides[d] = step;
        step *= shape[d] == 0 ? 1 : shape[d];
    }
    return strides;
}

// A NumPy array over a block the host handed over; the capsule releases it.
py::array adoptBlock(void* block, const py::dtype& dtype, const std::vector<py::ssize_t>& shape) {
    py::capsule owner(block, [](void* p) { zuhost::releaseData(p); });
    return py::array(dtype, shape, fortranStrides(shape, dtype.itemsize()), block, owner);
}

// `bytes` uninitialised bytes (at least one) in a host data block, as a
// one-dimensional uint8 array that gives the block back when it goes. Large
// blocks come from the host's cache of freed ones, whose pages are already
// faulted in: the package's own temporaries (a Dask task's input window)
// then cost no fresh pages, even in a process whose malloc maps every block
// above 128 KiB afresh (Dask's worker processes set MALLOC_TRIM_THRESHOLD_).
py::array hostBytes(py::ssize_t bytes) {
    if (bytes < 0) throw tools::ToolError("a block of " + std::to_string(bytes) + " bytes cannot be made");
    const std::uint64_t length = bytes == 0 ? 1 : static_cast<std::uint64_t>(bytes);
    zuhost::HandedData data = zuhost::handOverData(zuhost::createArray(zuUint8Class, {length, 1}));
    return adoptBlock(data.realData, py::dtype::of<std::uint8_t>(), {static_cast<py::ssize_t>(length)});
}

// A NumPy array that owns a vector moved out of a C++ result.
template <class T>
py::array adoptVector(std::vector<T>&& values, const std::vector<py::ssize_t>& shape) {
    auto* heap = new std::vector<T>(std::move(values));
    py::capsule owner(heap, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array(py::dtype::of<T>(), shape, fortranStrides(shape, sizeof(T)), heap->data(), owner);
}

// One prepared argument: (class identifier, extents, real part, imaginary part
// or None), both parts aligned, native-endian and column-major.
struct Argument {
    zuClassID classID;
    std::vector<std::uint64_t> dims;
    py::array real;
    std::optional<py::array> imag;
};

class NativeModule {
public:
    explicit NativeModule(const std::string& path) : module_(path) {}
    const std::string& path() const { return module_.path(); }

    // Returns (real, imag or None) of the first output, column-major.
    py::tuple call(const std::vector<Argument>& arguments) const {
        zuhost::CallOutcome outcome = run(arguments, nullptr);
        const py::dtype dtype = dtypeOf(outcome.output->classID());
        zuhost::HandedData data = zuhost::handOverData(std::move(outcome.output));
        const std::vector<py::ssize_t> shape(data.dims.begin(), data.dims.end());
        py::array real = adoptBlock(data.realData, dtype, shape);
        if (data.imagData == nullptr) return py::make_tuple(real, py::none());
        return py::make_tuple(real, adoptBlock(data.imagData, dtype, shape));
    }

    // The same call, creating the output in `target`'s memory through the
    // host's output placement: the module writes its samples there directly.
    // The caller has checked that `target` is a writable, aligned,
    // column-major array of the output's class and size that overlaps no
    // input. A module output that did not land there is an error: the
    // caller's array would not hold the result.
    void callInto(const std::vector<Argument>& arguments, py::array target) const {
        const zuhost::OutputPlacement placement{target.mutable_data(), nullptr,
                                                static_cast<std::uint64_t>(target.nbytes())};
        zuhost::CallOutcome outcome = run(arguments, &placement);
        if (outcome.output->realData != placement.real)
            throw zuhost::HostError("", "the module did not create its output in the out array");
    }

    const zuhost::Module& host() const { return module_; }

private:
    // One call without the GIL; the outcome has an output, or this throws.
    zuhost::CallOutcome run(const std::vector<Argument>& arguments, const zuhost::OutputPlacement* placement) const {
        std::vector<zuhost::ArrayPtr> borrowed;
        borrowed.reserve(arguments.size());
        for (const Argument& a : arguments) {
            borrowed.push_back(zuhost::borrowArray(a.classID, a.dims, a.real.data(),
                                                   a.imag ? a.imag->data() : nullptr));
        }
        std::vector<const zuArray*> inputs;
        for (const auto& b : borrowed) inputs.push_back(b.get());
        const std::span<const zuArray* const> span(inputs.data(), inputs.size());

        zuhost::CallOutcome outcome;
        {
            py::gil_scoped_release unlocked;
            outcome = placement != nullptr ? module_.call(span, *placement) : module_.call(span);
            borrowed.clear();
        }
        if (outcome.failed) throw zuhost::HostError(outcome.identifier, outcome.message);
        if (!outcome.output) throw zuhost::HostError("", "the module returned without setting its first output");
        return outcome;
    }

    zuhost::Module module_;
};

tools::FilterChoice filterChoice(const std::string& kernel, bool antialias, const std::string& border,
                                 double fill) {
    tools::FilterChoice filter;
    filter.kernel = tools::parseKernel(kernel);
    filter.antialias = antialias;
    filter.border = tools::parseBorder(border);
    filter.fill = fill;
    return filter;
}

tools::TableRequest tableRequest(std::uint64_t n, std::uint64_t m, const std::string& kernel,
                                 bool antialias, const std::string& border, double scale, double fill) {
    tools::TableRequest request;
    request.inLength = n;
    request.outLength = m;
    request.filter = filterChoice(kernel, antialias, border, fill);
    request.scale = scale;
    return request;
}

py::tuple tablesAsArrays(tools::Tables&& tables) {
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(tables.taps),
                                         static_cast<py::ssize_t>(tables.outLength)};
    py::array weights = adoptVector(std::move(tables.weights), shape);
    py::array indices = adoptVector(std::move(tables.indices), shape);
    return py::make_tuple(weights, indices);
}

std::uint32_t imageLength(py::ssize_t value, const char* what) {
    if (value < 1 || value > (py::ssize_t{1} << 31) - 1)
        throw tools::ToolError(std::string(what) + " must be from 1 to 2147483647, not " + std::to_string(value));
    return static_cast<std::uint32_t>(value);
}

tools::ResampleOptions resampleOptions(const std::string& kernel, bool antialias,
                                       const std::string& border, double fill, bool precise, bool linear) {
    tools::ResampleOptions options;
    options.filter = filterChoice(kernel, antialias, border, fill);
    options.precise = precise;
    options.linear = linear;
    return options;
}

// The command line's whole-image resize on a column-major array of 1 to 4
// channels of one of the image sample types. The tool's image is a borrowed
// view of the array's own memory (the resize only reads it), and the
// result's host array is handed to NumPy: no sample is copied on the way in
// or out.
template <class T>
py::array resizeImageArray(const NativeModule& module, py::array_t<T, py::array::f_style> array,
                           py::ssize_t outHeight, py::ssize_t outWidth, const tools::ResampleOptions& options) {
    const zuClassID classID = tools::classOf(tools::sampleTypeFor<T>());
    std::vector<std::uint64_t> dims(array.shape(), array.shape() + array.ndim());
    const tools::Image image = tools::Image::adopt(zuhost::borrowArray(classID, dims, array.data()));
    const tools::ImageSize in{imageLength(array.shape(1), "the number of columns"),
                              imageLength(array.shape(0), "the number of rows")};
    const tools::ImageSize out{imageLength(outWidth, "the new number of columns"),
                               imageLength(outHeight, "the new number of rows")};
    tools::Image result;
    {
        py::gil_scoped_release unlocked;
        const tools::ResizePlan plan = tools::planResize(in, out, options.filter);
        result = tools::resizeImage(module.host(), image, plan, options);
    }
    std::vector<py::ssize_t> shape{outHeight, outWidth};
    if (array.ndim() == 3) shape.push_back(array.shape(2));
    zuhost::HandedData data = zuhost::handOverData(result.release());
    return adoptBlock(data.realData, py::dtype::of<T>(), shape);
}

// The sample type of an image array's dtype; ValueError for any other.
tools::SampleType imageSampleType(const py::array& array) {
    const py::dtype dtype = array.dtype();
    std::optional<tools::SampleType> type;
    for (const tools::SampleType t : {tools::SampleType::uint8, tools::SampleType::uint16, tools::SampleType::uint32,
                                      tools::SampleType::int8, tools::SampleType::int16, tools::SampleType::int32,
                                      tools::SampleType::float32, tools::SampleType::float64}) {
        const bool same = tools::withSampleType(t, [&](auto zero) { return dtype.is(py::dtype::of<decltype(zero)>()); });
        if (same) type = t;
    }
    if (!type) throw tools::ToolError("an image array has samples of one of the eight image dtypes");
    return *type;
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "The axiswarp package's host of the module (internal; use the axiswarp package).";

    // Both error types become Python exceptions once, here.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const zuhost::HostError& error) {
            py::object cls = py::module_::import("axiswarp._errors").attr("ModuleError");
            py::object instance = cls(error.identifier(), error.message());
            PyErr_SetObject(cls.ptr(), instance.ptr());
        } catch (const tools::ToolError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        }
    });

    py::class_<Argument>(m, "Argument")
        .def(py::init<zuClassID, std::vector<std::uint64_t>, py::array, std::optional<py::array>>(),
             py::arg("class_id"), py::arg("dims"), py::arg("real"), py::arg("imag") = py::none());

    py::class_<NativeModule>(m, "Module")
        .def(py::init<const std::string&>(), py::arg("path"))
        .def_property_readonly("path", &NativeModule::path)
        .def("call", &NativeModule::call, py::arg("arguments"))
        .def("call_into", &NativeModule::callInto, py::arg("arguments"), py::arg("target"))
        .def("resize_image",
             [](const NativeModule& module, py::array array, py::ssize_t outHeight, py::ssize_t outWidth,
                const std::string& kernel, bool antialias, const std::string& border, bool precise,
                bool linear, double fill) -> py::array {
                 const auto options = resampleOptions(kernel, antialias, border, fill, precise, linear);
                 return tools::withSampleType(imageSampleType(array), [&](auto zero) {
                     using T = decltype(zero);
                     return resizeImageArray<T>(module, array, outHeight, outWidth, options);
                 });
             },
             py::arg("array"), py::arg("rows"), py::arg("cols"), py::arg("kernel"), py::arg("antialias"),
             py::arg("border"), py::arg("precise"), py::arg("linear"), py::arg("fill") = 0.0);

    m.def("host_bytes", &hostBytes, py::arg("bytes"));

    m.def("module_file_name", [] { return std::string(AXISWARP_MODULE_FILE_NAME); });

    m.def("tables",
          [](std::uint64_t n, std::uint64_t m, const std::string& kernel, bool antialias,
             const std::string& border, double scale, double fill) {
              return tablesAsArrays(tools::buildTables(tableRequest(n, m, kernel, antialias, border, scale, fill)));
          },
          py::arg("n"), py::arg("m"), py::arg("kernel"), py::arg("antialias"), py::arg("border"), py::arg("scale"),
          py::arg("fill") = 0.0);

    // The passes of the command line's resize, in calling order: (dim, weights, indices).
    m.def("plan_resize",
          [](py::ssize_t rows, py::ssize_t cols, py::ssize_t outRows, py::ssize_t outCols,
             const std::string& kernel, bool antialias, const std::string& border, double fill) {
              tools::ResizePlan plan = tools::planResize(
                  {imageLength(cols, "the number of columns"), imageLength(rows, "the number of rows")},
                  {imageLength(outCols, "the new number of columns"), imageLength(outRows, "the new number of rows")},
                  filterChoice(kernel, antialias, border, fill));
              py::list passes;
              for (tools::ResizePass& pass : plan.passes) {
                  py::tuple t = tablesAsArrays(std::move(pass.tables));
                  passes.append(py::make_tuple(pass.dim, t[0], t[1]));
              }
              return passes;
          },
          py::arg("rows"), py::arg("cols"), py::arg("new_rows"), py::arg("new_cols"), py::arg("kernel"),
          py::arg("antialias"), py::arg("border"), py::arg("fill") = 0.0);

    m.def("live_counts", [] {
        const zuhost::Counts c = zuhost::liveCounts();
        return py::make_tuple(c.arrays, c.blocks, c.handedOver);
    });
}
