#include "npy/npy_header.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <optional>
#include <vector>

namespace axiswarp::tools {

namespace {

constexpr std::array<unsigned char, 6> kMagic = {0x93, 'N', 'U', 'M', 'P', 'Y'};
// A real header is a few hundred bytes; anything near this is not a header.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{1} << 20;
constexpr int kMaxNesting = 8;

[[noreturn]] void fail(std::string_view name, const std::string& problem) {
    throw ToolError(std::string(name) + ": " + problem);
}

bool multiplyChecked(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
    out = a * b;
    return true;
}

// ---- The header: a Python dict literal ------------------------------------

struct PyValue {
    enum class Kind { String, Integer, Boolean, None, Sequence, Dict };
    Kind kind = Kind::None;
    std::string text;                 // String
    bool negative = false;            // Integer
    std::uint64_t magnitude = 0;      // Integer
    bool boolean = false;             // Boolean
    bool tuple = false;               // Sequence: tuple or list
    std::vector<std::string> keys;    // Dict
    std::vector<PyValue> items;       // Sequence items, Dict values
};

class LiteralParser {
public:
    LiteralParser(std::string_view text, std::string_view name) : text_(text), name_(name) {}

    PyValue parseAll() {
        PyValue value = parseValue(0);
        skipSpace();
        if (pos_ != text_.size()) error("unexpected text after the header dictionary");
        return value;
    }

private:
    [[noreturn]] void error(const std::string& what) const {
        fail(name_, "malformed .npy header: " + what + " at offset " + std::to_string(pos_) +
                        " of the header text");
    }

    void skipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool consume(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool consumeWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        const std::size_t end = pos_ + word.size();
        if (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) != 0 ||
                                   text_[end] == '_')) {
            return false;
        }
        pos_ = end;
        return true;
    }

    PyValue parseValue(int depth) {
        if (depth > kMaxNesting) error("nesting too deep");
        skipSpace();
        if (pos_ >= text_.size()) error("unexpected end");
        const char c = text_[pos_];
        if (c == '{') return parseDict(depth);
        if (c == '(' || c == '[') return parseSequence(depth);
        if (c == '\'' || c == '"') return parseString();
        if (c == '-' || c == '+' || (c >= '0' && c <= '9')) return parseInteger();
        PyValue value;
        for (const bool truth : {true, false}) {
            if (consumeWord(truth ? "True" : "False")) {
                value.kind = PyValue::Kind::Boolean;
                value.boolean = truth;
                return value;
            }
        }
        if (consumeWord("None")) return value;
        error(std::string("unexpected character '") + c + "'");
    }

    PyValue parseDict(int depth) {
        ++pos_;
        PyValue dict;
        dict.kind = PyValue::Kind::Dict;
        while (!consume('}')) {
            PyValue key = parseValue(depth + 1);
            if (key.kind != PyValue::Kind::String) error("dictionary key is not a string");
            if (std::find(dict.keys.begin(), dict.keys.end(), key.text) != dict.keys.end()) {
                error("duplicate key '" + key.text + "'");
            }
            if (!consume(':')) error("expected ':'");
            dict.keys.push_back(std::move(key.text));
            dict.items.push_back(parseValue(depth + 1));
            if (!consume(',')) {
                if (!consume('}')) error("expected ',' or '}'");
                break;
            }
        }
        return dict;
    }

    PyValue parseSequence(int depth) {
        const char close = text_[pos_] == '(' ? ')' : ']';
        PyValue sequence;
        sequence.kind = PyValue::Kind::Sequence;
        sequence.tuple = close == ')';
        ++pos_;
        bool sawComma = false;
        while (!consume(close)) {
            sequence.items.push_back(parseValue(depth + 1));
            if (!consume(',')) {
                if (!consume(close)) error(std::string("expected ',' or '") + close + "'");
                break;
            }
            sawComma = true;
        }
        // "(x)" is only x in parentheses, not a tuple.
        if (sequence.tuple && sequence.items.size() == 1 && !sawComma) {
            PyValue inner = std::move(sequence.items.front());
            return inner;
        }
        return sequence;
    }

    PyValue parseString() {
        const char quote = text_[pos_++];
        PyValue value;
        value.kind = PyValue::Kind::String;
        while (true) {
            if (pos_ >= text_.size()) error("unterminated string");
            const char c = text_[pos_++];
            if (c == quote) break;
            if (c == '\n') error("line break inside a string");
            if (c == '\\') {
                if (pos_ >= text_.size()) error("unterminated string");
                const char escaped = text_[pos_++];
                if (escaped != '\\' && escaped != '\'' && escaped != '"') {
                    error("unsupported escape in a string");
                }
                value.text.push_back(escaped);
            } else {
                value.text.push_back(c);
            }
        }
        return value;
    }

    PyValue parseInteger() {
        PyValue value;
        value.kind = PyValue::Kind::Integer;
        if (text_[pos_] == '-' || text_[pos_] == '+') value.negative = text_[pos_++] == '-';
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            const auto digit = static_cast<std::uint64_t>(text_[pos_] - '0');
            if (value.magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                error("integer too large");
            }
            value.magnitude = value.magnitude * 10 + digit;
            ++pos_;
        }
        if (pos_ == start) error("expected digits");
        // Files written under Python 2 mark long integers with a suffix.
        if (pos_ < text_.size() && text_[pos_] == 'L') ++pos_;
        return value;
    }

    std::string_view text_;
    std::string_view name_;
    std::size_t pos_ = 0;
};

// ---- dtypes -----------------------------------------------------------------

struct ScalarType {
    zuClassID classID = zuClassID{0};
    bool complex = false;
    bool bigEndian = false;
    std::size_t componentBytes = 0;
};

std::optional<ScalarType> parseScalarDescr(std::string_view descr) {
    if (descr.size() < 3) return std::nullopt;
    const char order = descr[0];
    if (order != '<' && order != '>' && order != '|') return std::nullopt;
    const char kind = descr[1];
    const std::string_view size = descr.substr(2);
    struct Entry {
        char kind;
        std::string_view size;
        zuClassID classID;
        bool complex;
        std::size_t componentBytes;
    };
    static constexpr Entry kTable[] = {
        {'b', "1", zuLogicalClass, false, 1}, {'f', "8", zuDoubleClass, false, 8},
        {'f', "4", zuSingleClass, false, 4},  {'i', "1", zuInt8Class, false, 1},
        {'u', "1", zuUint8Class, false, 1},   {'i', "2", zuInt16Class, false, 2},
        {'u', "2", zuUint16Class, false, 2},  {'i', "4", zuInt32Class, false, 4},
        {'u', "4", zuUint32Class, false, 4},  {'i', "8", zuInt64Class, false, 8},
        {'u', "8", zuUint64Class, false, 8},  {'c', "16", zuDoubleClass, true, 8},
        {'c', "8", zuSingleClass, true, 4},
    };
    for (const Entry& entry : kTable) {
        if (entry.kind != kind || entry.size != size) continue;
        const std::size_t itemBytes = entry.componentBytes * (entry.complex ? 2 : 1);
        // '|' means "byte order does not apply", which is only true of bytes.
        if (order == '|' && itemBytes != 1) return std::nullopt;
        ScalarType type{entry.classID, entry.complex, false, entry.componentBytes};
        type.bigEndian = order == '>' && entry.componentBytes > 1;
        return type;
    }
    return std::nullopt;
}

bool isIntegerClass(zuClassID classID) {
    return classID >= zuInt8Class && classID <= zuUint64Class;
}

std::string describeValue(const PyValue& value) {
    switch (value.kind) {
        case PyValue::Kind::String: return "'" + value.text + "'";
        case PyValue::Kind::Integer: {
            std::string text = std::to_string(value.magnitude);
            if (value.negative) text.insert(text.begin(), '-');
            return text;
        }
        case PyValue::Kind::Boolean: return value.boolean ? "True" : "False";
        case PyValue::Kind::None: return "None";
        case PyValue::Kind::Sequence: return value.tuple ? "a tuple" : "a list";
        case PyValue::Kind::Dict: return "a dictionary";
    }
    return "?";
}

// A structured dtype of exactly two fields of one integer type, real part
// first: the usual way to keep complex integers in a NumPy file.
std::optional<ScalarType> parseStructuredDescr(const PyValue& descr, std::string& shown) {
    shown.assign(1, '[');
    if (descr.items.size() != 2) return std::nullopt;
    std::string names[2];
    std::optional<ScalarType> types[2];
    for (std::size_t f = 0; f < 2; ++f) {
        const PyValue& field = descr.items[f];
        if (field.kind != PyValue::Kind::Sequence || field.items.size() != 2 ||
            field.items[0].kind != PyValue::Kind::String ||
            field.items[1].kind != PyValue::Kind::String) {
            return std::nullopt;
        }
        names[f] = field.items[0].text;
        types[f] = parseScalarDescr(field.items[1].text);
        shown += (f == 0 ? "('" : ", ('") + names[f] + "', '" + field.items[1].text + "')";
    }
    shown += "]";
    const bool namesOk = (names[0] == "re" && names[1] == "im") ||
                         (names[0] == "real" && names[1] == "imag");
    if (!namesOk || !types[0] || !types[1] || !isIntegerClass(types[0]->classID) ||
        types[0]->classID != types[1]->classID || types[0]->bigEndian != types[1]->bigEndian) {
        return std::nullopt;
    }
    ScalarType type = *types[0];
    type.complex = true;
    return type;
}

std::uint32_t readLittle(const unsigned char* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

// The preamble: magic, version, header length. Returns where the header text
// starts and how long it is, after checking that it lies within the file.
struct Preamble {
    int majorVersion;
    std::uint64_t headerStart;
    std::uint64_t headerBytes;
};

Preamble parsePreamble(std::span<const std::byte> bytes, std::uint64_t fileSize,
                       std::string_view name) {
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < kMagic.size() || !std::equal(kMagic.begin(), kMagic.end(), raw)) {
        fail(name, "not a NumPy .npy file (wrong or missing magic bytes)");
    }
    if (bytes.size() < 8) fail(name, "truncated .npy file: no format version");
    const int major = raw[6];
    const int minor = raw[7];
    if ((major != 1 && major != 2 && major != 3) || minor != 0) {
        fail(name, "unsupported .npy format version " + std::to_string(major) + "." +
                       std::to_string(minor) + " (1.0, 2.0 and 3.0 are read)");
    }
    const std::size_t lengthBytes = major == 1 ? 2 : 4;
    if (bytes.size() < 8 + lengthBytes) fail(name, "truncated .npy file: no header length");
    Preamble preamble{major, 8 + lengthBytes, readLittle(raw + 8, lengthBytes)};
    if (preamble.headerBytes > kMaxHeaderBytes) {
        fail(name, "header length " + std::to_string(preamble.headerBytes) +
                       " is implausibly large for a .npy header");
    }
    if (preamble.headerStart + preamble.headerBytes > fileSize) {
        fail(name, "header length " + std::to_string(preamble.headerBytes) +
                       " runs past the end of the file (" + std::to_string(fileSize) + " bytes)");
    }
    return preamble;
}

NpyHeader interpretHeader(const Preamble& preamble, std::string_view text,
                          std::uint64_t fileSize, std::string_view name) {
    const PyValue dict = LiteralParser(text, name).parseAll();
    if (dict.kind != PyValue::Kind::Dict) fail(name, "malformed .npy header: not a dictionary");

    const PyValue* descr = nullptr;
    const PyValue* fortran = nullptr;
    const PyValue* shape = nullptr;
    for (std::size_t i = 0; i < dict.keys.size(); ++i) {
        if (dict.keys[i] == "descr") descr = &dict.items[i];
        else if (dict.keys[i] == "fortran_order") fortran = &dict.items[i];
        else if (dict.keys[i] == "shape") shape = &dict.items[i];
        else fail(name, "malformed .npy header: unexpected key '" + dict.keys[i] + "'");
    }
    if (descr == nullptr || fortran == nullptr || shape == nullptr) {
        fail(name, "malformed .npy header: it must hold 'descr', 'fortran_order' and 'shape'");
    }

    NpyHeader header;
    header.majorVersion = preamble.majorVersion;
    std::optional<ScalarType> type;
    if (descr->kind == PyValue::Kind::String) {
        header.descr = descr->text;
        type = parseScalarDescr(descr->text);
    } else if (descr->kind == PyValue::Kind::Sequence && !descr->tuple) {
        type = parseStructuredDescr(*descr, header.descr);
    } else {
        fail(name, "malformed .npy header: 'descr' is " + describeValue(*descr));
    }
    if (!type) {
        fail(name, "unsupported dtype " + header.descr +
                       " (supported: |b1, <f8, <f4, |i1, |u1, <i2, <u2, <i4, <u4, <i8, <u8, "
                       "<c16, <c8 in either byte order, and complex integers as two integer "
                       "fields 're' and 'im')");
    }
    header.classID = type->classID;
    header.complex = type->complex;
    header.bigEndian = type->bigEndian;
    header.componentBytes = type->componentBytes;

    if (fortran->kind != PyValue::Kind::Boolean) {
        fail(name, "malformed .npy header: 'fortran_order' is " + describeValue(*fortran) +
                       ", not True or False");
    }
    header.fortranOrder = fortran->boolean;

    if (shape->kind != PyValue::Kind::Sequence || !shape->tuple) {
        fail(name, "malformed .npy header: 'shape' is " + describeValue(*shape) +
                       ", not a tuple");
    }
    header.elementCount = 1;
    for (const PyValue& extent : shape->items) {
        if (extent.kind != PyValue::Kind::Integer) {
            fail(name, "malformed .npy header: extent " + describeValue(extent) +
                           " in 'shape' is not an integer");
        }
        if (extent.negative && extent.magnitude != 0) {
            fail(name, "malformed .npy header: negative extent " + describeValue(extent) +
                           " in 'shape'");
        }
        header.shape.push_back(extent.magnitude);
        if (!multiplyChecked(header.elementCount, extent.magnitude, header.elementCount)) {
            fail(name, "malformed .npy header: 'shape' has more elements than can be counted");
        }
    }
    const std::uint64_t itemBytes = header.componentBytes * (header.complex ? 2 : 1);
    if (!multiplyChecked(header.elementCount, itemBytes, header.dataBytes)) {
        fail(name, "malformed .npy header: the data size of 'shape' overflows");
    }

    header.dataOffset = preamble.headerStart + preamble.headerBytes;
    const std::uint64_t present = fileSize - header.dataOffset;
    if (present < header.dataBytes) {
        fail(name, "truncated .npy file: the header declares " + std::to_string(header.dataBytes) +
                       " bytes of data but the file holds " + std::to_string(present));
    }
    if (present > header.dataBytes) {
        fail(name, "malformed .npy file: " + std::to_string(present - header.dataBytes) +
                       " unexpected bytes after the " + std::to_string(header.dataBytes) +
                       " bytes of data");
    }
    return header;
}

}  // namespace

// ---- reading ------------------------------------------------------------------

NpyHeader parseNpyHeader(std::span<const std::byte> bytes, std::uint64_t fileSize,
                         std::string_view name) {
    if (bytes.size() > fileSize) fileSize = bytes.size();
    const Preamble preamble = parsePreamble(bytes, fileSize, name);
    if (preamble.headerStart + preamble.headerBytes > bytes.size()) {
        fail(name, "truncated .npy header");
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()) + preamble.headerStart,
                                static_cast<std::size_t>(preamble.headerBytes));
    return interpretHeader(preamble, text, fileSize, name);
}

std::uint64_t npyHeaderEnd(std::span<const std::byte> start, std::uint64_t fileSize,
                           std::string_view name) {
    const Preamble preamble = parsePreamble(start, fileSize, name);
    return preamble.headerStart + preamble.headerBytes;
}

// ---- writing ------------------------------------------------------------------

std::string npyDescr(zuClassID classID, bool complex) {
    const char* code = nullptr;
    switch (classID) {
        case zuLogicalClass: code = "b1"; break;
        case zuDoubleClass: code = complex ? "c16" : "f8"; break;
        case zuSingleClass: code = complex ? "c8" : "f4"; break;
        case zuInt8Class: code = "i1"; break;
        case zuUint8Class: code = "u1"; break;
        case zuInt16Class: code = "i2"; break;
        case zuUint16Class: code = "u2"; break;
        case zuInt32Class: code = "i4"; break;
        case zuUint32Class: code = "u4"; break;
        case zuInt64Class: code = "i8"; break;
        case zuUint64Class: code = "u8"; break;
        default:
            throw ToolError(std::string("cannot store class ") + zuhost::className(classID) +
                            " in a .npy file");
    }
    if (complex && classID == zuLogicalClass) {
        throw ToolError("cannot store a complex logical array in a .npy file");
    }
    // Byte order does not apply to single bytes, which NumPy marks with '|'.
    // Wider elements are always written little-endian, whatever the machine,
    // so that the same array gives the same file everywhere.
    const char order = zuhost::elementSize(classID) == 1 ? '|' : '<';
    std::string scalar(1, order);
    scalar += code;
    if (complex && isIntegerClass(classID)) {
        return "[('re', '" + scalar + "'), ('im', '" + scalar + "')]";
    }
    return "'" + scalar + "'";
}

std::string encodeNpyHeader(const zuArray& array) {
    const zuClassID classID = array.classID();
    const bool complex = array.isComplex();
    std::string dict = "{'descr': " + npyDescr(classID, complex) +
                       ", 'fortran_order': True, 'shape': (";
    for (std::uint64_t d = 0; d < array.numDims; ++d) {
        dict += std::to_string(array.dims[d]);
        if (d + 1 < array.numDims || array.numDims == 1) dict += ",";
        if (d + 1 < array.numDims) dict += " ";
    }
    dict += "), }";

    // Pad with spaces so that the data starts on a 64-byte boundary, as
    // readers that map the file expect; the header ends in a newline.
    const std::size_t unpadded = dict.size() + 1;
    const bool version1 = 10 + unpadded + 63 <= 10 + std::size_t{0xFFFF};
    const std::size_t preamble = version1 ? 10 : 12;
    const std::size_t total = (preamble + unpadded + 63) / 64 * 64;
    dict.append(total - preamble - unpadded, ' ');
    dict.push_back('\n');

    std::string head(kMagic.begin(), kMagic.end());
    head.push_back(static_cast<char>(version1 ? 1 : 2));
    head.push_back('\0');
    const std::size_t length = dict.size();
    for (std::size_t b = 0; b < (version1 ? 2u : 4u); ++b) {
        head.push_back(static_cast<char>((length >> (8 * b)) & 0xFF));
    }
    head += dict;
    return head;
}

}  // namespace axiswarp::tools
