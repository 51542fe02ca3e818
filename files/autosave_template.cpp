#include "files/autosave_template.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "files/file_names.h"

namespace ulvarin {
namespace {
bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

std::string AutosaveFileName(const AutosaveTemplate& name, int number) {
    const int digits = std::clamp(name.digits, 0, kMaxAutosaveDigits);
    char text[24];
    std::snprintf(text, sizeof text, "%0*d", digits, number);
    return name.prefix + text + name.suffix;
}

std::string ShownFileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

AutosaveTemplate AutosaveTemplateFromName(const std::string& chosen) {
    const std::string name = WithDefaultExtension(chosen, ".txt");
    const size_t extension = name.size() - FileExtension(name).size();
    const size_t nameStart = name.size() - ShownFileName(name).size();

    AutosaveTemplate result;
    result.number = 0;
    result.lastFileNumber = 0;
    size_t end = extension;  // one past the last digit of the number run
    while (end > nameStart && !IsDigit(name[end - 1])) --end;
    if (end == nameStart) {
        result.prefix = name.substr(0, extension);
        result.digits = 4;
        result.suffix = name.substr(extension);
        return result;
    }
    size_t begin = end;
    while (begin > nameStart && end - begin < kMaxAutosaveDigits && IsDigit(name[begin - 1])) {
        --begin;
    }
    result.prefix = name.substr(0, begin);
    result.digits = static_cast<int>(end - begin);
    result.suffix = name.substr(end);
    for (size_t i = begin; i < end; ++i) result.number = result.number * 10 + (name[i] - '0');
    result.lastFileNumber = result.number;
    return result;
}

int SteppedNumber(int number, int delta) {
    if (delta > 0 && number > INT_MAX - delta) return INT_MAX;
    if (delta < 0 && number < INT_MIN - delta) return INT_MIN;
    return number + delta;
}

SteppedFile StepAutosave(const AutosaveTemplate& name, int delta) {
    const int number = SteppedNumber(name.lastFileNumber, delta);
    return {number, AutosaveFileName(name, number)};
}

FrameFileStatus AutosaveFrame(AutosaveTemplate& name, std::span<const int32_t> counts,
                              std::string& path) {
    path = AutosaveFileName(name, name.number);
    const FrameFileStatus status = WriteCountFrameFile(path, counts);
    if (status == FrameFileStatus::kOk) {
        name.lastFileNumber = name.number;
        name.number = SteppedNumber(name.number, 1);
    }
    return status;
}

}  // namespace ulvarin
