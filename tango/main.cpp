// ulvarin-tango: a Tango device server of class UlvarinDetector, one device per interface.
//   ulvarin-tango INSTANCE                       devices from the Tango database
//   ulvarin-tango INSTANCE -nodb -dlist a/b/c -ORBendPoint giop:tcp:HOST:PORT
//   ulvarin-tango INSTANCE -file=PROPERTIES.res -ORBendPoint giop:tcp:HOST:PORT
// SIGTERM and SIGINT end the server through the library's own shutdown, which deletes the
// devices: a run ends with its file closed, and the interface is closed.
#include <tango.h>

#include <cstdio>

#include "backends/standard_backends.h"
#include "tango/detector.h"
#include "tango/detector_device.h"

void Tango::DServer::class_factory() {
    add_class(ulvarin::tango_server::DetectorDeviceClass::Init("UlvarinDetector"));
}

int main(int argc, char* argv[]) {
    ulvarin::RegisterStandardBackends();
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
