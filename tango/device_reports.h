// The device layer's error reports as the server hands them to its clients: the latest one
// is kept until a failure's text takes it along.
#pragma once

#include <string>

#include "session/interface_session.h"

namespace ulvarin::tango_server {

// The text of the latest device error reported outside any open interface since the last
// call, then forgotten.
std::string TakeDeviceReport();
// Keeps device errors made outside any open interface for TakeDeviceReport; an open
// interface keeps its own (InterfaceSession::TakeLastError).
void InstallReportHook();
// `what`, with the device's own report in parentheses when it gave one: `session`'s latest
// error, or without one (or with none) the latest outside any interface.
std::string WithReport(const std::string& what, InterfaceSession* session = nullptr);

}  // namespace ulvarin::tango_server
