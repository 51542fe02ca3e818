// Small owners and writers of HDF5 objects shared by the run file writer and its NeXus
// tree: identifiers closed when they go, spaces, UTF-8 text, attributes and datasets
// written whole. Callers hold the library lock (the library is built without its own).
#pragma once

#include <hdf5.h>

#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ulvarin::hdf5 {

// The library is built without its own locking: one thread at a time may call it (the
// window's autosave thread, its Save button and an equalisation may all write). Recursive,
// as a writer failing to open closes under it.
std::recursive_mutex& LibraryMutex();

// An HDF5 identifier closed by its own close function when it goes.
class Id {
public:
    using Closer = herr_t (*)(hid_t);
    Id() = default;
    Id(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    Id(Id&& other) noexcept { *this = std::move(other); }
    Id& operator=(Id&& other) noexcept {
        std::swap(id_, other.id_);
        std::swap(closer_, other.closer_);
        return *this;
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;
    ~Id() {
        if (id_ >= 0 && closer_ != nullptr) closer_(id_);
    }
    hid_t get() const { return id_; }
    bool ok() const { return id_ >= 0; }
    // Hands the identifier over to the caller, who closes it.
    hid_t release() { return std::exchange(id_, H5I_INVALID_HID); }

private:
    hid_t id_ = H5I_INVALID_HID;
    Closer closer_ = nullptr;
};

Id Space(std::span<const hsize_t> dims, std::span<const hsize_t> maxDims = {});
// File access properties for run files: the file format that lets readers follow a run
// while it is written (single writer, multiple readers).
Id FollowableFileAccess();
// The most specific description on the library's error stack ("" when it is empty), for
// failures the system's errno does not explain (a file marked open by a writer, say).
std::string LastErrorText();
// Variable-length UTF-8 text, which readers hand out as strings rather than bytes.
Id TextType();

bool WriteAttribute(hid_t at, const char* name, hid_t type, hid_t space, const void* data);
bool TextAttribute(hid_t at, const char* name, const std::string& text);
bool NumberAttribute(hid_t at, const char* name, hid_t type, const void* value);
bool TextListAttribute(hid_t at, const char* name, const std::vector<const char*>& texts);

// A group created under `at` with its NX_class attribute; not ok() on failure.
Id NexusGroup(hid_t at, const char* name, const char* nxClass);
// Datasets written whole: a scalar text, a scalar number with its units (none when empty),
// and an array of `dims` from `values` of `memType` stored as `fileType`.
bool TextDataset(hid_t at, const char* name, const std::string& text);
bool NumberDataset(hid_t at, const char* name, double value, const char* units);
bool ArrayDataset(hid_t at, const char* name, hid_t fileType, hid_t memType,
                  std::span<const hsize_t> dims, const void* values);
bool TextListDataset(hid_t at, const char* name, const std::vector<const char*>& texts);

}  // namespace ulvarin::hdf5
