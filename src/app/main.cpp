#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/GuiMain.h"
#include "app/HeadlessRunner.h"
#include "app/ScreenLockerFactory.h"

int main(int argc, char** argv) {
    using namespace tovak::app;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.options) {
        std::cerr << "tovak: " << parsed.error << "\n\n" << usageText();
        return exitUsage;
    }
    const Options& options = *parsed.options;
    if (options.help) {
        std::cout << usageText();
        return exitOk;
    }
    if (options.version) {
        std::cout << "tovak " << TOVAK_VERSION << "\n";
        return exitOk;
    }
    if (options.control != Control::none) {
        return runControl(argc, argv, options);
    }
    if (options.listCameras) {
        HeadlessEnvironment env{std::cout, std::cerr, makeScreenLocker};
        return printCameras(env);
    }
    if (!options.headless) {
        return runGui(argc, argv, options);
    }
    HeadlessEnvironment env{std::cout, std::cerr, makeScreenLocker};
    return runHeadless(options, env);
}
