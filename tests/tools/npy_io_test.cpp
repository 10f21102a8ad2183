#include "npy/npy_io.hpp"

#include "host_arrays.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using axiswarp::tools::decodeNpy;
using axiswarp::tools::encodeNpy;
using axiswarp::tools::ToolError;
using Bytes = std::vector<std::byte>;

// A .npy file put together by hand, independently of the writer: preamble of
// the given version, the dict text padded to a 16-byte boundary with a
// newline, then the raw data.
Bytes npyFile(int version, const std::string& dict, const Bytes& data = {}) {
    const std::size_t preamble = version == 1 ? 10 : 12;
    std::string header = dict;
    while ((preamble + header.size() + 1) % 16 != 0) header.push_back(' ');
    header.push_back('\n');
    Bytes file;
    for (int c : {0x93, int{'N'}, int{'U'}, int{'M'}, int{'P'}, int{'Y'}}) file.push_back(std::byte(c));
    file.push_back(std::byte(version));
    file.push_back(std::byte{0});
    for (std::size_t b = 0; b < preamble - 8; ++b) file.push_back(std::byte((header.size() >> (8 * b)) & 0xFF));
    for (char c : header) file.push_back(std::byte(c));
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::string dict(const std::string& descr, bool fortran, const std::string& shape) {
    return "{'descr': " + descr + ", 'fortran_order': " + (fortran ? "True" : "False") +
           ", 'shape': " + shape + ", }";
}

// The values as a file stores them: little-endian unless `bigEndian`,
// whatever the byte order of the machine running the test.
template <class T>
Bytes raw(const std::vector<T>& values, bool bigEndian = false) {
    Bytes bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    if (bigEndian != (std::endian::native == std::endian::big)) {
        for (std::size_t i = 0; i < bytes.size(); i += sizeof(T)) {
            std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                         bytes.begin() + static_cast<std::ptrdiff_t>(i + sizeof(T)));
        }
    }
    return bytes;
}

using axiswarp::testing::imagValues;
using axiswarp::testing::realValues;

// ---- round trips through the writer ---------------------------------------------------

struct ClassCase {
    zuClassID classID;
    bool complex;
    const char* descr;
};

class NpyRoundTrip : public ::testing::TestWithParam<ClassCase> {};

TEST_P(NpyRoundTrip, KeepsClassExtentsAndEveryByte) {
    const ClassCase c = GetParam();
    zuhost::ArrayOptions options;
    options.complexity = c.complex ? zuCOMPLEX : zuREAL;
    zuhost::ArrayPtr original = zuhost::createArray(c.classID, {3, 2, 2}, options);
    const std::size_t bytes = 12 * zuhost::elementSize(c.classID);
    for (std::size_t i = 0; i < bytes; ++i) {
        // Logical data must stay 0/1; everything else gets distinct bytes.
        static_cast<unsigned char*>(original->realData)[i] =
            c.classID == zuLogicalClass ? (i % 3 == 0) : static_cast<unsigned char>(i * 7 + 1);
        if (c.complex) static_cast<unsigned char*>(original->imagData)[i] = static_cast<unsigned char>(255 - i);
    }
    const Bytes file = encodeNpy(*original);
    const std::string head(reinterpret_cast<const char*>(file.data()), 128);
    EXPECT_NE(head.find(std::string("'descr': ") + c.descr), std::string::npos) << head;
    EXPECT_NE(head.find("'fortran_order': True, 'shape': (3, 2, 2), }"), std::string::npos) << head;

    const zuhost::ArrayPtr back = decodeNpy(file, "round.npy");
    EXPECT_EQ(back->classID(), c.classID);
    EXPECT_EQ(back->isComplex(), c.complex);
    EXPECT_EQ(zuhost::extents(*back), (std::vector<std::uint64_t>{3, 2, 2}));
    EXPECT_EQ(std::memcmp(back->realData, original->realData, bytes), 0);
    if (c.complex) {
        EXPECT_EQ(std::memcmp(back->imagData, original->imagData, bytes), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllClasses, NpyRoundTrip,
    ::testing::Values(ClassCase{zuLogicalClass, false, "'|b1'"}, ClassCase{zuDoubleClass, false, "'<f8'"},
                      ClassCase{zuSingleClass, false, "'<f4'"}, ClassCase{zuInt8Class, false, "'|i1'"},
                      ClassCase{zuUint8Class, false, "'|u1'"}, ClassCase{zuInt16Class, false, "'<i2'"},
                      ClassCase{zuUint16Class, false, "'<u2'"}, ClassCase{zuInt32Class, false, "'<i4'"},
                      ClassCase{zuUint32Class, false, "'<u4'"}, ClassCase{zuInt64Class, false, "'<i8'"},
                      ClassCase{zuUint64Class, false, "'<u8'"}, ClassCase{zuDoubleClass, true, "'<c16'"},
                      ClassCase{zuSingleClass, true, "'<c8'"},
                      ClassCase{zuInt8Class, true, "[('re', '|i1'), ('im', '|i1')]"},
                      ClassCase{zuUint16Class, true, "[('re', '<u2'), ('im', '<u2')]"},
                      ClassCase{zuInt64Class, true, "[('re', '<i8'), ('im', '<i8')]"}));

TEST(NpyWriter, PadsHeaderSoDataStartsOn64Bytes) {
    for (std::uint64_t rows : {1u, 12345u}) {
        const zuhost::ArrayPtr array = zuhost::createArray(zuDoubleClass, {rows, 1});
        const Bytes file = encodeNpy(*array);
        const std::size_t headerLength = std::to_integer<std::size_t>(file[8]) |
                                         (std::to_integer<std::size_t>(file[9]) << 8);
        EXPECT_EQ((10 + headerLength) % 64, 0u);
        EXPECT_EQ(static_cast<char>(file[10 + headerLength - 1]), '\n');
        EXPECT_EQ(file.size(), 10 + headerLength + rows * 8);
    }
}

// The same array gives the same file on every machine: data little-endian,
// written out byte by byte here, real and imaginary parts interleaved.
TEST(NpyWriter, WritesLittleEndianDataOnEveryMachine) {
    struct Case {
        zuClassID classID;
        bool complex;
        std::vector<std::uint8_t> elementBytes;  // two elements (two pairs when complex), as the host holds them
        std::vector<std::uint8_t> fileBytes;     // what the file must hold after the header
    };
    auto native = [](std::uint64_t value, std::size_t size) {
        std::vector<std::uint8_t> out(size);
        for (std::size_t b = 0; b < size; ++b) {
            const std::size_t shift = std::endian::native == std::endian::little ? b : size - 1 - b;
            out[b] = static_cast<std::uint8_t>(value >> (8 * shift));
        }
        return out;
    };
    auto join = [](std::vector<std::vector<std::uint8_t>> pieces) {
        std::vector<std::uint8_t> out;
        for (const auto& p : pieces) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Case cases[] = {
        {zuUint16Class, false, join({native(0x0102, 2), native(0xA0B0, 2)}), {0x02, 0x01, 0xB0, 0xA0}},
        {zuDoubleClass, false, join({native(0x3FF0000000000000u, 8), native(0xC000000000000001u, 8)}),
         {0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0x01, 0, 0, 0, 0, 0, 0, 0xC0}},
        // Real parts 0x01020304, 0x05060708; imaginary parts 0x11121314, 0x15161718.
        {zuInt32Class, true,
         join({native(0x01020304, 4), native(0x05060708, 4), native(0x11121314, 4), native(0x15161718, 4)}),
         {0x04, 0x03, 0x02, 0x01, 0x14, 0x13, 0x12, 0x11, 0x08, 0x07, 0x06, 0x05, 0x18, 0x17, 0x16, 0x15}},
        {zuUint8Class, false, {0x7F, 0x80}, {0x7F, 0x80}},
    };
    for (const Case& c : cases) {
        const std::size_t half = c.complex ? c.elementBytes.size() / 2 : c.elementBytes.size();
        const zuhost::ArrayPtr array = axiswarp::testing::makeArray(
            c.classID, {2, 1}, c.elementBytes.data(), c.complex ? c.elementBytes.data() + half : nullptr);
        const Bytes file = encodeNpy(*array);
        const std::string text(reinterpret_cast<const char*>(file.data()), file.size());
        EXPECT_EQ(text.find("'>"), std::string::npos) << zuhost::className(c.classID);
        ASSERT_GE(file.size(), c.fileBytes.size());
        std::vector<std::uint8_t> data(c.fileBytes.size());
        std::memcpy(data.data(), file.data() + (file.size() - data.size()), data.size());
        EXPECT_EQ(data, c.fileBytes) << zuhost::className(c.classID);
    }
}

// ---- reading hand-made files --------------------------------------------------------

TEST(NpyReader, ReordersCOrderIntoColumnMajor) {
    // C order 2x3x4: element (i, j, k) holds 100i + 10j + k.
    std::vector<std::int32_t> cOrder;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 4; ++k) cOrder.push_back(100 * i + 10 * j + k);
    const auto array = decodeNpy(npyFile(1, dict("'<i4'", false, "(2, 3, 4)"), raw(cOrder)), "c.npy");
    ASSERT_EQ(zuhost::extents(*array), (std::vector<std::uint64_t>{2, 3, 4}));
    const auto values = realValues<std::int32_t>(*array);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 4; ++k) EXPECT_EQ(values[i + 2 * j + 6 * k], 100 * i + 10 * j + k);
}

TEST(NpyReader, AllVersionsAndByteOrdersGiveTheSameArray) {
    const std::vector<double> values{1.5, -2.25, 1e300, -0.0, 7.0, 8.0};
    for (int version : {1, 2, 3}) {
        for (bool big : {false, true}) {
            SCOPED_TRACE(testing::Message() << "version " << version << (big ? " big" : " little"));
            const auto array = decodeNpy(
                npyFile(version, dict(big ? "'>f8'" : "'<f8'", false, "(3, 2)"), raw(values, big)), "v.npy");
            // C order 3x2 -> host column-major.
            EXPECT_EQ(realValues<double>(*array), (std::vector<double>{1.5, 1e300, 7.0, -2.25, -0.0, 8.0}));
        }
    }
}

TEST(NpyReader, SplitsInterleavedComplexAndSwapsBigEndianParts) {
    // C order 2x2 of complex64, big-endian: (1+2i) (3+4i) / (5+6i) (7+8i).
    const auto c8 = decodeNpy(npyFile(1, dict("'>c8'", false, "(2, 2)"),
                                      raw(std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8}, true)), "c8.npy");
    ASSERT_TRUE(c8->isComplex());
    EXPECT_EQ(realValues<float>(*c8), (std::vector<float>{1, 5, 3, 7}));
    EXPECT_EQ(imagValues<float>(*c8), (std::vector<float>{2, 6, 4, 8}));

    const std::string fields = "[('real', '>i2'), ('imag', '>i2')]";
    const auto ci = decodeNpy(npyFile(1, dict(fields, true, "(3,)"),
                                      raw(std::vector<std::int16_t>{1, -1, 300, -300, 32767, -32768}, true)),
                              "ci.npy");
    ASSERT_EQ(ci->classID(), zuInt16Class);
    EXPECT_EQ(realValues<std::int16_t>(*ci), (std::vector<std::int16_t>{1, 300, 32767}));
    EXPECT_EQ(imagValues<std::int16_t>(*ci), (std::vector<std::int16_t>{-1, -300, -32768}));
}

TEST(NpyReader, ZeroAndOneDimensionalShapes) {
    struct Case {
        std::string shape;
        std::vector<std::uint64_t> extents;
    };
    for (const Case& c : {Case{"()", {1, 1}}, Case{"(5,)", {5, 1}}, Case{"(0,)", {0, 1}},
                          Case{"(2, 0, 3)", {2, 0, 3}}, Case{"(4L, 1L)", {4, 1}}}) {
        SCOPED_TRACE(c.shape);
        std::uint64_t count = 1;
        for (auto e : c.extents) count *= e;
        const auto array = decodeNpy(npyFile(1, dict("'|u1'", false, c.shape), Bytes(count, std::byte{9})), "s.npy");
        EXPECT_EQ(zuhost::extents(*array), c.extents);
        EXPECT_EQ(realValues<std::uint8_t>(*array), std::vector<std::uint8_t>(count, 9));
    }
}

TEST(NpyReader, AcceptsKeysInAnyOrderAndNormalisesBooleans) {
    const auto array = decodeNpy(
        npyFile(1, "{\"shape\": (3,), \"fortran_order\": False, \"descr\": '|b1'}",
                Bytes{std::byte{0}, std::byte{2}, std::byte{1}}),
        "b.npy");
    EXPECT_EQ(array->classID(), zuLogicalClass);
    EXPECT_EQ(realValues<std::uint8_t>(*array), (std::vector<std::uint8_t>{0, 1, 1}));
}

// ---- malformed files ------------------------------------------------------------------

Bytes withHeaderLength(Bytes file, std::size_t length) {
    file[8] = std::byte(length & 0xFF);
    file[9] = std::byte(length >> 8);
    return file;
}

TEST(NpyReader, RejectsMalformedFilesWithAClearMessage) {
    const Bytes good = npyFile(1, dict("'<f8'", false, "(2,)"), Bytes(16));
    Bytes wrongMagic = good;
    wrongMagic[1] = std::byte{'X'};
    Bytes version4 = good;
    version4[6] = std::byte{4};
    struct Case {
        const char* what;
        Bytes file;
        const char* expected;
    };
    const std::vector<Case> cases{
        {"empty", {}, "magic"},
        {"wrong magic", wrongMagic, "magic"},
        {"only the magic", Bytes(good.begin(), good.begin() + 7), "truncated"},
        {"version 4", version4, "version 4.0"},
        {"header past EOF", withHeaderLength(good, 0xFFFF), "runs past the end"},
        {"data truncated", npyFile(1, dict("'<f8'", false, "(10,)"), Bytes(16)), "declares 80 bytes"},
        {"trailing data", npyFile(1, dict("'<f8'", false, "(1,)"), Bytes(16)), "unexpected bytes"},
        {"huge shape, no data", npyFile(1, dict("'<f8'", false, "(100000000000, 100000)"), Bytes(8)), "truncated"},
        {"element count overflows", npyFile(1, dict("'<f8'", false, "(4294967296, 4294967296, 2)")), "more elements"},
        {"byte size overflows", npyFile(1, dict("'<c16'", false, "(1152921504606846976,)")), "overflows"},
        {"extent beyond 64 bits", npyFile(1, dict("'<f8'", false, "(99999999999999999999,)")), "too large"},
        {"negative extent", npyFile(1, dict("'<f8'", false, "(-3, 2)")), "negative extent -3"},
        {"float extent", npyFile(1, dict("'<f8'", false, "(2.5,)")), "malformed"},
        {"shape is a list", npyFile(1, dict("'<f8'", false, "[2]"), Bytes(16)), "not a tuple"},
        {"half float", npyFile(1, dict("'<f2'", false, "(1,)"), Bytes(2)), "unsupported dtype <f2"},
        {"unicode", npyFile(1, dict("'<U4'", false, "(1,)"), Bytes(16)), "unsupported dtype"},
        {"objects", npyFile(1, dict("'|O'", false, "(1,)"), Bytes(8)), "unsupported dtype"},
        {"multi-byte with no byte order", npyFile(1, dict("'|f8'", false, "(1,)"), Bytes(8)), "unsupported dtype"},
        {"float fields", npyFile(1, dict("[('re', '<f8'), ('im', '<f8')]", false, "(1,)"), Bytes(16)), "unsupported"},
        {"mixed fields", npyFile(1, dict("[('re', '<i2'), ('im', '<i4')]", false, "(1,)"), Bytes(6)), "unsupported"},
        {"wrong field names", npyFile(1, dict("[('a', '<i2'), ('b', '<i2')]", false, "(1,)"), Bytes(4)), "unsupported"},
        {"missing key", npyFile(1, "{'descr': '<f8', 'shape': (1,)}", Bytes(8)), "must hold"},
        {"extra key", npyFile(1, "{'descr': '<f8', 'fortran_order': False, 'shape': (1,), 'x': 1}", Bytes(8)), "unexpected key 'x'"},
        {"duplicate key", npyFile(1, "{'descr': '<f8', 'descr': '<f8', 'fortran_order': False, 'shape': (1,)}", Bytes(8)), "duplicate"},
        {"fortran_order not boolean", npyFile(1, "{'descr': '<f8', 'fortran_order': 0, 'shape': (1,)}", Bytes(8)), "fortran_order"},
        {"not a dict", npyFile(1, "[1, 2]"), "not a dictionary"},
        {"unterminated string", npyFile(1, "{'descr: '<f8'}"), "malformed"},
        {"deep nesting", npyFile(1, "{'shape': " + std::string(5000, '(')), "nesting too deep"},
        {"text after dict", npyFile(1, dict("'<f8'", false, "(1,)") + " x", Bytes(8)), "after the header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const zuhost::Counts before = zuhost::liveCounts();
        try {
            decodeNpy(c.file, "broken.npy");
            ADD_FAILURE() << "accepted";
        } catch (const ToolError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("broken.npy: ", 0), 0u) << message;
            EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        }
        EXPECT_EQ(zuhost::liveCounts(), before);
    }
}

// ---- files on disk ----------------------------------------------------------------------

class NpyFiles : public axiswarp::testing::ScratchFolder {};

TEST_F(NpyFiles, ReadsBothTheDirectAndTheReorderingPath) {
    const std::vector<std::uint16_t> data{1, 2, 3, 4, 5, 6};
    const auto fortran = axiswarp::tools::readNpy(put("f.npy", npyFile(2, dict("'<u2'", true, "(3, 2)"), raw(data))));
    EXPECT_EQ(realValues<std::uint16_t>(*fortran), data);
    const auto big = axiswarp::tools::readNpy(put("b.npy", npyFile(3, dict("'>u2'", false, "(3, 2)"), raw(data, true))));
    EXPECT_EQ(realValues<std::uint16_t>(*big), (std::vector<std::uint16_t>{1, 3, 5, 2, 4, 6}));
}

TEST_F(NpyFiles, ErrorsNameTheFile) {
    const auto truncated = put("short.npy", npyFile(1, dict("'<f8'", false, "(1000000000000,)"), Bytes(64)));
    for (const auto& path : {truncated, folder() / "missing.npy", folder()}) {
        try {
            axiswarp::tools::readNpy(path);
            ADD_FAILURE() << "read " << path;
        } catch (const ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
        }
    }
}

}  // namespace
