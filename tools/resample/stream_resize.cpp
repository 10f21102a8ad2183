#include "resample/stream_resize.hpp"

#include "resample/double_samples.hpp"
#include "resample/module_calls.hpp"
#include "resample/stream_plan.hpp"
#include "resample/table_arrays.hpp"
#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace axiswarp::tools {

namespace {

// Uninitialised bytes aligned for any sample type.
class Buffer {
public:
    Buffer() = default;
    explicit Buffer(std::size_t bytes) : data_(bytes > 0 ? new double[(bytes + 7) / 8] : nullptr) {}
    unsigned char* data() const noexcept { return reinterpret_cast<unsigned char*>(data_.get()); }

private:
    std::unique_ptr<double[]> data_;
};

// The double path's conversions for the page's sample type.
struct DoubleOps {
    void (*decode)(const unsigned char* in, std::uint64_t pixels, std::uint32_t channels, bool alpha,
                   bool linear, double* out) = nullptr;
    void (*store)(const double* in, std::uint64_t pixels, std::uint32_t channels, bool alpha, bool linear,
                  unsigned char* out) = nullptr;
};

template <class T>
DoubleOps doubleOpsFor() {
    return {[](const unsigned char* in, std::uint64_t pixels, std::uint32_t channels, bool alpha, bool linear,
               double* out) { decodePixels(reinterpret_cast<const T*>(in), pixels, channels, alpha, linear, out); },
            [](const double* in, std::uint64_t pixels, std::uint32_t channels, bool alpha, bool linear,
               unsigned char* out) { storePixels(in, pixels, channels, alpha, linear, reinterpret_cast<T*>(out)); }};
}

// Rows of `rowBytes` packed in `buffer` get one more pixel each, `pixel`,
// in place: the buffer holds rows * (rowBytes + pixel size) bytes.
void appendColumn(unsigned char* buffer, std::uint64_t rows, std::size_t rowBytes,
                  const std::vector<unsigned char>& pixel) {
    const std::size_t wide = rowBytes + pixel.size();
    for (std::uint64_t r = rows; r-- > 0;) {
        std::memmove(buffer + r * wide, buffer + r * rowBytes, rowBytes);
        std::memcpy(buffer + r * wide + rowBytes, pixel.data(), pixel.size());
    }
}

void reversePixels(unsigned char* row, std::uint64_t pixels, std::size_t pixelBytes) {
    unsigned char swap[32];  // 4 samples of at most 8 bytes
    for (std::uint64_t a = 0, b = pixels; a + 1 < b; ++a) {
        --b;
        std::memcpy(swap, row + a * pixelBytes, pixelBytes);
        std::memcpy(row + a * pixelBytes, row + b * pixelBytes, pixelBytes);
        std::memcpy(row + b * pixelBytes, swap, pixelBytes);
    }
}

class StreamEngine {
public:
    StreamEngine(const zuhost::Module& module, const PageShape& stored, StoredPlan plan,
                 const ResampleOptions& options, double fill, unsigned threads, std::uint32_t bandRows,
                 const RowSource& read, const RowSink& write);
    void run(WorkerPool* pool);
    // The bytes of every buffer the stream holds (taken, not yet touched).
    std::uint64_t heldBytes() const noexcept { return held_; }

private:
    enum class Kind { none, read, firstPass, group, write };
    struct Step {
        Kind kind = Kind::none;
        std::uint64_t index = 0;  // band or group
        std::size_t slot = 0;
    };
    struct BandSlot {
        Buffer samples;  // the band as read
        Buffer doubles;  // the double path's band, before a column pass
    };
    struct GroupSlot {
        Buffer window;   // the rows pass's output, when more follows it
        Buffer columns;  // the column pass's output on the double path
        Buffer out;      // the finished rows
        Buffer gathered; // the group's rows and the fill row, for tables with a fill sample
        std::vector<double> indices;  // the group's index table, counted from its first row
        GroupColumns tables;          // the group's columns of tables made on demand
    };

    void participate();
    Step pick();
    void execute(const Step& step);
    void complete(const Step& step);
    void firstPass(std::uint64_t band, BandSlot& slot);
    void runGroup(std::uint64_t g, GroupSlot& slot);
    void emitTurnedPage();
    unsigned char* ringRow(std::uint64_t row) const noexcept {
        return ring_.data() + (row % window_.capacity) * windowRowBytes_;
    }
    std::uint64_t bandLength(std::uint64_t band) const noexcept {
        return std::min<std::uint64_t>(bandRows_, height_ - band * bandRows_);
    }

    const zuhost::Module& module_;
    const RowSource& read_;
    const RowSink& write_;
    StoredPlan plan_;
    WindowPlan window_;
    std::uint64_t width_, height_, channels_, bandRows_;
    bool doublePath_, alpha_, linear_;
    DoubleOps ops_;
    zuClassID classID_;
    std::size_t sampleBytes_, elementBytes_;   // of the page's type, of the passes' class
    std::uint64_t colInWidth_;                 // the column pass's input width, a fill column included
    std::uint64_t windowWidth_;                // pixels of a row in the ring
    std::size_t windowRowBytes_;
    std::vector<unsigned char> fillPixel_;     // the fill sample of every channel, in the passes' class
    bool holdPage_, reverseRows_;
    std::uint64_t bands_, ringBands_;

    Buffer ring_;
    std::vector<BandSlot> bandSlots_;
    std::vector<GroupSlot> groupSlots_;
    Buffer page_;
    TableArrays colArrays_;
    zuhost::ArrayPtr dimTwo_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t nextRead_ = 0;
    bool reading_ = false;
    std::vector<std::size_t> freeBands_;
    std::deque<std::pair<std::uint64_t, std::size_t>> readBands_;
    std::vector<char> bandDone_;
    std::uint64_t bandsDone_ = 0;  // bands 0 .. bandsDone_-1 are in the ring
    std::uint64_t nextGroup_ = 0;
    std::vector<std::size_t> freeGroups_;
    std::vector<char> ringDone_;
    std::uint64_t groupsOffRing_ = 0;  // groups 0 .. groupsOffRing_-1 no longer read the ring
    std::vector<std::ptrdiff_t> finished_;  // group -> slot holding its rows, or -1
    std::uint64_t nextWrite_ = 0;
    bool writing_ = false;
    unsigned running_ = 0;
    std::exception_ptr error_;
    std::uint64_t held_ = 0;

    Buffer take(std::uint64_t bytes) {
        // A size a size_t cannot hold (32-bit targets) must not wrap into
        // a small buffer.
        if (bytes > std::numeric_limits<std::size_t>::max() - 8) throw std::bad_alloc();
        held_ += bytes;
        return Buffer(static_cast<std::size_t>(bytes));
    }
};

StreamEngine::StreamEngine(const zuhost::Module& module, const PageShape& stored, StoredPlan plan,
                           const ResampleOptions& options, double fill, unsigned threads,
                           std::uint32_t bandRows, const RowSource& read, const RowSink& write)
    : module_(module), read_(read), write_(write), plan_(std::move(plan)), width_(stored.width),
      height_(stored.height), channels_(stored.channels), bandRows_(bandRows) {
    alpha_ = hasAlpha(stored.channels, options);
    linear_ = options.linear;
    doublePath_ = usesDoublePath(stored.type, stored.channels, options);
    classID_ = doublePath_ ? zuDoubleClass : classOf(stored.type);
    sampleBytes_ = static_cast<std::size_t>(bitsOf(stored.type) / 8);
    elementBytes_ = zuhost::elementSize(classID_);
    withSampleType(stored.type, [&](auto zero) {
        using T = decltype(zero);
        ops_ = doubleOpsFor<T>();
        const T held = static_cast<T>(fill);  // exact: a value of T
        fillPixel_.resize(channels_ * elementBytes_);
        if (doublePath_) {
            const std::vector<double> values = doubleFill<T>(held, stored.channels, alpha_, linear_);
            std::memcpy(fillPixel_.data(), values.data(), fillPixel_.size());
        } else {
            for (std::uint64_t k = 0; k < channels_; ++k) std::memcpy(&fillPixel_[k * sizeof(T)], &held, sizeof(T));
        }
    });
    const std::uint64_t outWidth = plan_.outWidth;
    colInWidth_ = width_ + (plan_.colTables->fillSample ? 1 : 0);
    windowWidth_ = plan_.rowsFirst ? width_ : outWidth;
    windowRowBytes_ = windowWidth_ * channels_ * elementBytes_;
    holdPage_ = plan_.flipRows || plan_.swap;
    reverseRows_ = !holdPage_ && plan_.flipCols;

    // Groups of about one band's worth of output rows, and at least 16: the
    // module goes along dimension 2 in blocks of eight output columns, and
    // a call with fewer wastes most of its reads of the input rows.
    const Tables& rows = *plan_.rowTables;
    const std::uint64_t outRows = rows.outLength;
    // An enlargement makes many output rows per band; a group's buffers are
    // kept to about 2^18 samples (and 16 rows at least) so that memory does
    // not grow with the scale.
    const std::uint64_t outRowSamples = std::max<std::uint64_t>(1, std::uint64_t{outWidth} * channels_);
    const std::uint64_t groupCap = std::max<std::uint64_t>(16, (std::uint64_t{1} << 18) / outRowSamples);
    const std::uint64_t groupRows = std::clamp<std::uint64_t>(
        std::min(std::max<std::uint64_t>((bandRows_ * outRows) / height_, 16), groupCap), 1, outRows);
    const unsigned slots = std::max(2u, threads + 1);
    window_ = windowPlan(rows, height_, bandRows, groupRows, slots);
    bands_ = (height_ + bandRows_ - 1) / bandRows_;
    ringBands_ = window_.capacity < height_ ? window_.capacity / bandRows_ : 0;

    ring_ = take((window_.capacity + window_.mirror) * windowRowBytes_);
    const bool bandIntoRing = plan_.rowsFirst && !doublePath_;
    bandSlots_.resize(slots);
    for (BandSlot& slot : bandSlots_) {
        if (bandIntoRing) continue;
        const bool widened = !plan_.rowsFirst && !doublePath_;
        slot.samples = take(bandRows_ * (widened ? colInWidth_ : width_) * channels_ * sampleBytes_);
        if (doublePath_ && !plan_.rowsFirst) slot.doubles = take(bandRows_ * colInWidth_ * channels_ * sizeof(double));
    }
    groupSlots_.resize(slots);
    for (GroupSlot& slot : groupSlots_) {
        const std::uint64_t pixels = groupRows * outWidth;
        if (plan_.rowsFirst) {
            slot.window = take(groupRows * colInWidth_ * channels_ * elementBytes_);
            if (doublePath_) slot.columns = take(pixels * channels_ * sizeof(double));
        } else if (doublePath_) {
            slot.window = take(pixels * channels_ * sizeof(double));
        }
        slot.out = take(pixels * channels_ * sampleBytes_);
        slot.indices.resize(groupRows * rows.taps);
        if (plan_.rowTables->fillSample) slot.gathered = take((window_.maxSpan + 1) * windowRowBytes_);
    }
    if (holdPage_) page_ = take(std::uint64_t{plan_.outHeight} * outWidth * channels_ * sampleBytes_);
    colArrays_ = tableArrays(*plan_.colTables, 0, UINT64_MAX, true);
    dimTwo_ = zuhost::createScalar(2);

    for (std::size_t s = slots; s-- > 0;) {
        freeBands_.push_back(s);
        freeGroups_.push_back(s);
    }
    bandDone_.assign(bands_, 0);
    ringDone_.assign(window_.groups.size(), 0);
    finished_.assign(window_.groups.size(), -1);
}

void StreamEngine::run(WorkerPool* pool) {
    const unsigned threads = pool != nullptr ? pool->threads() : 1;
    // Every thread that joins takes whatever step is ready; one that joins
    // late finds the stream done and leaves at once.
    if (threads > 1)
        pool->run(threads, [this](std::size_t) { participate(); });
    else
        participate();
    if (error_) std::rethrow_exception(error_);
    if (holdPage_) emitTurnedPage();
}

void StreamEngine::participate() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (error_ || nextWrite_ == window_.groups.size()) return;
        const Step step = pick();
        if (step.kind == Kind::none) {
            if (running_ == 0) {
                // Nothing ready and nothing running would wait for ever.
                error_ = std::make_exception_ptr(std::logic_error("the resize stream has no step it can take"));
                changed_.notify_all();
                return;
            }
            changed_.wait(lock);
            continue;
        }
        ++running_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            execute(step);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        --running_;
        if (failure) {
            if (!error_) error_ = failure;
        } else {
            complete(step);
        }
        changed_.notify_all();
    }
}

// Under the lock. The serial ends first (reading, then writing), so the
// source never waits while passes can run on other threads; then the older
// work before the newer.
StreamEngine::Step StreamEngine::pick() {
    if (!reading_ && nextRead_ < bands_ && !freeBands_.empty() &&
        groupsOffRing_ >= window_.doneBefore[nextRead_] &&
        (ringBands_ == 0 || nextRead_ < ringBands_ || bandsDone_ > nextRead_ - ringBands_)) {
        reading_ = true;
        const std::size_t slot = freeBands_.back();
        freeBands_.pop_back();
        return {Kind::read, nextRead_++, slot};
    }
    if (!writing_ && nextWrite_ < finished_.size() && finished_[nextWrite_] >= 0) {
        writing_ = true;
        return {Kind::write, nextWrite_, static_cast<std::size_t>(finished_[nextWrite_])};
    }
    if (!readBands_.empty()) {
        const auto [band, slot] = readBands_.front();
        readBands_.pop_front();
        return {Kind::firstPass, band, slot};
    }
    if (nextGroup_ < window_.groups.size() && !freeGroups_.empty()) {
        const WindowGroup& group = window_.groups[nextGroup_];
        const std::uint64_t rowsIn = std::min(height_, bandsDone_ * bandRows_);
        if (!group.rows || group.hi < rowsIn) {
            const std::size_t slot = freeGroups_.back();
            freeGroups_.pop_back();
            return {Kind::group, nextGroup_++, slot};
        }
    }
    return {};
}

void StreamEngine::complete(const Step& step) {
    switch (step.kind) {
        case Kind::read:
            reading_ = false;
            readBands_.emplace_back(step.index, step.slot);
            break;
        case Kind::firstPass:
            bandDone_[step.index] = 1;
            while (bandsDone_ < bands_ && bandDone_[bandsDone_]) ++bandsDone_;
            freeBands_.push_back(step.slot);
            break;
        case Kind::group:
            finished_[step.index] = static_cast<std::ptrdiff_t>(step.slot);
            break;
        case Kind::write:
            writing_ = false;
            freeGroups_.push_back(step.slot);
            ++nextWrite_;
            break;
        case Kind::none:
            break;
    }
}

void StreamEngine::execute(const Step& step) {
    switch (step.kind) {
        case Kind::read: {
            const std::uint64_t rows = bandLength(step.index);
            unsigned char* target = plan_.rowsFirst && !doublePath_ ? ringRow(step.index * bandRows_)
                                                                    : bandSlots_[step.slot].samples.data();
            read_(target, static_cast<std::uint32_t>(rows));
            break;
        }
        case Kind::firstPass:
            firstPass(step.index, bandSlots_[step.slot]);
            break;
        case Kind::group:
            runGroup(step.index, groupSlots_[step.slot]);
            break;
        case Kind::write: {
            const WindowGroup& group = window_.groups[step.index];
            const unsigned char* rows = groupSlots_[step.slot].out.data();
            if (holdPage_) {
                const std::size_t rowBytes = std::size_t{plan_.outWidth} * channels_ * sampleBytes_;
                std::memcpy(page_.data() + group.first * rowBytes, rows, group.count * rowBytes);
            } else {
                write_(rows, static_cast<std::uint32_t>(group.count));
            }
            break;
        }
        case Kind::none:
            break;
    }
}

void StreamEngine::firstPass(std::uint64_t band, BandSlot& slot) {
    const std::uint64_t first = band * bandRows_;
    const std::uint64_t rows = bandLength(band);
    unsigned char* target = ringRow(first);
    const std::uint64_t pixels = rows * width_;
    if (plan_.rowsFirst) {
        if (doublePath_)
            ops_.decode(slot.samples.data(), pixels, static_cast<std::uint32_t>(channels_), alpha_, linear_,
                        reinterpret_cast<double*>(target));
    } else {
        unsigned char* input = slot.samples.data();
        if (doublePath_) {
            input = slot.doubles.data();
            ops_.decode(slot.samples.data(), pixels, static_cast<std::uint32_t>(channels_), alpha_, linear_,
                        reinterpret_cast<double*>(input));
        }
        if (plan_.colTables->fillSample) appendColumn(input, rows, width_ * channels_ * elementBytes_, fillPixel_);
        const zuhost::ArrayPtr in = zuhost::borrowArray(classID_, hostExtents(channels_, colInWidth_, rows), input);
        callInPlace(module_, *in, *colArrays_.weights, *colArrays_.indices, *dimTwo_,
                    hostExtents(channels_, plan_.outWidth, rows), target);
    }
    // The ring's first slots again past its end, so that a group's rows are
    // one run whichever slot they start at.
    const std::uint64_t slot0 = first % window_.capacity;
    for (std::uint64_t r = 0; r < rows && slot0 + r < window_.mirror; ++r)
        std::memcpy(ring_.data() + (window_.capacity + slot0 + r) * windowRowBytes_,
                    ring_.data() + (slot0 + r) * windowRowBytes_, windowRowBytes_);
}

void StreamEngine::runGroup(std::uint64_t g, GroupSlot& slot) {
    const WindowGroup& group = window_.groups[g];
    const std::uint64_t K = plan_.rowTables->taps;
    std::uint64_t viewRows = group.span();
    const unsigned char* view = group.rows ? ringRow(group.lo) : nullptr;
    if (group.fill) {
        // The group's rows and then the fill row: the fill sample's index.
        unsigned char* gathered = slot.gathered.data();
        if (viewRows > 0) std::memcpy(gathered, view, viewRows * windowRowBytes_);
        for (std::uint64_t x = 0; x < windowWidth_; ++x)
            std::memcpy(gathered + viewRows * windowRowBytes_ + x * fillPixel_.size(), fillPixel_.data(),
                        fillPixel_.size());
        view = gathered;
        ++viewRows;
    }
    const std::uint64_t rowSamples = windowWidth_ * channels_;
    unsigned char* target = plan_.rowsFirst || doublePath_ ? slot.window.data() : slot.out.data();
    {
        const zuhost::ArrayPtr in = zuhost::borrowArray(classID_, hostExtents(rowSamples, viewRows, 1), view);
        const Tables& rows = *plan_.rowTables;
        const double* groupWeights = groupColumns(rows, group.first, group.count, slot.tables);
        rebasedIndices(groupIndices(rows, group.first, slot.tables), K, height_, group, slot.indices.data());
        const zuhost::ArrayPtr weights = zuhost::borrowArray(zuDoubleClass, hostExtents(K, group.count, 1), groupWeights);
        const zuhost::ArrayPtr indices =
            zuhost::borrowArray(zuDoubleClass, hostExtents(K, group.count, 1), slot.indices.data());
        callInPlace(module_, *in, *weights, *indices, *dimTwo_, hostExtents(rowSamples, group.count, 1), target);
    }
    {
        // The ring's rows are no longer needed by this group.
        std::lock_guard lock(mutex_);
        ringDone_[g] = 1;
        while (groupsOffRing_ < ringDone_.size() && ringDone_[groupsOffRing_]) ++groupsOffRing_;
    }
    changed_.notify_all();

    const std::uint64_t pixels = group.count * plan_.outWidth;
    const double* result = reinterpret_cast<const double*>(target);
    if (plan_.rowsFirst) {
        unsigned char* input = slot.window.data();
        if (plan_.colTables->fillSample)
            appendColumn(input, group.count, width_ * channels_ * elementBytes_, fillPixel_);
        unsigned char* columns = doublePath_ ? slot.columns.data() : slot.out.data();
        const zuhost::ArrayPtr in =
            zuhost::borrowArray(classID_, hostExtents(channels_, colInWidth_, group.count), input);
        callInPlace(module_, *in, *colArrays_.weights, *colArrays_.indices, *dimTwo_,
                    hostExtents(channels_, plan_.outWidth, group.count), columns);
        result = reinterpret_cast<const double*>(columns);
    }
    if (doublePath_)
        ops_.store(result, pixels, static_cast<std::uint32_t>(channels_), alpha_, linear_, slot.out.data());
    if (reverseRows_) {
        const std::size_t pixelBytes = channels_ * sampleBytes_;
        for (std::uint64_t r = 0; r < group.count; ++r)
            reversePixels(slot.out.data() + r * plan_.outWidth * pixelBytes, plan_.outWidth, pixelBytes);
    }
}

// The held output, stored frame, turned upright and handed to the sink in
// chunks of rows.
void StreamEngine::emitTurnedPage() {
    const std::uint64_t storedRows = plan_.outHeight;
    const std::uint64_t storedCols = plan_.outWidth;
    const std::uint64_t outRows = plan_.swap ? storedCols : storedRows;
    const std::uint64_t outCols = plan_.swap ? storedRows : storedCols;
    const std::size_t pixelBytes = channels_ * sampleBytes_;
    const std::size_t outRowBytes = outCols * pixelBytes;
    const std::uint64_t chunk = std::clamp<std::uint64_t>((std::uint64_t{1} << 20) / outRowBytes, 1, outRows);
    Buffer buffer(chunk * outRowBytes);
    const unsigned char* page = page_.data();
    auto fr = [&](std::uint64_t r) { return plan_.flipRows ? storedRows - 1 - r : r; };
    auto fc = [&](std::uint64_t c) { return plan_.flipCols ? storedCols - 1 - c : c; };
    for (std::uint64_t a0 = 0; a0 < outRows; a0 += chunk) {
        const std::uint64_t a1 = std::min(outRows, a0 + chunk);
        unsigned char* out = buffer.data();
        if (!plan_.swap) {
            for (std::uint64_t a = a0; a < a1; ++a) {
                unsigned char* row = out + (a - a0) * outRowBytes;
                std::memcpy(row, page + fr(a) * outRowBytes, outRowBytes);
                if (plan_.flipCols) reversePixels(row, outCols, pixelBytes);
            }
        } else {
            // Upright (a, b) is stored (fr(b), fc(a)): each stored row gives
            // one column of the chunk.
            for (std::uint64_t b = 0; b < outCols; ++b) {
                const unsigned char* from = page + fr(b) * storedCols * pixelBytes;
                for (std::uint64_t a = a0; a < a1; ++a)
                    std::memcpy(out + (a - a0) * outRowBytes + b * pixelBytes, from + fc(a) * pixelBytes,
                                pixelBytes);
            }
        }
        write_(out, static_cast<std::uint32_t>(a1 - a0));
    }
}

// "1.5 GiB", "320 MiB": one decimal below ten units.
std::string byteText(std::uint64_t bytes) {
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    char text[32];
    if (mib >= 1024.0)
        std::snprintf(text, sizeof text, mib >= 10240.0 ? "%.0f GiB" : "%.1f GiB", mib / 1024.0);
    else
        std::snprintf(text, sizeof text, mib >= 10.0 ? "%.0f MiB" : "%.1f MiB", mib);
    return text;
}

}  // namespace

MemoryBudgetError::MemoryBudgetError(std::uint64_t needed, std::uint64_t budget)
    : ToolError("resizing it as a stream needs about " + byteText(needed) + " of memory, and only " +
                byteText(budget) + " is available"),
      needed_(needed) {}

void resizeStream(const zuhost::Module& module, const PageShape& stored, int orientation,
                  const ResizePlan& uprightPlan, const ResampleOptions& options, WorkerPool* pool,
                  std::uint32_t bandRows, const RowSource& read, const RowSink& write,
                  std::uint64_t memoryBudget) {
    if (stored.width == 0 || stored.height == 0) throw ToolError("the page to resize is empty");
    if (stored.channels < 1 || stored.channels > 4)
        throw ToolError("a page of " + std::to_string(stored.channels) + " channels (1 to 4 are resized)");
    if (bandRows == 0) throw ToolError("the band height must be at least 1 row");
    if (options.linear && isSigned(stored.type) && !isFloat(stored.type))
        throw ToolError("linear light needs unsigned integer or float samples, and the image has " +
                        std::string(sampleTypeName(stored.type)) + " samples");
    StoredPlan plan = storedPlan(uprightPlan, stored.width, stored.height, orientation);
    const double fill = uprightPlan.fill != 0.0 ? heldFill(uprightPlan.fill, stored.type) : 0.0;
    const unsigned threads = pool != nullptr ? pool->threads() : 1;
    StreamEngine engine(module, stored, std::move(plan), options, fill, threads,
                        std::min<std::uint32_t>(bandRows, stored.height), read, write);
    // The buffers are taken but not yet touched, so a stream that would not
    // fit is refused here, before its memory is used.
    if (engine.heldBytes() > memoryBudget)
        throw MemoryBudgetError(engine.heldBytes(), memoryBudget);
    engine.run(pool);
}

std::uint32_t streamBandRows(const PageShape& stored, std::uint32_t hint) noexcept {
    // About 2^17 samples per band: a module call on it takes some hundred
    // microseconds against its few of setup. More only costs memory (the
    // ring holds a few bands more than the taps' reach, in double on the
    // double path), so a decoder's large strips are asked for in parts: the
    // least divisor of the hint that is enough, or a multiple of a small hint.
    const std::uint64_t rowSamples = std::max<std::uint64_t>(1, std::uint64_t{stored.width} * stored.channels);
    const std::uint64_t base = std::max<std::uint32_t>(1, hint);
    const std::uint64_t wanted =
        std::clamp<std::uint64_t>(((std::uint64_t{1} << 17) + rowSamples - 1) / rowSamples, 1, 256);
    std::uint64_t rows = (wanted + base - 1) / base * base;
    if (base > wanted) {
        rows = base;
        for (std::uint64_t d = wanted; d < base; ++d) {
            if (base % d == 0) {
                rows = d;
                break;
            }
        }
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, std::max<std::uint32_t>(1, stored.height)));
}

}  // namespace axiswarp::tools
