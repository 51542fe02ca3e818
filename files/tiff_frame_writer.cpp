#include "files/tiff_frame_writer.h"

#include <cerrno>

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ulvarin {
namespace {

// Room left below 4 GiB for the page directories.
constexpr uint64_t kClassicLimit = (uint64_t{1} << 32) - (uint64_t{64} << 20);

// What ImageJ-style readers show as the stack's description: the settings in one text.
std::string DescriptionText(const RunDescription& run) {
    std::string text = "program=ulvarin " + std::string(ProgramVersion()) +
                       "\ndevice=" + run.deviceName +
                       "\nchip_type=" + ChipFamilyName(run.layout.family) +
                       "\nchip_count=" + std::to_string(run.layout.chipCount) +
                       "\nchip_ids=" + run.chipIdText + "\n";
    if (!run.scanDac.empty()) text += "scan_dac=" + run.scanDac + "\n";
    return text;
}

class TiffFrameWriter final : public FrameWriter {
public:
    TiffFrameWriter(TIFF* tiff, const RunDescription& run)
        : tiff_(tiff),
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
        if (tiff_ != nullptr) {
            TIFFClose(tiff_);
            tiff_ = nullptr;
        }
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
        char name[96];
        const long long number = info.number > 0 ? info.number : frames_ + 1LL;
        std::snprintf(name, sizeof name, "frame %lld exposure %.9g s at %.6f s", number,
                      info.exposure, info.timestamp);
        TIFFSetField(tiff_, TIFFTAG_PAGENAME, name);
        if (frames_ == 0) TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, description_.c_str());
    }

    TIFF* tiff_;
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
    errno = 0;
    TIFF* tiff = TIFFOpen(path.c_str(), bytes > kClassicLimit ? "w8" : "w");
    if (tiff == nullptr) {
        error = "Cannot create the TIFF file " + path + SystemReason(errno);
        return nullptr;
    }
    return std::make_unique<TiffFrameWriter>(tiff, run);
}

}  // namespace ulvarin
