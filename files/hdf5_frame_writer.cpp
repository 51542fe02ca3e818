#include "files/hdf5_frame_writer.h"

#include <hdf5.h>
#include <zlib.h>

#include <array>
#include <cerrno>
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

RunDatasets CreateDatasets(hid_t file, std::span<const hsize_t> frameDims, bool scan) {
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
    return sets;
}

Id OpenDataset(hid_t file, const char* name) {
    return {H5Dopen2(file, name, H5P_DEFAULT), H5Dclose};
}

std::vector<hsize_t> DimsOf(const Id& dataset) {
    Id space(H5Dget_space(dataset.get()), H5Sclose);
    const int rank = space.ok() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    std::vector<hsize_t> dims(static_cast<size_t>(std::max(rank, 0)));
    if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr);
    return dims;
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

class Hdf5FrameWriter final : public FrameWriter {
public:
    // Writes into `sets` of `file` after the `framesBefore` frames they hold.
    Hdf5FrameWriter(Id file, const ChipLayout& layout, RunDatasets sets, int framesBefore)
        : file_(std::move(file)),
          layout_(layout),
          frameDims_{GeometryFor(layout.chipCount).height(), GeometryFor(layout.chipCount).width()},
          image_(GeometryFor(layout.chipCount).pixels()),
          sets_(std::move(sets)) {
        frames_ = framesBefore;
    }
    ~Hdf5FrameWriter() override { Close(); }

    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return Fail("The HDF5 file is closed.");
        if (counts.size() < layout_.pixelsInUse()) return Fail("Too few values for a frame.");
        ImageOrderCounts(counts, layout_, image_);
        const auto index = static_cast<hsize_t>(frames_);
        errno = 0;
        bool ok = WriteFrameChunk(index) &&
                  WriteAt(sets_.exposure.get(), H5T_NATIVE_DOUBLE, index, {}, &info.exposure) &&
                  WriteAt(sets_.timestamp.get(), H5T_NATIVE_DOUBLE, index, {}, &info.timestamp);
        if (ok && sets_.scanValues.ok())
            ok = WriteAt(sets_.scanValues.get(), H5T_NATIVE_INT32, index, {}, &info.dacValue);
        const int64_t number = info.number > 0 ? info.number : frames_ + 1;
        if (ok && sets_.frameNumber.ok())
            ok = WriteAt(sets_.frameNumber.get(), H5T_NATIVE_INT64, index, {}, &number);
        if (!ok) return Fail("Writing a frame to the HDF5 file failed", errno);
        // Flushed so that a run cut after this frame still leaves a file that opens.
        if (H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0)
            return Fail("Flushing the HDF5 file failed", errno);
        ++frames_;
        return true;
    }

    // The root attribute frames_dropped; a file appended to gets the new count.
    bool RecordDroppedFrames(int64_t count) override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return Fail("The HDF5 file is closed.");
        // Written in place when it exists, which readers following the file can take.
        bool ok = false;
        if (H5Aexists(file_.get(), "frames_dropped") > 0) {
            Id attr(H5Aopen(file_.get(), "frames_dropped", H5P_DEFAULT), H5Aclose);
            ok = attr.ok() && H5Awrite(attr.get(), H5T_NATIVE_INT64, &count) >= 0;
        } else {
            ok = NumberAttribute(file_.get(), "frames_dropped", H5T_NATIVE_INT64, &count);
        }
        if (!ok) return Fail("Recording the dropped frames in the HDF5 file failed.");
        return true;
    }

    bool Close() override {
        std::lock_guard lock(hdf5::LibraryMutex());
        if (!file_.ok()) return error_.empty();
        sets_ = RunDatasets();
        if (!WriteNexusEndTime(file_.get()) && error_.empty())
            error_ = "Writing the end time to the HDF5 file failed.";
        if (H5Fclose(file_.release()) < 0 && error_.empty())
            error_ = "Closing the HDF5 file failed.";
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

    // Grows the stack by one frame and writes image_ as its compressed chunk.
    bool WriteFrameChunk(hsize_t index) {
        if (!compressor_.Compress(image_)) return false;
        const std::array<hsize_t, 3> extent{index + 1, frameDims_[0], frameDims_[1]};
        const std::array<hsize_t, 3> offset{index, 0, 0};
        const std::vector<uint8_t>& chunk = compressor_.chunk();
        return H5Dset_extent(sets_.frames.get(), extent.data()) >= 0 &&
               H5Dwrite_chunk(sets_.frames.get(), H5P_DEFAULT, 0, offset.data(), chunk.size(),
                              chunk.data()) >= 0;
    }

    Id file_;
    ChipLayout layout_;
    std::array<hsize_t, 2> frameDims_;
    std::vector<uint32_t> image_;
    ChunkCompressor compressor_;
    RunDatasets sets_;
};

}  // namespace

std::unique_ptr<FrameWriter> OpenHdf5FrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error) {
    std::lock_guard lock(hdf5::LibraryMutex());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // failures are told through `error`
    errno = 0;
    Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, hdf5::FollowableFileAccess().get()),
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
    RunDatasets sets = CreateDatasets(file.get(), frameDims, scan);
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
    return std::make_unique<Hdf5FrameWriter>(std::move(file), run.layout, std::move(sets), 0);
}

std::unique_ptr<FrameWriter> ReopenHdf5RunFile(const std::string& path, const ChipLayout& layout,
                                               std::string& error) {
    std::lock_guard lock(hdf5::LibraryMutex());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
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
    RunDatasets sets;
    sets.frames = OpenDataset(file.get(), "frames");
    sets.exposure = OpenDataset(file.get(), "exposure");
    sets.timestamp = OpenDataset(file.get(), "timestamp");
    if (H5Lexists(file.get(), "scan_values", H5P_DEFAULT) > 0)
        sets.scanValues = OpenDataset(file.get(), "scan_values");
    if (H5Lexists(file.get(), "frame_number", H5P_DEFAULT) > 0)
        sets.frameNumber = OpenDataset(file.get(), "frame_number");
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const std::vector<hsize_t> dims = DimsOf(sets.frames);
    // Frames of another layout would be written through the wrong image map.
    if (ReadChipCount(file.get()) != layout.chipCount ||
        ReadTextAttribute(file.get(), "chip_type") != ChipFamilyName(layout.family) ||
        dims.size() != 3 || dims[1] != g.height() || dims[2] != g.width() ||
        DimsOf(sets.exposure) != std::vector<hsize_t>{dims[0]} ||
        DimsOf(sets.timestamp) != std::vector<hsize_t>{dims[0]}) {
        error = "The HDF5 run file " + path + " holds frames of another layout";
        return nullptr;
    }
    return std::make_unique<Hdf5FrameWriter>(std::move(file), layout, std::move(sets),
                                             static_cast<int>(dims[0]));
}

}  // namespace ulvarin
