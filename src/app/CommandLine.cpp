#include "app/CommandLine.h"

#include <cmath>
#include <cstdlib>

#include "monitor/IgnoredFaces.h"

namespace tovak::app {

std::string usageText() {
    return "Usage: tovak [--camera demo|PATH [--camera-node PATH]] [--headless] [--lock dry-run] [--max-seconds N]\n"
           "             [--start] [--hidden] [--detector NAME] [--realtime]\n"
           "             [--ignore-face X,Y,W,H]... [--loop] [--journal PATH]\n"
           "\n"
           "  --camera demo      the built-in demo scene instead of the camera\n"
           "  --camera PATH      a video file or a folder of images as the camera\n"
           "  --headless         no windows: one JSON object per line on standard output per event\n"
           "  --lock dry-run     report the session lock as done instead of locking\n"
           "  --max-seconds N    stop after N seconds of source time\n"
           "  --start            start monitoring at once\n"
           "  --hidden           only the tray icon, no window (the window when there is no tray)\n"
           "  --ignore-face X,Y,W,H\n"
           "                     with --headless: a face whose box matches this one is not a person\n"
           "                     (a poster, a photograph); fractions of the upright picture, X,Y its\n"
           "                     lower-left corner counted from the picture's lower left; repeatable\n"
           "  --detector NAME    the face detector's engine: onednn (default: oneDNN, bf16 where the\n"
           "                     CPU has it), onednn-f32 (oneDNN in f32) or opencv (OpenCV DNN)\n"
           "  --realtime         with --headless, replay the demo or a file at its own pace\n"
           "  --loop             play the demo scene or the file again and again\n"
           "  --journal PATH     with --headless: append the journal of the run to PATH (JSON lines; a\n"
           "                     replay's times are its frames' own, 0 being 1970-01-01 00:00:00 UTC)\n"
           "  --camera-node PATH with --camera: PATH stands for the camera's device node; another program\n"
           "                     opening it makes Tovak step aside as from a real camera\n"
           "  --help             this text\n"
           "  --version          the version\n";
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    Options options;
    const auto fail = [](std::string message) { return ParsedCommandLine{std::nullopt, std::move(message)}; };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--start") {
            options.startMonitoring = true;
        } else if (name == "--hidden") {
            options.hidden = true;
        } else if (name == "--headless") {
            options.headless = true;
        } else if (name == "--loop") {
            options.loop = true;
        } else if (name == "--camera") {
            const auto camera = takeValue();
            if (!camera || camera->empty()) {
                return fail("--camera needs \"demo\" or a path");
            }
            options.camera = *camera;
        } else if (name == "--lock") {
            const auto mode = takeValue();
            if (!mode || *mode != "dry-run") {
                return fail("--lock takes only \"dry-run\"");
            }
            options.lockDryRun = true;
        } else if (name == "--detector") {
            const auto engine = takeValue().value_or("");
            if (engine != "onednn" && engine != "onednn-f32" && engine != "opencv") {
                return fail("--detector takes \"onednn\", \"onednn-f32\" or \"opencv\"");
            }
            options.detector = engine == "opencv"       ? DetectorBackend::opencv
                               : engine == "onednn-f32" ? DetectorBackend::onednnF32
                                                        : DetectorBackend::onednn;
        } else if (name == "--realtime") {
            options.realtime = true;
        } else if (name == "--camera-node") {
            const auto path = takeValue();
            if (!path || path->empty()) {
                return fail("--camera-node needs the path of a file");
            }
            options.cameraNode = *path;
        } else if (name == "--journal") {
            const auto path = takeValue();
            if (!path || path->empty()) {
                return fail("--journal needs the path of a file");
            }
            options.journal = *path;
        } else if (name == "--max-seconds") {
            const auto text = takeValue();
            if (!text) {
                return fail("--max-seconds needs a number of seconds");
            }
            char* end = nullptr;
            const double seconds = std::strtod(text->c_str(), &end);
            if (text->empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0) {
                return fail("--max-seconds needs a positive number of seconds, not \"" + *text + "\"");
            }
            options.maxSeconds = seconds;
        } else if (name == "--ignore-face") {
            const auto text = takeValue();
            const auto region = text ? monitor::ignored_faces::parseRegion(*text) : std::nullopt;
            if (!region) {
                return fail("--ignore-face needs X,Y,W,H: four fractions of the picture, W and H above 0, not \"" +
                            text.value_or("") + "\"");
            }
            options.ignoredFaces.push_back(*region);
        } else {
            return fail("unknown argument \"" + arguments[i] + "\"");
        }
    }
    if (!options.ignoredFaces.empty() && !options.headless) {
        // The window keeps its marked faces in the settings; marking is done there.
        return fail("--ignore-face works with --headless only");
    }
    if (options.journal && !options.headless) {
        // The window keeps its journal where the settings say.
        return fail("--journal works with --headless only");
    }
    if (options.cameraNode && !options.camera) {
        return fail("--camera-node needs --camera demo or a path");
    }
    if (options.loop && !options.camera) {
        return fail("--loop needs --camera demo or a path");
    }
    return ParsedCommandLine{options, {}};
}

}  // namespace tovak::app
