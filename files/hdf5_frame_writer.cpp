#include "files/hdf5_frame_writer.h"

#include <fcntl.h>
#include <hdf5.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <utility>
#include <vector>

#include "base/program_version.h"
#include "files/hdf5_objects.h"
#include "files/nexus_tree.h"

namespace ulvarin {
namespace {

using hdf5::Id;
using hdf5::NumberAttribute;
using hdf5::Space;
using hdf5::TextAttribute;
using hdf5::TextListAttribute;
using hdf5::TextType;
using hdf5::WriteAttribute;

constexpr int kDeflateLevel = 1;
constexpr hsize_t kSeriesChunk = 256;
// Room kept free on the disk beyond each frame: what the frame's series, the chunk index
// and closing the file (end time, end reason, title) may take. A frame that would leave
// less is not begun, so a full disk ends the run between frames and the file still closes.
constexpr off_t kCloseHeadroom = 256 * 1024;

// `startTime`: the moment timestamps count from.
bool WriteRunAttributes(hid_t file, const RunDescription& run, const std::string& startTime) {
    const ChipFamily family = run.layout.family;
    const int chips = run.layout.chipCount;
    const int dacCount = DacCountOf(family);
    std::vector<const char*> names;
    for (int d = 0; d < dacCount; ++d) names.push_back(DacNameOf(family, d));
    std::vector<uint16_t> dacs;
    std::vector<uint8_t> senses;
    for (const ChipDacRecord& record : run.dacs) {
        dacs.insert(dacs.end(), record.dac, record.dac + dacCount);
        senses.push_back(record.senseCode);
    }
    const int32_t chipCount = chips;
    bool ok = TextAttribute(file, "program_version", ProgramVersion()) &&
              TextAttribute(file, "start_time", startTime) &&
              TextAttribute(file, "device", run.deviceName) &&
              TextAttribute(file, "firmware", run.firmware) &&
              TextAttribute(file, "chip_type", ChipFamilyName(family)) &&
              NumberAttribute(file, "chip_count", H5T_NATIVE_INT32, &chipCount) &&
              TextAttribute(file, "chip_ids", run.chipIdText) &&
              TextListAttribute(file, "dac_names", names) &&
              NumberAttribute(file, "bias_volts", H5T_NATIVE_DOUBLE, &run.biasVolts) &&
              NumberAttribute(file, "dac0_volts", H5T_NATIVE_DOUBLE, &run.dac0Volts) &&
              NumberAttribute(file, "dac1_volts", H5T_NATIVE_DOUBLE, &run.dac1Volts);
    if (ok && !run.dacs.empty() && dacCount > 0) {
        const std::array<hsize_t, 2> dims{run.dacs.size(), static_cast<hsize_t>(dacCount)};
        ok = WriteAttribute(file, "dacs", H5T_NATIVE_UINT16, Space(dims).get(), dacs.data());
        const std::array<hsize_t, 1> senseDims{senses.size()};
        ok = ok && WriteAttribute(file, "sense_codes", H5T_NATIVE_UINT8, Space(senseDims).get(),
                                  senses.data());
    }
    const int64_t planned = run.expectedFrames, written = 0;
    ok = ok && NumberAttribute(file, "frames_planned", H5T_NATIVE_INT64, &planned) &&
         NumberAttribute(file, "frames_written", H5T_NATIVE_INT64, &written) &&
         TextAttribute(file, "end_reason", "running");
    if (ok && !run.scanDac.empty()) ok = TextAttribute(file, "scan_dac", run.scanDac);
    if (ok && !run.countModes.empty()) {
        std::vector<const char*> modes;
        for (const std::string& mode : run.countModes) modes.push_back(mode.c_str());
        ok = TextListAttribute(file, "count_mode", modes);
    }
    return ok;
}

// An extendible dataset of `rank` dimensions whose first grows by one per frame.
Id GrowingDataset(hid_t file, const char* name, hid_t type, std::span<const hsize_t> frameDims,
                  bool compress) {
    std::vector<hsize_t> dims{0}, maxDims{H5S_UNLIMITED};
    std::vector<hsize_t> chunk{frameDims.empty() ? kSeriesChunk : 1};
    for (hsize_t d : frameDims) {
        dims.push_back(d);
        maxDims.push_back(d);
        chunk.push_back(d);
    }
    Id props(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(props.get(), static_cast<int>(chunk.size()), chunk.data());
    if (compress) {
        H5Pset_shuffle(props.get());
        H5Pset_deflate(props.get(), static_cast<unsigned>(kDeflateLevel));
    }
    return {H5Dcreate2(file, name, type, Space(dims, maxDims).get(), H5P_DEFAULT, props.get(),
                       H5P_DEFAULT),
            H5Dclose};
}

// Writes one frame's worth (`values` of `frameDims`) at position `index` of the first
// dimension, growing the dataset to hold it.
bool WriteAt(hid_t dataset, hid_t memType, hsize_t index, std::span<const hsize_t> frameDims,
             const void* values) {
    std::vector<hsize_t> extent{index + 1}, start{index}, count{1};
    for (hsize_t d : frameDims) {
        extent.push_back(d);
        start.push_back(0);
        count.push_back(d);
    }
    if (H5Dset_extent(dataset, extent.data()) < 0) return false;
    Id fileSpace(H5Dget_space(dataset), H5Sclose);
    if (H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start.data(), nullptr, count.data(),
                            nullptr) < 0)
        return false;
    Id memSpace = Space(std::span<const hsize_t>(count));
    return H5Dwrite(dataset, memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, values) >= 0;
}

// Compresses one frame as the dataset's filters would (byte shuffle, then deflate), so the
// chunk is written as it is and any reader decodes it with the standard filters. Deflate
// runs with its run-length strategy: on shuffled counts, whose high bytes are mostly zero
// runs, it compresses about as well as the default strategy in a fraction of the time,
// which keeps a four-chip run well above 100 frames per second on one core.
class ChunkCompressor {
public:
    // False when zlib fails (never expected for a buffer of the bound's size).
    bool Compress(std::span<const uint32_t> values) {
        const size_t n = values.size();
        shuffled_.resize(n * sizeof(uint32_t));
        const auto* bytes = reinterpret_cast<const uint8_t*>(values.data());
        for (size_t b = 0; b < sizeof(uint32_t); ++b) {
            uint8_t* plane = shuffled_.data() + b * n;
            for (size_t i = 0; i < n; ++i) plane[i] = bytes[i * sizeof(uint32_t) + b];
        }
        z_stream z{};
        if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return false;
        compressed_.resize(deflateBound(&z, static_cast<uLong>(shuffled_.size())));
        z.next_in = shuffled_.data();
        z.avail_in = static_cast<uInt>(shuffled_.size());
        z.next_out = compressed_.data();
        z.avail_out = static_cast<uInt>(compressed_.size());
        const int result = deflate(&z, Z_FINISH);
        compressed_.resize(z.total_out);
        deflateEnd(&z);
        return result == Z_STREAM_END;
    }
    const std::vector<uint8_t>& chunk() const { return compressed_; }

private:
    std::vector<uint8_t> shuffled_;
    std::vector<uint8_t> compressed_;
};

// The growing datasets of a run file.
struct RunDatasets {
    Id frames, exposure, timestamp;
    Id scanValues;   // a scan's
    Id frameNumber;  // an acquisition's (files written before it existed have none)
};

RunDatasets CreateDatasets(hid_t file, std::span<const hsize_t> frameDims,
                           const std::string& scanDac) {
    const bool scan = !scanDac.empty();
    RunDatasets sets;
    sets.frames = GrowingDataset(file, "frames", H5T_STD_U32LE, frameDims, true);
    sets.exposure = GrowingDataset(file, "exposure", H5T_IEEE_F64LE, {}, false);
    sets.timestamp = GrowingDataset(file, "timestamp", H5T_IEEE_F64LE, {}, false);
    if (scan)
        sets.scanValues = GrowingDataset(file, "scan_values", H5T_STD_I32LE, {}, false);
    else
        sets.frameNumber = GrowingDataset(file, "frame_number", H5T_STD_I64LE, {}, false);
    for (const Id* set : {&sets.exposure, &sets.timestamp})
        if (set->ok()) TextAttribute(set->get(), "units", "s");
    if (sets.frames.ok()) {
        TextAttribute(sets.frames.get(), "units", "counts");
        TextAttribute(sets.frames.get(), "interpretation", "image");
    }
    // The axis a viewer labels the stack by: the scanned DAC's name in its own units (the
    // DAC's digital steps), or the frame's number.
    if (sets.scanValues.ok()) {
        TextAttribute(sets.scanValues.get(), "long_name", scanDac + " (DAC steps)");
        TextAttribute(sets.scanValues.get(), "units", "DAC steps");
    }
    if (sets.frameNumber.ok()) TextAttribute(sets.frameNumber.get(), "long_name", "frame number");
    return sets;
}

Id OpenDataset(hid_t file, const char* name) {
    if (H5Lexists(file, name, H5P_DEFAULT) <= 0) return {};
    return {H5Dopen2(file, name, H5P_DEFAULT), H5Dclose};
}

std::vector<hsize_t> DimsOf(const Id& dataset, bool maximum = false) {
    Id space(H5Dget_space(dataset.get()), H5Sclose);
    const int rank = space.ok() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    std::vector<hsize_t> dims(static_cast<size_t>(std::max(rank, 0)));
    std::vector<hsize_t> maxDims(dims.size());
    if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims.data(), maxDims.data());
    return maximum ? maxDims : dims;
}

// A text attribute of the root group ("" when missing or not text).
std::string ReadTextAttribute(hid_t file, const char* name) {
    if (H5Aexists(file, name) <= 0) return {};
    Id attr(H5Aopen(file, name, H5P_DEFAULT), H5Aclose);
    char* value = nullptr;
    std::string text;
    if (attr.ok() && H5Aread(attr.get(), TextType().get(), &value) >= 0 && value != nullptr) {
        text = value;
        H5free_memory(value);
    }
    return text;
}

// A whole-number attribute of the root group, or `otherwise` when it is missing.
int64_t ReadNumberAttribute(hid_t file, const char* name, int64_t otherwise) {
    if (H5Aexists(file, name) <= 0) return otherwise;
    Id attr(H5Aopen(file, name, H5P_DEFAULT), H5Aclose);
    int64_t value = otherwise;
    if (!attr.ok() || H5Aread(attr.get(), H5T_NATIVE_INT64, &value) < 0) return otherwise;
    return value;
}

// Writes a root attribute in place when it exists (which readers following the file take),
// else creates it.
bool SetAttribute(hid_t file, const char* name, hid_t type, const void* value) {
    if (H5Aexists(file, name) <= 0) return NumberAttribute(file, name, type, value);
    Id attr(H5Aopen(file, name, H5P_DEFAULT), H5Aclose);
    return attr.ok() && H5Awrite(attr.get(), type, value) >= 0;
}

bool SetTextAttribute(hid_t file, const char* name, const std::string& text) {
    if (H5Aexists(file, name) <= 0) return TextAttribute(file, name, text);
    Id attr(H5Aopen(file, name, H5P_DEFAULT), H5Aclose);
    const char* data = text.c_str();
    return attr.ok() && H5Awrite(attr.get(), TextType().get(), &data) >= 0;
}

// ": " and the library's own description of the last failure, or "".
std::string ReasonText() {
    const std::string text = hdf5::LastErrorText();
    return text.empty() ? text : ": " + text;
}

// Why a file could not be opened or created: the system's reason, except for a lock held
// by another program (where the system only says "try again"), then the library's own.
std::string OpenFailureReason() {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ": it is open in another program";
    if (errno != 0) return SystemReason(errno);
    return ReasonText();
}

int32_t ReadChipCount(hid_t file) {
    int32_t count = -1;
    if (H5Aexists(file, "chip_count") <= 0) return count;
    Id attr(H5Aopen(file, "chip_count", H5P_DEFAULT), H5Aclose);
    if (attr.ok()) H5Aread(attr.get(), H5T_NATIVE_INT32, &count);
    return count;
}

// The last value of a one-dimensional series as `memType`; false when it holds none.
bool ReadLast(const Id& dataset, hid_t memType, void* value) {
    const std::vector<hsize_t> dims = DimsOf(dataset);
    if (dims.size() != 1 || dims[0] == 0) return false;
    Id fileSpace(H5Dget_space(dataset.get()), H5Sclose);
    const hsize_t start = dims[0] - 1, count = 1;
    if (H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &count, nullptr) < 0)
        return false;
    Id memSpace = Space(std::span<const hsize_t>(&count, 1));
    return H5Dread(dataset.get(), memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, value) >=
           0;
}

// Seconds since the epoch of a time as the run files write it (UTC, ISO 8601); NaN when
// it does not read as one.
double UtcSeconds(const std::string& text) {
    std::tm utc{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    if (end == nullptr || *end != 0) return std::nan("");
    return static_cast<double>(timegm(&utc));
}

bool TypeIs(const Id& dataset, hid_t expected) {
    Id type(H5Dget_type(dataset.get()), H5Tclose);
    return type.ok() && H5Tequal(type.get(), expected) > 0;
}

// True when the frames are stored as this writer stores them: one frame per chunk,
// shuffled, then deflated. Frames are written as ready-made chunks, so anything else would
// be read back as garbage.
bool FramesStoredAsWritten(const Id& frames, std::span<const hsize_t> frameDims) {
    Id props(H5Dget_create_plist(frames.get()), H5Pclose);
    if (!props.ok() || H5Pget_layout(props.get()) != H5D_CHUNKED) return false;
    std::array<hsize_t, 3> chunk{};
    if (H5Pget_chunk(props.get(), 3, chunk.data()) != 3 || chunk[0] != 1 ||
        chunk[1] != frameDims[0] || chunk[2] != frameDims[1])
        return false;
    if (H5Pget_nfilters(props.get()) != 2) return false;
    const std::array<H5Z_filter_t, 2> expected{H5Z_FILTER_SHUFFLE, H5Z_FILTER_DEFLATE};
    for (unsigned i = 0; i < 2; ++i) {
        unsigned flags = 0;
        size_t values = 0;
        if (H5Pget_filter2(props.get(), i, &flags, &values, nullptr, 0, nullptr, nullptr) !=
            expected[i])
            return false;
    }
    return true;
}

// Why frames of `run` cannot be added to the run file `file` holding `sets`; "" when they
// can: a run of the same kind (an acquisition, or a scan of the same DAC), chips, element
// types and storage.
std::string AppendRefusal(hid_t file, const RunDescription& run, const RunDatasets& sets) {
    if (!sets.frames.ok() || !sets.exposure.ok() || !sets.timestamp.ok())
        return "it holds no run of frames";
    const std::string fileDac = ReadTextAttribute(file, "scan_dac");
    if (run.scanDac.empty() && (!fileDac.empty() || sets.scanValues.ok()))
        return "it is a scan of " + (fileDac.empty() ? std::string("a DAC") : fileDac) +
               ", not an acquisition";
    if (!run.scanDac.empty() && (fileDac.empty() || !sets.scanValues.ok()))
        return "it is an acquisition, not a scan of " + run.scanDac;
    if (fileDac != run.scanDac) return "it is a scan of " + fileDac + ", not of " + run.scanDac;
    const ImageGeometry g = GeometryFor(run.layout.chipCount);
    const std::array<hsize_t, 2> frameDims{g.height(), g.width()};
    const std::vector<hsize_t> dims = DimsOf(sets.frames);
    // Frames of another layout would be written through the wrong image map.
    if (ReadChipCount(file) != run.layout.chipCount ||
        ReadTextAttribute(file, "chip_type") != ChipFamilyName(run.layout.family) ||
        dims.size() != 3 || dims[1] != frameDims[0] || dims[2] != frameDims[1])
        return "it holds frames of another layout";
    const Id& axis = sets.scanValues.ok() ? sets.scanValues : sets.frameNumber;
    if (!TypeIs(sets.frames, H5T_STD_U32LE) || !TypeIs(sets.exposure, H5T_IEEE_F64LE) ||
        !TypeIs(sets.timestamp, H5T_IEEE_F64LE) ||
        (sets.scanValues.ok() && !TypeIs(sets.scanValues, H5T_STD_I32LE)) ||
        (sets.frameNumber.ok() && !TypeIs(sets.frameNumber, H5T_STD_I64LE)))
        return "its frames or series are of another element type";
    if (!FramesStoredAsWritten(sets.frames, frameDims))
        return "its frames are stored with another chunking or compression";
    for (const Id* set : {&sets.frames, &sets.exposure, &sets.timestamp, &axis}) {
        if (!set->ok()) continue;
        const std::vector<hsize_t> maxDims = DimsOf(*set, true);
        if (maxDims.empty() || maxDims[0] != H5S_UNLIMITED) return "its frames cannot grow";
        if (DimsOf(*set)[0] != dims[0]) return "its series do not hold one value per frame";
    }
    return {};
}

RunDatasets OpenDatasets(hid_t file) {
    RunDatasets sets;
    sets.frames = OpenDataset(file, "frames");
    sets.exposure = OpenDataset(file, "exposure");
    sets.timestamp = OpenDataset(file, "timestamp");
    sets.scanValues = OpenDataset(file, "scan_values");
    sets.frameNumber = OpenDataset(file, "frame_number");
    return sets;
}

// Where a writer carries on in a file: frames in it, and what numbers and times go on from.
struct Continuation {
    int64_t frames = 0;
    int64_t lastNumber = 0;
    double timeBase = 0;  // added to each new frame's timestamp
    int64_t planned = 0;  // frames the earlier runs planned
};

class Hdf5FrameWriter final : public FrameWriter {
public:
    Hdf5FrameWriter(Id file, RunFileTarget target, const RunDescription& run, RunDatasets sets,
                    const Continuation& before)
        : file_(std::move(file)),
          target_(std::move(target)),
          layout_(run.layout),
          scanDac_(run.scanDac),
          plannedNow_(run.expectedFrames),
          frameDims_{GeometryFor(layout_.chipCount).height(),
                     GeometryFor(layout_.chipCount).width()},
          image_(GeometryFor(layout_.chipCount).pixels()),
          sets_(std::move(sets)),
          before_(before) {}
    ~Hdf5FrameWriter() override { Close(); }

    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return Fail("The HDF5 file is closed.");
        if (counts.size() < layout_.pixelsInUse()) return Fail("Too few values for a frame.");
        ImageOrderCounts(counts, layout_, image_);
        if (!compressor_.Compress(image_)) return Fail("Compressing a frame failed.");
        const auto index = static_cast<hsize_t>(before_.frames + frames_);
        errno = 0;
        if (const int error = Reserve(compressor_.chunk().size()); error != 0)
            return Fail("Writing a frame to the HDF5 file failed", error);
        const double timestamp = before_.timeBase + info.timestamp;
        const int64_t number = before_.lastNumber + (info.number > 0 ? info.number : frames_ + 1);
        bool ok = WriteFrameChunk(index) &&
                  WriteAt(sets_.exposure.get(), H5T_NATIVE_DOUBLE, index, {}, &info.exposure) &&
                  WriteAt(sets_.timestamp.get(), H5T_NATIVE_DOUBLE, index, {}, &timestamp);
        if (ok && sets_.scanValues.ok())
            ok = WriteAt(sets_.scanValues.get(), H5T_NATIVE_INT32, index, {}, &info.dacValue);
        if (ok && sets_.frameNumber.ok())
            ok = WriteAt(sets_.frameNumber.get(), H5T_NATIVE_INT64, index, {}, &number);
        // Flushed so that a run cut after this frame still leaves a file that opens.
        if (ok && H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0) ok = false;
        if (!ok) {
            const int error = errno;
            ShrinkTo(index);  // every frame counted stays whole: series as long as the stack
            return Fail("Writing a frame to the HDF5 file failed", error);
        }
        ++frames_;
        return true;
    }

    // The root attribute frames_dropped; a file appended to gets the new count.
    bool RecordDroppedFrames(int64_t count) override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return Fail("The HDF5 file is closed.");
        if (!SetAttribute(file_.get(), "frames_dropped", H5T_NATIVE_INT64, &count))
            return Fail("Recording the dropped frames in the HDF5 file failed.");
        return true;
    }

    bool Close() override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return error_.empty();
        const bool ended = WriteEnd();
        // Every dataset closes before the file, and the file's close is checked: a file
        // left open would be flushed again as the library shuts down at exit.
        sets_ = RunDatasets();
        const bool closed = H5Fclose(file_.release()) >= 0;
        if (!ended && error_.empty())
            error_ = "Writing the end of the run to the HDF5 file failed.";
        if (!closed && error_.empty()) error_ = "Closing the HDF5 file failed" + ReasonText() + ".";
        std::string error;
        if (closed && !target_.Commit(error) && error_.empty()) error_ = error;
        return error_.empty();
    }

private:
    bool Fail(const char* text) {
        error_ = text;
        return false;
    }
    // The same with the system's reason, when it gave one.
    bool Fail(const char* text, int error) {
        error_ = text + SystemReason(error) + ".";
        return false;
    }

    // Makes sure the disk has room for `bytes` more and the headroom after them; 0, or the
    // system's reason when it has not (a full disk, a file size limit).
    int Reserve(size_t bytes) {
        haddr_t end = 0;
        void* handle = nullptr;
        if (H5Fget_eoa(file_.get(), &end) < 0 ||
            H5Fget_vfd_handle(file_.get(), H5P_DEFAULT, &handle) < 0 || handle == nullptr)
            return 0;  // no way to ask: the write itself tells
        const int fd = *static_cast<int*>(handle);
        const int error = posix_fallocate(fd, static_cast<off_t>(end),
                                          static_cast<off_t>(bytes) + kCloseHeadroom);
        return error == EINVAL || error == EOPNOTSUPP ? 0 : error;
    }

    // Sets every growing dataset back to `frames` frames after a failed write.
    void ShrinkTo(hsize_t frames) {
        for (const Id* set : {&sets_.frames, &sets_.exposure, &sets_.timestamp, &sets_.scanValues,
                              &sets_.frameNumber}) {
            if (!set->ok()) continue;
            std::vector<hsize_t> dims = DimsOf(*set);
            if (dims.empty() || dims[0] <= frames) continue;
            dims[0] = frames;
            H5Dset_extent(set->get(), dims.data());
        }
        H5Fflush(file_.get(), H5F_SCOPE_LOCAL);
    }

    // Grows the stack by one frame and writes the compressed image as its chunk.
    bool WriteFrameChunk(hsize_t index) {
        const std::array<hsize_t, 3> extent{index + 1, frameDims_[0], frameDims_[1]};
        const std::array<hsize_t, 3> offset{index, 0, 0};
        const std::vector<uint8_t>& chunk = compressor_.chunk();
        return H5Dset_extent(sets_.frames.get(), extent.data()) >= 0 &&
               H5Dwrite_chunk(sets_.frames.get(), H5P_DEFAULT, 0, offset.data(), chunk.size(),
                              chunk.data()) >= 0;
    }

    // Records how the run ended: frames planned and written, the end reason, a title that
    // claims no more than was written, and the end time.
    bool WriteEnd() {
        Reserve(0);  // the room left by the last frame; a write that fails is told below
        const int64_t written = before_.frames + frames_;
        const int64_t planned = before_.planned + std::max(plannedNow_, 0);
        const std::string reason = EndReason(plannedNow_);
        const hid_t f = file_.get();
        return SetAttribute(f, "frames_planned", H5T_NATIVE_INT64, &planned) &&
               SetAttribute(f, "frames_written", H5T_NATIVE_INT64, &written) &&
               SetTextAttribute(f, "end_reason", reason) &&
               WriteNexusEnd(f, RunTitle(scanDac_, planned, written, reason));
    }

    Id file_;
    RunFileTarget target_;
    ChipLayout layout_;
    std::string scanDac_;
    int plannedNow_;  // frames this run is to take; 0 when not known
    std::array<hsize_t, 2> frameDims_;
    std::vector<uint32_t> image_;
    ChunkCompressor compressor_;
    RunDatasets sets_;
    Continuation before_;
};

// Opens `path` read-only to look at it: in the followable mode (which a run killed while
// written needs), else plainly.
Id OpenToRead(const std::string& path) {
    Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ,
                    hdf5::FollowableFileAccess().get()),
            H5Fclose);
    if (!file.ok()) file = Id(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    return file;
}

// Where frames added to `file` carry on from.
Continuation ContinuationOf(hid_t file, const RunDatasets& sets) {
    Continuation c;
    c.frames = static_cast<int64_t>(DimsOf(sets.frames)[0]);
    c.lastNumber = c.frames;
    if (sets.frameNumber.ok()) ReadLast(sets.frameNumber, H5T_NATIVE_INT64, &c.lastNumber);
    // Times count from the file's start: the time since then, and never less than the
    // last frame's.
    double last = 0;
    ReadLast(sets.timestamp, H5T_NATIVE_DOUBLE, &last);
    const double since =
        static_cast<double>(std::time(nullptr)) - UtcSeconds(ReadTextAttribute(file, "start_time"));
    c.timeBase = std::isfinite(since) ? std::max(since, last) : last;
    c.planned = ReadNumberAttribute(file, "frames_planned", c.frames);
    return c;
}

}  // namespace

std::unique_ptr<FrameWriter> OpenHdf5FrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error) {
    std::lock_guard lock(hdf5::LibraryMutex());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // failures are told through `error`
    RunFileTarget target;
    if (!target.Open(path, "the HDF5 file", error)) return nullptr;
    errno = 0;
    Id file(H5Fcreate(target.writePath().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT,
                      hdf5::FollowableFileAccess().get()),
            H5Fclose);
    if (!file.ok()) {
        error = "Cannot create the HDF5 file " + path + OpenFailureReason();
        return nullptr;
    }
    const std::string startTime = UtcNow();
    if (!WriteRunAttributes(file.get(), run, startTime)) {
        error = "Writing the settings to the HDF5 file failed: " + path;
        return nullptr;
    }
    const ImageGeometry g = GeometryFor(run.layout.chipCount);
    const std::array<hsize_t, 2> frameDims{g.height(), g.width()};
    const bool scan = !run.scanDac.empty();
    RunDatasets sets = CreateDatasets(file.get(), frameDims, run.scanDac);
    if (!sets.frames.ok() || !sets.exposure.ok() || !sets.timestamp.ok() ||
        (scan ? !sets.scanValues.ok() : !sets.frameNumber.ok()) ||
        !WriteNexusTree(file.get(), run, startTime) || H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0) {
        error = "Creating the datasets of the HDF5 file failed: " + path;
        return nullptr;
    }
    // From here on other programs may open the file (read-only, in the same mode) and
    // follow the frames as they are flushed; the tree above is complete before they can.
    if (H5Fstart_swmr_write(file.get()) < 0) {
        error = "Opening the HDF5 file to readers failed: " + path + ReasonText();
        return nullptr;
    }
    return std::make_unique<Hdf5FrameWriter>(std::move(file), std::move(target), run,
                                             std::move(sets), Continuation{});
}

std::unique_ptr<FrameWriter> ReopenHdf5RunFile(const std::string& path, const RunDescription& run,
                                               std::string& error) {
    std::lock_guard lock(hdf5::LibraryMutex());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const std::string refused = "Cannot add to " + path + ": ";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
        error = refused + "it is empty, not an HDF5 run file.";
        return nullptr;
    }
    RunFileTarget target;
    if (!target.OpenExisting(path, error)) return nullptr;
    // Everything is checked with the file open read-only: a file refused is left as it was.
    {
        errno = 0;
        const Id file = OpenToRead(path);
        if (!file.ok()) {
            error = "Cannot reopen the HDF5 run file " + path + OpenFailureReason();
            return nullptr;
        }
        if (const std::string why = AppendRefusal(file.get(), run, OpenDatasets(file.get()));
            !why.empty()) {
            error = refused + why + ".";
            return nullptr;
        }
    }
    errno = 0;
    // Run files written in the followable format are continued in it; older ones plainly.
    Id file(H5Fopen(path.c_str(), H5F_ACC_RDWR | H5F_ACC_SWMR_WRITE,
                    hdf5::FollowableFileAccess().get()),
            H5Fclose);
    if (!file.ok()) {
        errno = 0;
        file = Id(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    }
    if (!file.ok()) {
        error = "Cannot reopen the HDF5 run file " + path + OpenFailureReason();
        return nullptr;
    }
    RunDatasets sets = OpenDatasets(file.get());
    const Continuation before = ContinuationOf(file.get(), sets);
    return std::make_unique<Hdf5FrameWriter>(std::move(file), std::move(target), run,
                                             std::move(sets), before);
}

std::unique_ptr<FrameWriter> ReopenHdf5RunFile(const std::string& path, const ChipLayout& layout,
                                               std::string& error) {
    RunDescription acquisition;
    acquisition.layout = layout;
    return ReopenHdf5RunFile(path, acquisition, error);
}

}  // namespace ulvarin
