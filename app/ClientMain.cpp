#include <cstdio>
#include <exception>

#include <QApplication>

#include "app/Headless.h"
#include "app/MainWindow.h"
#include "remote/ServiceSettings.h"

namespace app {

int runClient(const std::vector<std::string>& args) {
    ClientOptions options;
    remote::ServiceSettings settings;
    try {
        options = parseCommandLine(args);
        settings = remote::resolveServiceSettings(options.service, options.serviceCa);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrix-client: %s\n%s\n", e.what(), usageText());
        return kExitUsage;
    }
    try {
        if (options.mode != ClientOptions::Mode::kWindow) {
            return runHeadless(options, settings);
        }
        MainWindow window;
        window.setServiceSettings(settings);
        window.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        // Commands catch their own errors; this is the last guard for a failure while starting up.
        std::fprintf(stderr, "kestrix-client: %s\n", e.what());
        return kExitFailure;
    }
}

}  // namespace app
