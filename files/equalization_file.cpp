#include "files/equalization_file.h"

#include <hdf5.h>

#include <array>
#include <cerrno>
#include <vector>

#include "files/hdf5_objects.h"
#include "files/nexus_tree.h"

namespace ulvarin {
namespace {

using namespace hdf5;

constexpr unsigned kDeflateLevel = 1;

// A per-pixel array (pixel index order) in the image layout, as the frames are stored.
template <typename T>
std::vector<T> InImageOrder(std::span<const T> perPixel, const ChipLayout& layout) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    std::vector<T> image(g.pixels());
    for (uint32_t i = 0; i < g.pixels(); ++i) image[i] = perPixel[ImageIndexToPixel(i, layout)];
    return image;
}

bool SetUnits(hid_t at, const char* name, const char* units) {
    Id set(H5Dopen2(at, name, H5P_DEFAULT), H5Dclose);
    return set.ok() && TextAttribute(set.get(), "units", units);
}

class Hdf5EqualizationFile final : public EqualizationFile {
public:
    Hdf5EqualizationFile(Id file, Id entry, const RunDescription& run)
        : file_(std::move(file)), entry_(std::move(entry)), run_(run) {}
    ~Hdf5EqualizationFile() override {
        std::lock_guard lock(LibraryMutex());
        entry_ = Id();
        file_ = Id();
    }

    bool AddScan(const char* name, std::span<const int> values, const StepCounts& counts) override {
        std::lock_guard lock(LibraryMutex());
        const Id group = NexusGroup(entry_.get(), name, "NXdata");
        const ImageGeometry g = GeometryFor(run_.layout.chipCount);
        const auto steps = static_cast<hsize_t>(values.size());
        const std::array<hsize_t, 3> dims{steps, g.height(), g.width()};
        const std::array<hsize_t, 3> chunk{1, g.height(), g.width()};
        Id props(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        H5Pset_chunk(props.get(), 3, chunk.data());
        H5Pset_shuffle(props.get());
        H5Pset_deflate(props.get(), kDeflateLevel);
        Id frames;
        if (group.ok())
            frames = Id(H5Dcreate2(group.get(), "frames", H5T_STD_U16LE, Space(dims).get(),
                                   H5P_DEFAULT, props.get(), H5P_DEFAULT),
                        H5Dclose);
        const std::vector<const char*> axes{"values", ".", "."};
        const int32_t first = 0;
        const std::array<hsize_t, 1> valueDims{steps};
        bool ok = frames.ok() && TextAttribute(group.get(), "signal", "frames") &&
                  TextListAttribute(group.get(), "axes", axes) &&
                  NumberAttribute(group.get(), "values_indices", H5T_NATIVE_INT32, &first) &&
                  ArrayDataset(group.get(), "values", H5T_STD_I32LE, H5T_NATIVE_INT, valueDims,
                               values.data()) &&
                  TextAttribute(frames.get(), "units", "counts");
        for (hsize_t step = 0; ok && step < steps; ++step) {
            const std::vector<uint16_t> image =
                InImageOrder(counts(static_cast<int>(step)), run_.layout);
            Id fileSpace(H5Dget_space(frames.get()), H5Sclose);
            const std::array<hsize_t, 3> start{step, 0, 0};
            ok = H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start.data(), nullptr,
                                     chunk.data(), nullptr) >= 0 &&
                 H5Dwrite(frames.get(), H5T_NATIVE_UINT16, Space(chunk).get(), fileSpace.get(),
                          H5P_DEFAULT, image.data()) >= 0;
        }
        return ok && Flush() ? true : Fail("Writing the scan to the equalisation file failed");
    }

    bool Finish(const EqualizationResult& result) override {
        std::lock_guard lock(LibraryMutex());
        const bool ok = WriteMaps(result) && WriteFigures(result) &&
                        WriteNexusEndTime(file_.get()) && Flush();
        entry_ = Id();
        errno = 0;
        const bool closed = H5Fclose(file_.release()) >= 0;
        if (!ok) return Fail("Writing the equalisation results failed");
        return closed ? true : Fail("Closing the equalisation file failed");
    }

    const std::string& error() const override { return error_; }

private:
    bool Fail(const char* text) {
        error_ = text + SystemReason(errno) + ".";
        return false;
    }
    bool Flush() { return H5Fflush(file_.get(), H5F_SCOPE_LOCAL) >= 0; }

    template <typename T>
    bool Map(hid_t group, const char* name, hid_t fileType, hid_t memType,
             const std::vector<T>& perPixel) {
        const ImageGeometry g = GeometryFor(run_.layout.chipCount);
        const std::array<hsize_t, 2> dims{g.height(), g.width()};
        const std::vector<T> image = InImageOrder(std::span<const T>(perPixel), run_.layout);
        return perPixel.size() >= run_.layout.pixelsInUse() &&
               ArrayDataset(group, name, fileType, memType, dims, image.data());
    }

    bool WriteMaps(const EqualizationResult& r) {
        const Id group = NexusGroup(entry_.get(), "thresholds", "NXdata");
        if (!group.ok()) return false;
        const hid_t g = group.get();
        std::vector<uint8_t> outcome(r.outcome.size());
        for (size_t i = 0; i < outcome.size(); ++i) outcome[i] = static_cast<uint8_t>(r.outcome[i]);
        const std::vector<const char*> auxiliary{"before"};
        bool ok = TextAttribute(g, "signal", "after") &&
                  TextListAttribute(g, "auxiliary_signals", auxiliary) &&
                  Map(g, "after", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, r.after) &&
                  Map(g, "before", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, r.before) &&
                  Map(g, "edge_lowest_adjust", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, r.edgeLowest) &&
                  Map(g, "edge_highest_adjust", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, r.edgeHighest) &&
                  Map(g, "adjust", H5T_STD_U8LE, H5T_NATIVE_UINT8, r.adjust) &&
                  Map(g, "outcome", H5T_STD_U8LE, H5T_NATIVE_UINT8, outcome);
        for (const char* name : {"after", "before", "edge_lowest_adjust", "edge_highest_adjust"})
            ok = ok && SetUnits(g, name, "DAC");
        Id set(H5Dopen2(g, "outcome", H5P_DEFAULT), H5Dclose);
        return ok && TextAttribute(set.get(), "legend",
                                   "0 equalized, 1 masked before, 2 no edge in the range, "
                                   "3 out of the adjustment's reach");
    }

    bool WriteFigures(const EqualizationResult& r) {
        const Id group = NexusGroup(entry_.get(), "equalization", "NXcollection");
        if (!group.ok()) return false;
        const hid_t g = group.get();
        std::vector<double> target, before, after;
        std::vector<int32_t> equalized, unequalizable;
        for (const ChipEqualization& c : r.chips) {
            target.push_back(c.target);
            before.push_back(c.spreadBefore);
            after.push_back(c.spreadAfter);
            equalized.push_back(c.equalized);
            unequalizable.push_back(c.unequalizable);
        }
        const std::array<hsize_t, 1> chips{r.chips.size()};
        const std::array<hsize_t, 1> steps{run_.scanValues.size()};
        const std::array<hsize_t, 3> words{r.chips.size(), 256, 256};
        return TextDataset(g, "dac", run_.scanDac) &&
               ArrayDataset(g, "values", H5T_STD_I32LE, H5T_NATIVE_INT32, steps,
                            run_.scanValues.data()) &&
               ArrayDataset(g, "target", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, chips, target.data()) &&
               ArrayDataset(g, "spread_before", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, chips,
                            before.data()) &&
               ArrayDataset(g, "spread_after", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, chips,
                            after.data()) &&
               ArrayDataset(g, "equalized", H5T_STD_I32LE, H5T_NATIVE_INT32, chips,
                            equalized.data()) &&
               ArrayDataset(g, "unequalizable", H5T_STD_I32LE, H5T_NATIVE_INT32, chips,
                            unequalizable.data()) &&
               r.words.size() >= r.chips.size() * kChipPixels &&
               ArrayDataset(g, "pixel_configuration", H5T_STD_U16LE, H5T_NATIVE_UINT16, words,
                            r.words.data()) &&
               SetUnits(g, "target", "DAC") && SetUnits(g, "spread_before", "DAC") &&
               SetUnits(g, "spread_after", "DAC");
    }

    Id file_, entry_;
    RunDescription run_;
    std::string error_;
};

class NoEqualizationFile final : public EqualizationFile {
public:
    bool AddScan(const char*, std::span<const int>, const StepCounts&) override { return true; }
    bool Finish(const EqualizationResult&) override { return true; }
    const std::string& error() const override { return error_; }

private:
    std::string error_;
};

}  // namespace

std::unique_ptr<EqualizationFile> EqualizationFile::None() {
    return std::make_unique<NoEqualizationFile>();
}

std::unique_ptr<EqualizationFile> EqualizationFile::Create(const std::string& path,
                                                           const RunDescription& run,
                                                           std::string& error) {
    std::lock_guard lock(LibraryMutex());
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    errno = 0;
    Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    if (!file.ok()) {
        error = "Cannot create the equalisation file " + path + SystemReason(errno);
        return nullptr;
    }
    Id entry = WriteNexusEntry(file.get(), run, UtcNow(), "threshold equalisation over " + run.scanDac,
                               "thresholds");
    if (!entry.ok()) {
        error = "Writing the settings to the equalisation file failed: " + path;
        return nullptr;
    }
    return std::make_unique<Hdf5EqualizationFile>(std::move(file), std::move(entry), run);
}

}  // namespace ulvarin
