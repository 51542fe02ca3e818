#include "tests/support/file_readers.h"

#include <hdf5.h>
#include <tiffio.h>

namespace ulvarin::test {

Hdf5Reader::Hdf5Reader(const std::string& path, bool follow) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    file_ = H5Fopen(path.c_str(), follow ? H5F_ACC_RDONLY | H5F_ACC_SWMR_READ : H5F_ACC_RDONLY,
                    H5P_DEFAULT);
}

Hdf5Reader::~Hdf5Reader() {
    if (file_ >= 0) H5Fclose(file_);
}

std::vector<uint64_t> Hdf5Reader::Dims(const std::string& dataset) const {
    const hid_t set = H5Dopen2(file_, dataset.c_str(), H5P_DEFAULT);
    if (set < 0) return {};
    const hid_t space = H5Dget_space(set);
    std::vector<hsize_t> dims(static_cast<size_t>(std::max(0, H5Sget_simple_extent_ndims(space))));
    H5Sget_simple_extent_dims(space, dims.data(), nullptr);
    H5Sclose(space);
    H5Dclose(set);
    return {dims.begin(), dims.end()};
}

template <typename T>
std::vector<T> Hdf5Reader::Read(const std::string& dataset, int64_t memType) const {
    size_t count = 1;
    for (uint64_t d : Dims(dataset)) count *= d;
    const hid_t set = H5Dopen2(file_, dataset.c_str(), H5P_DEFAULT);
    if (set < 0) return {};
    std::vector<T> values(count);
    const bool ok =
        count == 0 || H5Dread(set, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
    H5Dclose(set);
    return ok ? values : std::vector<T>{};
}

std::vector<uint32_t> Hdf5Reader::Counts(const std::string& dataset) const {
    return Read<uint32_t>(dataset, H5T_NATIVE_UINT32);
}
std::vector<double> Hdf5Reader::Doubles(const std::string& dataset) const {
    return Read<double>(dataset, H5T_NATIVE_DOUBLE);
}
std::vector<int32_t> Hdf5Reader::Ints(const std::string& dataset) const {
    return Read<int32_t>(dataset, H5T_NATIVE_INT32);
}

std::string Hdf5Reader::Text(const std::string& attribute) const {
    const hid_t attr = H5Aopen(file_, attribute.c_str(), H5P_DEFAULT);
    if (attr < 0) return {};
    const hid_t type = H5Aget_type(attr);
    std::string text;
    char* value = nullptr;
    if (H5Tis_variable_str(type) > 0 && H5Aread(attr, type, &value) >= 0 && value != nullptr) {
        text = value;
        H5free_memory(value);
    }
    H5Tclose(type);
    H5Aclose(attr);
    return text;
}

std::vector<std::string> Hdf5Reader::Texts(const std::string& attribute) const {
    const hid_t attr = H5Aopen(file_, attribute.c_str(), H5P_DEFAULT);
    if (attr < 0) return {};
    const hid_t type = H5Aget_type(attr);
    const hid_t space = H5Aget_space(attr);
    std::vector<char*> values(static_cast<size_t>(H5Sget_simple_extent_npoints(space)), nullptr);
    std::vector<std::string> texts;
    if (H5Tis_variable_str(type) > 0 && H5Aread(attr, type, values.data()) >= 0) {
        for (char* value : values) texts.emplace_back(value ? value : "");
        H5Dvlen_reclaim(type, space, H5P_DEFAULT, values.data());
    }
    H5Sclose(space);
    H5Tclose(type);
    H5Aclose(attr);
    return texts;
}

std::vector<int32_t> Hdf5Reader::IntAttribute(const std::string& attribute) const {
    const hid_t attr = H5Aopen(file_, attribute.c_str(), H5P_DEFAULT);
    if (attr < 0) return {};
    const hid_t space = H5Aget_space(attr);
    std::vector<int32_t> values(static_cast<size_t>(H5Sget_simple_extent_npoints(space)));
    if (H5Aread(attr, H5T_NATIVE_INT32, values.data()) < 0) values.clear();
    H5Sclose(space);
    H5Aclose(attr);
    return values;
}

std::vector<TiffPage> ReadTiffPages(const std::string& path) {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    std::vector<TiffPage> pages;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) return pages;
    do {
        TiffPage page;
        uint16_t bits = 0, format = SAMPLEFORMAT_UINT;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        page.bits = bits;
        page.sampleFormat = format;
        page.bigTiff = TIFFIsBigTIFF(tiff) != 0;
        if (bits == 32) {
            page.values.resize(static_cast<size_t>(page.width) * page.height);
            for (uint32_t y = 0; y < page.height; ++y)
                TIFFReadScanline(tiff, page.values.data() + static_cast<size_t>(y) * page.width, y);
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return pages;
}

}  // namespace ulvarin::test
