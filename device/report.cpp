#include "device/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "device/clock.h"
#include "device/lock.h"

namespace ulvarin {
namespace {

constexpr size_t kMaxReport = 255;  // characters a report text may hold
constexpr size_t kCutAt = 253;      // longer texts keep this many, then ".."

ReportHook gHook = nullptr;
void* gHookUser = nullptr;

std::mutex gBoxMutex;
BoxFunction gBox;

void DefaultBox(const BoxRequest& request) {
    std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
}

// Cuts `text` to 253 characters plus ".." when it is longer than 253.
void CutLong(std::string& text) {
    if (text.size() > kCutAt) {
        text.resize(kCutAt);
        text += "..";
    }
}

std::string Format(const char* format, va_list args) {
    if (format == nullptr) return "No error description given";
    char buffer[1024];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return std::string(format, strnlen(format, kMaxReport));
    // A NUL produced by the arguments (a letter 0 printed with %c) ends the text there.
    std::string text(buffer);
    if (text.size() > kMaxReport) CutLong(text);
    return text;
}

std::string BoxCaption(const MpxDevice& handle, int kind) {
    const char* device = "No device";
    if (handle.device != nullptr)
        device = registry::Contains(handle.device) ? handle.device->description : "Unknown device";
    char caption[kMaxReport + 1];
    std::snprintf(caption, sizeof caption, "%s - %s (%d)", ErrorKindName(kind), device,
                  handle.level);
    return caption;
}

}  // namespace

bool ReportError(MpxDevice& handle, int8_t kind, const char* format, ...) {
    MpxCriticalSection lock;
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);

    if (handle.HasPendingReport()) {
        text += " (";
        text += handle.reportText;
        text += ")";
    }
    CutLong(text);

    std::memcpy(handle.reportText, text.c_str(), text.size() + 1);
    handle.reportTime = Now();
    handle.reportKind = kind;
    if (registry::Contains(handle.device) && &handle != &handle.device->lastReport)
        handle.device->lastReport = handle;

    if (gHook != nullptr) {
        gHook(handle, gHookUser);
    } else if (kind > 1) {
        ShowBox({handle.reportText, BoxCaption(handle, kind), BoxIcon::Error, false});
    }
    return kind > 1;
}

const char* ErrorKindName(int kind) {
    static const char* const kNames[] = {
        "No error",
        "Message",
        "General error",
        "Bad device handle",
        "Transmission failed",
        "Device is not responding",
        "Bad parameter",
        "Error reported by device",
        "Bad response of the device",
        "Fatal error",
        "Timeout error",
        "Unsupported operation",
    };
    if (kind < 0 || kind >= static_cast<int>(std::size(kNames))) return "Unknown error type";
    return kNames[kind];
}

void SetReportHook(ReportHook hook, void* user) {
    MpxCriticalSection lock;
    gHook = hook;
    gHookUser = user;
}

void SetBoxFunction(BoxFunction box) {
    std::lock_guard lock(gBoxMutex);
    gBox = std::move(box);
}

void ShowBox(const BoxRequest& request) {
    BoxFunction box;
    {
        std::lock_guard lock(gBoxMutex);
        box = gBox;
    }
    if (box)
        box(request);
    else
        DefaultBox(request);
}

}  // namespace ulvarin
