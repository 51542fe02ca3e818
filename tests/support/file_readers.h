// Reading back what the frame writers wrote, through the libraries analysis tools use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulvarin::test {

// An HDF5 file opened read-only; every read returns empty / -1 on a failure. `follow` opens
// it as a reader of a file still being written (single writer, multiple readers).
class Hdf5Reader {
public:
    explicit Hdf5Reader(const std::string& path, bool follow = false);
    ~Hdf5Reader();
    Hdf5Reader(const Hdf5Reader&) = delete;
    Hdf5Reader& operator=(const Hdf5Reader&) = delete;

    bool ok() const { return file_ >= 0; }
    std::vector<uint64_t> Dims(const std::string& dataset) const;
    // Every value of a dataset converted to the type asked for.
    std::vector<uint32_t> Counts(const std::string& dataset) const;
    std::vector<double> Doubles(const std::string& dataset) const;
    std::vector<int32_t> Ints(const std::string& dataset) const;
    // Root attributes.
    std::string Text(const std::string& attribute) const;
    std::vector<std::string> Texts(const std::string& attribute) const;
    std::vector<int32_t> IntAttribute(const std::string& attribute) const;

private:
    template <typename T>
    std::vector<T> Read(const std::string& dataset, int64_t memType) const;

    int64_t file_ = -1;
};

// The pages of a TIFF file as 32-bit values, with their sizes; empty when unreadable.
struct TiffPage {
    uint32_t width = 0, height = 0, bits = 0, sampleFormat = 0;
    bool bigTiff = false;
    std::vector<uint32_t> values;
};
std::vector<TiffPage> ReadTiffPages(const std::string& path);

}  // namespace ulvarin::test
