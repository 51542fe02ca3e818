// Reports: every device operation says what happened through ReportError, which records
// the text in the handle and hands it to the report hook or, without one, to a box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/device.h"

namespace ulvarin {

// Report kinds; above 1 are errors.
constexpr int8_t kNoError = 0;
constexpr int8_t kMessage = 1;
constexpr int8_t kGeneralError = 2;
constexpr int8_t kBadHandle = 3;
constexpr int8_t kTransmissionFailed = 4;
constexpr int8_t kNotResponding = 5;
constexpr int8_t kBadParameter = 6;
constexpr int8_t kDeviceError = 7;
constexpr int8_t kBadResponse = 8;
constexpr int8_t kFatalError = 9;
constexpr int8_t kTimeoutError = 10;
constexpr int8_t kUnsupported = 11;

// Records a report in `handle` (text at most 255 characters, a pending report appended in
// parentheses), copies the handle into its device's lastReport, then calls the report hook
// or, without one, shows an error box for kinds above 1. Returns kind > 1.
bool ReportError(MpxDevice& handle, int8_t kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Name of a report kind ("Unknown error type" outside 0..11).
const char* ErrorKindName(int kind);

using ReportHook = void (*)(MpxDevice& handle, void* user);
// Installs (or with nullptr removes) the process-wide report hook.
void SetReportHook(ReportHook hook, void* user);

// Message boxes below the window layer go through this replaceable function.
enum class BoxIcon { Error, Warning, Information };
struct BoxRequest {
    std::string text;
    std::string caption;
    BoxIcon icon = BoxIcon::Error;
    bool systemModal = false;
};
using BoxFunction = std::function<void(const BoxRequest&)>;
// Installs the box function (nullptr restores the default, which writes to stderr).
void SetBoxFunction(BoxFunction box);
// Shows a box through the installed function.
void ShowBox(const BoxRequest& request);

}  // namespace ulvarin
