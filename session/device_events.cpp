#include "session/device_events.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "device/report.h"

namespace ulvarin {
namespace {

// Callbacks run under a shared lock, so a listener going away (exclusive lock) waits for a
// call to its callback to return and never frees what the call still uses.
struct Router {
    std::shared_mutex mutex;
    std::map<const MpxDevice*, BackgroundCallback> background;
    std::map<const MpxDevice*, ReportCallback> reports;
    ReportCallback unclaimed;
};

Router& TheRouter() {
    static Router router;
    return router;
}

void RouteBackground(MpxDevice& handle, MpxCommandResponse& record, void*) {
    Router& r = TheRouter();
    std::shared_lock lock(r.mutex);
    const auto it = r.background.find(&handle);
    if (it != r.background.end()) it->second(handle, record);
}

void RouteReport(MpxDevice& handle, void*) {
    Router& r = TheRouter();
    std::shared_lock lock(r.mutex);
    const auto it = r.reports.find(&handle);
    if (it != r.reports.end())
        it->second(handle);
    else if (r.unclaimed)
        r.unclaimed(handle);
    else
        handle.Clear();
}

// A listener (re)installs its hook, so a test that installed hooks of its own in between
// cannot leave the router deaf; the hooks then stay, as removing one while another thread's
// run is draining would lose its frames.
void InstallRouter(const BackgroundCallback*) {
    SetBackgroundHook(RouteBackground, nullptr);
}

void InstallRouter(const ReportCallback*) {
    SetReportHook(RouteReport, nullptr);
}

template <typename Callback>
void Add(std::map<const MpxDevice*, Callback>& map, const MpxDevice& handle, Callback callback) {
    InstallRouter(static_cast<const Callback*>(nullptr));
    std::unique_lock lock(TheRouter().mutex);
    map[&handle] = std::move(callback);
}

template <typename Callback>
void Remove(std::map<const MpxDevice*, Callback>& map, const MpxDevice& handle) {
    std::unique_lock lock(TheRouter().mutex);
    map.erase(&handle);
}

}  // namespace

BackgroundListener::BackgroundListener(MpxDevice& handle, BackgroundCallback callback)
    : handle_(handle) {
    Add(TheRouter().background, handle, std::move(callback));
}

BackgroundListener::~BackgroundListener() {
    Remove(TheRouter().background, handle_);
}

ReportListener::ReportListener(MpxDevice& handle, ReportCallback callback) : handle_(handle) {
    Add(TheRouter().reports, handle, std::move(callback));
}

ReportListener::~ReportListener() {
    Remove(TheRouter().reports, handle_);
}

void SetUnclaimedReportCallback(ReportCallback callback) {
    InstallRouter(static_cast<const ReportCallback*>(nullptr));
    std::unique_lock lock(TheRouter().mutex);
    TheRouter().unclaimed = std::move(callback);
}

}  // namespace ulvarin
