// instrument-app: the example application on the framework. It starts like any instrument
// application (command line, daemon, log, configuration, registry, ORB), serves the registry
// as corbaloc::HOST:PORT/Application, and stops on SIGINT, SIGTERM, SIGHUP or SIGQUIT.
//
//   instrument-app --no-daemon -p 5679 -L /tmp/ -l app.log -c /tmp/app.xml [--config-registry]
//                  [-P <build>/plugins/] [-b kvr:///test/1]
//   instrument-app --help
//
// Exit code 0 after a signal stopped it, 1 when it did not start (or after help or version).

#include <sys/stat.h>

#include "instrument_app.h"

namespace {

// The installed types schema, else the build tree's copy.
std::string TypesSchema()
{
    struct stat info {};
    return ::stat(INSTRUMENT_APP_INSTALLED_TYPES_SCHEMA, &info) == 0 ? INSTRUMENT_APP_INSTALLED_TYPES_SCHEMA
                                                                      : INSTRUMENT_APP_BUILD_TYPES_SCHEMA;
}

} // namespace

int main(int argc, char** argv)
{
    instrument::InstrumentApp app(instrument::WantsConfigRegistry(argc, argv), TypesSchema());
    return app.Run(argc, argv) ? 0 : 1;
}
