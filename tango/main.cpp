// ulvarin-tango: a Tango device server of class UlvarinDetector, one device per interface.
//   ulvarin-tango INSTANCE                       devices from the Tango database
//   ulvarin-tango INSTANCE -nodb -dlist a/b/c -ORBendPoint giop:tcp:HOST:PORT
//   ulvarin-tango INSTANCE -file=PROPERTIES.res -ORBendPoint giop:tcp:HOST:PORT
// SIGTERM and SIGINT end the server through the library's own shutdown, which deletes the
// devices: a run ends with its file closed, and the interface is closed.
#include <tango.h>

#include <cstdio>

#include "standard_drivers/standard_drivers.h"
#include "base/program_version.h"
#include "tango/detector.h"
#include "tango/detector_device.h"
#include "tango/device_reports.h"

namespace {

constexpr const char* kUsage =
    "Usage: ulvarin-tango INSTANCE [-v[LEVEL]] [-file=PROPERTIES.res | -nodb [-dlist DEVICE]]\n"
    "       [-ORBendPoint giop:tcp:HOST:PORT]\n"
    "Tango device server of class UlvarinDetector: one pixel detector interface per device\n"
    "(state, acquisition settings, DACs, acquisitions, scans, threshold equalisation and the\n"
    "last frame). Its property Interface chooses the interface (a description, an index or an\n"
    "emulated set such as timepix:4); without it the first one listed.\n"
    "\n"
    "  INSTANCE              the server's instance name, as registered in the database\n"
    "  -nodb -dlist DEVICE   run without a Tango database, serving DEVICE (a/b/c)\n"
    "  -file=FILE            run without a database, devices and properties from FILE\n"
    "  -ORBendPoint ADDRESS  where clients connect when there is no database\n"
    "  -h, --help            show this help and exit\n"
    "  --version             show the version and exit\n";

}  // namespace

void Tango::DServer::class_factory() {
    add_class(ulvarin::tango_server::DetectorDeviceClass::Init("UlvarinDetector"));
}

int main(int argc, char* argv[]) {
    if (ulvarin::AnswerHelpOrVersion(argc, argv, "ulvarin-tango", kUsage)) return 0;
    ulvarin::RegisterStandardDrivers();
    ulvarin::tango_server::InstallReportHook();
    if (const std::string warning = ulvarin::EmulatorSetWarning(); !warning.empty())
        std::fprintf(stderr, "ulvarin-tango: %s\n", warning.c_str());
    try {
        Tango::Util* util = Tango::Util::init(argc, argv);
        util->server_init(false);
        std::printf("Ready to accept request\n");
        std::fflush(stdout);
        util->server_run();
        util->server_cleanup();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "ulvarin-tango: out of memory\n");
        return 1;
    } catch (const CORBA::Exception& e) {
        Tango::Except::print_exception(e);
        return 1;
    }
    return 0;
}
