// The device layer's error reports as the server hands them to its clients: the latest one
// is kept until a failure's text takes it along.
#pragma once

#include <string>

namespace ulvarin::tango_server {

// The text of the latest device error reported since the last call, then forgotten.
std::string TakeDeviceReport();
// Installs the report hook that keeps device errors for TakeDeviceReport.
void InstallReportHook();
// `what`, with the device's own report in parentheses when it gave one.
std::string WithReport(const std::string& what);

}  // namespace ulvarin::tango_server
