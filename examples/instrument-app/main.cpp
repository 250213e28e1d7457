// instrument-app: the example application on the framework. It starts like any instrument
// application (command line, daemon, log, configuration, registry, ORB), serves the registry
// as corbaloc::HOST:PORT/Application, and stops on SIGINT, SIGTERM, SIGHUP or SIGQUIT.
//
//   instrument-app --no-daemon -p 5679 -L /tmp/ -l app.log -c /tmp/app.xml [--config-registry]
//                  [-P <build>/plugins/] [-b kvr:///test/1]
//   instrument-app --help
//
// Exit code 0 after a signal stopped it, 1 when it did not start (or after help or version).

#include "common/types_schema.h"
#include "instrument_app.h"
#include "istd/log.h"

int main(int argc, char** argv)
{
    instrument::InstrumentApp app(instrument::WantsConfigRegistry(argc, argv), examples::DefaultTypesSchema());
    const bool stopped = app.Run(argc, argv);
    if (stopped) {
        istd::LogInfo("Stopped.");
    }
    return stopped ? 0 : 1;
}
