#include "files/hdf5_objects.h"

#include <array>

namespace ulvarin::hdf5 {

Id Space(std::span<const hsize_t> dims, std::span<const hsize_t> maxDims) {
    return {H5Screate_simple(static_cast<int>(dims.size()), dims.data(),
                             maxDims.empty() ? nullptr : maxDims.data()),
            H5Sclose};
}

std::recursive_mutex& LibraryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

Id FollowableFileAccess() {
    Id access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_libver_bounds(access.get(), H5F_LIBVER_V110, H5F_LIBVER_LATEST);
    return access;
}

std::string LastErrorText() {
    std::string text;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned, const H5E_error2_t* entry, void* out) -> herr_t {
            auto* found = static_cast<std::string*>(out);
            if (found->empty() && entry->desc != nullptr) *found = entry->desc;
            return 0;
        },
        &text);
    return text;
}

Id TextType() {
    Id type(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(type.get(), H5T_VARIABLE);
    H5Tset_cset(type.get(), H5T_CSET_UTF8);
    return type;
}

bool WriteAttribute(hid_t at, const char* name, hid_t type, hid_t space, const void* data) {
    Id attr(H5Acreate2(at, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return attr.ok() && H5Awrite(attr.get(), type, data) >= 0;
}

bool TextAttribute(hid_t at, const char* name, const std::string& text) {
    const char* data = text.c_str();
    Id space(H5Screate(H5S_SCALAR), H5Sclose);
    return WriteAttribute(at, name, TextType().get(), space.get(), &data);
}

bool NumberAttribute(hid_t at, const char* name, hid_t type, const void* value) {
    Id space(H5Screate(H5S_SCALAR), H5Sclose);
    return WriteAttribute(at, name, type, space.get(), value);
}

bool TextListAttribute(hid_t at, const char* name, const std::vector<const char*>& texts) {
    const std::array<hsize_t, 1> dims{texts.size()};
    return WriteAttribute(at, name, TextType().get(), Space(dims).get(), texts.data());
}

Id NexusGroup(hid_t at, const char* name, const char* nxClass) {
    Id group(H5Gcreate2(at, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    if (group.ok() && !TextAttribute(group.get(), "NX_class", nxClass)) return {};
    return group;
}

namespace {

bool WriteDataset(hid_t at, const char* name, hid_t fileType, hid_t memType, hid_t space,
                  const void* values, Id* created = nullptr) {
    Id set(H5Dcreate2(at, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
           H5Dclose);
    const bool ok = set.ok() && H5Dwrite(set.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                         values) >= 0;
    if (ok && created != nullptr) *created = std::move(set);
    return ok;
}

}  // namespace

bool TextDataset(hid_t at, const char* name, const std::string& text) {
    const char* data = text.c_str();
    Id space(H5Screate(H5S_SCALAR), H5Sclose);
    const Id type = TextType();
    return WriteDataset(at, name, type.get(), type.get(), space.get(), &data);
}

bool NumberDataset(hid_t at, const char* name, double value, const char* units) {
    Id space(H5Screate(H5S_SCALAR), H5Sclose);
    Id set;
    if (!WriteDataset(at, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, space.get(), &value, &set))
        return false;
    return units == nullptr || *units == 0 || TextAttribute(set.get(), "units", units);
}

bool ArrayDataset(hid_t at, const char* name, hid_t fileType, hid_t memType,
                  std::span<const hsize_t> dims, const void* values) {
    return WriteDataset(at, name, fileType, memType, Space(dims).get(), values);
}

bool TextListDataset(hid_t at, const char* name, const std::vector<const char*>& texts) {
    const std::array<hsize_t, 1> dims{texts.size()};
    const Id type = TextType();
    return WriteDataset(at, name, type.get(), type.get(), Space(dims).get(), texts.data());
}

}  // namespace ulvarin::hdf5
