#include "files/nexus_tree.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

#include "base/program_version.h"
#include "device/dac_tables.h"
#include "files/hdf5_objects.h"
#include "imaging/chip_layout.h"

namespace ulvarin {
namespace {

using namespace hdf5;

constexpr double kPixelPitchMetres = 55e-6;

// Each chip's rectangle in the image: x, y, width, height in pixels.
std::vector<int32_t> ChipRegions(const ChipLayout& layout) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const auto chips = static_cast<size_t>(layout.chipCount);
    std::vector<int32_t> low(2 * chips, INT32_MAX), high(2 * chips, -1);
    for (uint32_t i = 0; i < g.pixels(); ++i) {
        const size_t chip = ImageIndexToPixel(i, layout) / kChipPixels;
        if (chip >= chips) continue;
        const auto x = static_cast<int32_t>(i % g.width()), y = static_cast<int32_t>(i / g.width());
        low[2 * chip] = std::min(low[2 * chip], x);
        low[2 * chip + 1] = std::min(low[2 * chip + 1], y);
        high[2 * chip] = std::max(high[2 * chip], x);
        high[2 * chip + 1] = std::max(high[2 * chip + 1], y);
    }
    std::vector<int32_t> regions;
    for (size_t c = 0; c < chips; ++c)
        regions.insert(regions.end(), {low[2 * c], low[2 * c + 1], high[2 * c] - low[2 * c] + 1,
                                       high[2 * c + 1] - low[2 * c + 1] + 1});
    return regions;
}

bool Link(hid_t group, const char* name, hid_t file, const char* target) {
    if (H5Lexists(file, target, H5P_DEFAULT) <= 0) return true;
    return H5Lcreate_hard(file, target, group, name, H5P_DEFAULT, H5P_DEFAULT) >= 0;
}

bool WriteDetector(hid_t file, hid_t instrument, const RunDescription& run) {
    const Id detector = NexusGroup(instrument, "detector", "NXdetector");
    if (!detector.ok()) return false;
    const hid_t d = detector.get();
    const ChipFamily family = run.layout.family;
    const auto chips = static_cast<hsize_t>(run.layout.chipCount);
    std::vector<const char*> modes;
    for (const std::string& mode : run.countModes) modes.push_back(mode.c_str());
    std::vector<const char*> dacNames;
    const int dacCount = DacCountOf(family);
    for (int i = 0; i < dacCount; ++i) dacNames.push_back(DacNameOf(family, i));
    std::vector<uint16_t> dacs;
    for (const ChipDacRecord& record : run.dacs)
        dacs.insert(dacs.end(), record.dac, record.dac + dacCount);
    const std::vector<int32_t> regions = ChipRegions(run.layout);
    const std::array<hsize_t, 2> regionDims{chips, 4};
    bool ok = TextDataset(d, "description", ChipFamilyName(family)) &&
              TextDataset(d, "chip_ids", run.chipIdText) &&
              TextDataset(d, "device", run.deviceName) &&
              TextDataset(d, "firmware", run.firmware) &&
              NumberDataset(d, "x_pixel_size", kPixelPitchMetres, "m") &&
              NumberDataset(d, "y_pixel_size", kPixelPitchMetres, "m") &&
              NumberDataset(d, "bias_voltage", run.biasVolts, "V") &&
              NumberDataset(d, "dac0_voltage", run.dac0Volts, "V") &&
              NumberDataset(d, "dac1_voltage", run.dac1Volts, "V") &&
              ArrayDataset(d, "chip_regions", H5T_STD_I32LE, H5T_NATIVE_INT32, regionDims,
                           regions.data()) &&
              TextListDataset(d, "dac_names", dacNames) && Link(d, "count_time", file, "exposure");
    if (ok) {
        Id regionsSet(H5Dopen2(d, "chip_regions", H5P_DEFAULT), H5Dclose);
        ok = TextAttribute(regionsSet.get(), "columns", "x, y, width, height (image pixels)");
    }
    if (ok && !modes.empty()) ok = TextListDataset(d, "count_mode", modes);
    if (ok && !dacs.empty()) {
        const std::array<hsize_t, 2> dims{run.dacs.size(), static_cast<hsize_t>(dacCount)};
        ok = ArrayDataset(d, "dacs", H5T_STD_U16LE, H5T_NATIVE_UINT16, dims, dacs.data());
    }
    if (ok && run.flatField.size() >= chips * kChipPixels) {
        const std::array<hsize_t, 3> dims{chips, 256, 256};
        ok = ArrayDataset(d, "flatfield", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, dims,
                          run.flatField.data());
    }
    if (ok && run.pixelConfig.size() >= chips * kChipPixels) {
        const std::array<hsize_t, 3> dims{chips, 256, 256};
        ok = ArrayDataset(d, "pixel_configuration", H5T_STD_U16LE, H5T_NATIVE_UINT16, dims,
                          run.pixelConfig.data());
    }
    return ok;
}

bool WriteData(hid_t entry, hid_t file, bool scan) {
    const Id data = NexusGroup(entry, "data", "NXdata");
    if (!data.ok()) return false;
    const char* axis = scan ? "scan_values" : "frame_number";
    const std::vector<const char*> axes{axis, ".", "."};
    const int32_t first = 0;
    const std::string indices = std::string(axis) + "_indices";
    return TextAttribute(data.get(), "signal", "frames") &&
           TextListAttribute(data.get(), "axes", axes) &&
           NumberAttribute(data.get(), indices.c_str(), H5T_NATIVE_INT32, &first) &&
           Link(data.get(), "frames", file, "frames") && Link(data.get(), axis, file, axis) &&
           Link(data.get(), "exposure", file, "exposure") &&
           Link(data.get(), "timestamp", file, "timestamp");
}

}  // namespace

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

Id WriteNexusEntry(hid_t file, const RunDescription& run, const std::string& startTime,
                   const std::string& title, const char* defaultData) {
    Id entry = NexusGroup(file, "entry", "NXentry");
    if (!entry.ok() || !TextAttribute(file, "default", "entry") ||
        !TextAttribute(entry.get(), "default", defaultData) ||
        !TextDataset(entry.get(), "start_time", startTime) ||
        !TextDataset(entry.get(), "title", title) ||
        !TextDataset(entry.get(), "program_name", "ulvarin"))
        return {};
    {
        Id program(H5Dopen2(entry.get(), "program_name", H5P_DEFAULT), H5Dclose);
        if (!TextAttribute(program.get(), "version", ProgramVersion())) return {};
    }
    const Id instrument = NexusGroup(entry.get(), "instrument", "NXinstrument");
    if (!instrument.ok() || !WriteDetector(file, instrument.get(), run)) return {};
    return entry;
}

std::string RunTitle(const std::string& scanDac, int64_t planned, int64_t written,
                     const std::string& endReason) {
    const bool whole = planned <= 0 || written >= planned;
    const std::string why = endReason.substr(0, endReason.find(':'));
    if (!scanDac.empty())
        return "scan of " + scanDac +
               (whole ? ""
                      : ", " + std::to_string(written) + " of " + std::to_string(planned) +
                            " steps (" + why + ")");
    if (planned <= 0) return "acquisition of " + std::to_string(written) + " frames";
    if (whole) return "acquisition of " + std::to_string(planned) + " frames";
    return "acquisition of " + std::to_string(written) + " of " + std::to_string(planned) +
           " frames (" + why + ")";
}

bool WriteNexusTree(hid_t file, const RunDescription& run, const std::string& startTime) {
    const bool scan = !run.scanDac.empty();
    const std::string title = RunTitle(run.scanDac, run.expectedFrames, run.expectedFrames, "");
    const Id entry = WriteNexusEntry(file, run, startTime, title, "data");
    return entry.ok() && WriteData(entry.get(), file, scan);
}

bool WriteNexusEndTime(hid_t file) {
    if (H5Lexists(file, "entry", H5P_DEFAULT) <= 0) return true;
    Id entry(H5Gopen2(file, "entry", H5P_DEFAULT), H5Gclose);
    if (!entry.ok()) return false;
    if (H5Lexists(entry.get(), "end_time", H5P_DEFAULT) > 0 &&
        H5Ldelete(entry.get(), "end_time", H5P_DEFAULT) < 0)
        return false;
    return TextDataset(entry.get(), "end_time", UtcNow());
}

bool WriteNexusEnd(hid_t file, const std::string& title) {
    if (!WriteNexusEndTime(file)) return false;
    if (H5Lexists(file, "entry/title", H5P_DEFAULT) <= 0) return true;
    // Written in place, as readers following the file may hold it open.
    Id set(H5Dopen2(file, "entry/title", H5P_DEFAULT), H5Dclose);
    const char* data = title.c_str();
    const Id type = TextType();
    return set.ok() && H5Dwrite(set.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, &data) >= 0;
}

}  // namespace ulvarin
