#include "files/tiff_frame_writer.h"

#include <cerrno>

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/program_version.h"

namespace ulvarin {
namespace {

// Room left below 4 GiB for the page directories.
constexpr uint64_t kClassicLimit = (uint64_t{1} << 32) - (uint64_t{64} << 20);

// The ImageJ header that makes Fiji (and tifffile) open the pages as a stack of frames:
// its counts are written ten digits wide, so a run that ends early can set them in place.
constexpr const char* kImageJHeader = "ImageJ=1.11a\nimages=";
constexpr int kCountDigits = 10;
// Pixels are 55 um apart; the resolution tags give pixels per micron.
constexpr double kPixelsPerMicron = 1.0 / 55.0;

std::string CountText(int64_t count) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*lld", kCountDigits, static_cast<long long>(count));
    return text;
}

// The stack's description: the ImageJ lines, then the run's settings.
std::string DescriptionText(const RunDescription& run) {
    const std::string count = CountText(std::max(run.expectedFrames, 1));
    std::string text = kImageJHeader + count + "\nframes=" + count +
                       "\nunit=micron\nloop=false\nprogram=ulvarin " + ProgramVersion() +
                       "\ndevice=" + run.deviceName +
                       "\nchip_type=" + ChipFamilyName(run.layout.family) +
                       "\nchip_count=" + std::to_string(run.layout.chipCount) +
                       "\nchip_ids=" + run.chipIdText + "\n";
    if (!run.countModes.empty()) {
        text += "count_mode=";
        for (size_t i = 0; i < run.countModes.size(); ++i)
            text += (i ? "," : "") + run.countModes[i];
        text += "\n";
    }
    if (!run.scanDac.empty()) text += "scan_dac=" + run.scanDac + "\n";
    if (!run.scanValues.empty()) {
        text += "scan_values=";
        for (size_t i = 0; i < run.scanValues.size(); ++i)
            text += (i ? "," : "") + std::to_string(run.scanValues[i]);
        text += "\n";
    }
    return text;
}

// Sets both counts of the ImageJ header in the file at `path` to `frames`, where a run
// ended before the count it announced. The header is looked for in the file's first pages.
bool SetImageJFrameCount(const std::string& path, int64_t frames) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) return false;
    const std::string header = kImageJHeader;
    const std::string count = CountText(frames);
    constexpr size_t kChunk = size_t{1} << 20;
    std::vector<char> buffer(kChunk + 64);
    bool done = false;
    long offset = 0;
    for (int chunk = 0; chunk < 64 && !done; ++chunk, offset += kChunk) {
        if (std::fseek(file, offset, SEEK_SET) != 0) break;
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got < header.size()) break;
        const auto at = std::search(buffer.begin(), buffer.begin() + got, header.begin(), header.end());
        if (at == buffer.begin() + got) continue;
        const long start = offset + static_cast<long>(at - buffer.begin() + header.size());
        // images=NNNNNNNNNN\nframes=NNNNNNNNNN
        done = std::fseek(file, start, SEEK_SET) == 0 &&
               std::fwrite(count.data(), 1, count.size(), file) == count.size() &&
               std::fseek(file, start + kCountDigits + 8, SEEK_SET) == 0 &&
               std::fwrite(count.data(), 1, count.size(), file) == count.size();
    }
    return std::fclose(file) == 0 && done;
}

class TiffFrameWriter final : public FrameWriter {
public:
    TiffFrameWriter(TIFF* tiff, RunFileTarget target, const RunDescription& run)
        : tiff_(tiff),
          target_(std::move(target)),
          run_(run),
          geometry_(GeometryFor(run.layout.chipCount)),
          image_(geometry_.pixels()) {}
    ~TiffFrameWriter() override { Close(); }

    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        if (tiff_ == nullptr) return Fail("The TIFF file is closed.");
        if (counts.size() < run_.layout.pixelsInUse()) return Fail("Too few values for a frame.");
        ImageOrderCounts(counts, run_.layout, image_);
        SetPageFields(info);
        for (uint32_t y = 0; y < geometry_.height(); ++y) {
            if (TIFFWriteScanline(tiff_, image_.data() + static_cast<size_t>(y) * geometry_.width(),
                                  y, 0) < 0)
                return Fail("Writing a TIFF row failed.");
        }
        errno = 0;
        if (!TIFFWriteDirectory(tiff_))
            return Fail(("Writing a TIFF page failed" + SystemReason(errno) + ".").c_str());
        ++frames_;
        return true;
    }

    bool Close() override {
        if (tiff_ == nullptr) return error_.empty();
        TIFFClose(tiff_);
        tiff_ = nullptr;
        // A stack of fewer frames than announced would not open as one.
        if (frames_ > 0 && frames_ != std::max(run_.expectedFrames, 1) &&
            !SetImageJFrameCount(target_.writePath(), frames_) && error_.empty())
            error_ = "Setting the frame count of the TIFF stack failed.";
        std::string error;
        if (!target_.Commit(error) && error_.empty()) error_ = error;
        return error_.empty();
    }

private:
    bool Fail(const char* text) {
        error_ = text;
        return false;
    }

    void SetPageFields(const FrameInfo& info) {
        TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, geometry_.width());
        TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, geometry_.height());
        TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 32);
        TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, geometry_.height());
        TIFFSetField(tiff_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tiff_, TIFFTAG_SOFTWARE, "ulvarin");
        TIFFSetField(tiff_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
        TIFFSetField(tiff_, TIFFTAG_XRESOLUTION, kPixelsPerMicron);
        TIFFSetField(tiff_, TIFFTAG_YRESOLUTION, kPixelsPerMicron);
        char name[128];
        const long long number = info.number > 0 ? info.number : frames_ + 1LL;
        int length = std::snprintf(name, sizeof name, "frame %lld", number);
        if (!run_.scanDac.empty())
            length += std::snprintf(name + length, sizeof name - length, " %s %d",
                                    run_.scanDac.c_str(), info.dacValue);
        std::snprintf(name + length, sizeof name - length, " exposure %.9g s at %.6f s",
                      info.exposure, info.timestamp);
        TIFFSetField(tiff_, TIFFTAG_PAGENAME, name);
        if (frames_ == 0) TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, description_.c_str());
    }

    TIFF* tiff_;
    RunFileTarget target_;
    RunDescription run_;
    ImageGeometry geometry_;
    std::vector<uint32_t> image_;
    std::string description_ = DescriptionText(run_);
};

}  // namespace

std::unique_ptr<FrameWriter> OpenTiffFrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error) {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    // Classic TIFF ends at 4 GiB (some 4000 four-chip frames); longer runs are written as
    // BigTIFF, which fewer readers open, so only when needed.
    const uint64_t bytes = uint64_t{GeometryFor(run.layout.chipCount).pixels()} * sizeof(uint32_t) *
                           static_cast<uint64_t>(std::max(run.expectedFrames, 0));
    RunFileTarget target;
    if (!target.Open(path, "the TIFF file", error)) return nullptr;
    errno = 0;
    TIFF* tiff = TIFFOpen(target.writePath().c_str(), bytes > kClassicLimit ? "w8" : "w");
    if (tiff == nullptr) {
        error = "Cannot create the TIFF file " + path + SystemReason(errno);
        return nullptr;
    }
    return std::make_unique<TiffFrameWriter>(tiff, std::move(target), run);
}

}  // namespace ulvarin
