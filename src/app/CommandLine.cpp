#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "monitor/IgnoredFaces.h"
#include "monitor/PrivacyMonitor.h"

namespace tovak::app {

std::string usageText() {
    return "Usage: tovak [--camera demo|PATH|/dev/videoN|NAME [--camera-node PATH]] [--headless] [--lock dry-run]\n"
           "             [--max-seconds N] [--start] [--hidden] [--detector NAME] [--realtime]\n"
           "             [--detect-every-frame] [--face-counts]\n"
           "             [--ignore-face X,Y,W,H]... [--loop] [--journal PATH] [--lock-on-leave SECONDS]\n"
           "             [--audit]\n"
           "       tovak --list-cameras\n"
           "       tovak --status [--json] | --pause DURATION | --resume | --away | --back | --stop\n"
           "\n"
           "  --camera demo      the built-in demo scene instead of the camera\n"
           "  --camera PATH      a video file or a folder of images as the camera: a PATH has a \"/\" in\n"
           "                     it (./clip.mp4) or names a file or folder that is there\n"
           "  --camera /dev/videoN\n"
           "                     this camera (also a /dev/v4l/by-id link) instead of the one chosen in\n"
           "                     the window, which waits while it is not there (a headless run ends)\n"
           "  --camera NAME      the camera its driver calls NAME, in any case of letters, as\n"
           "                     --list-cameras shows it; waited for as above\n"
           "  --list-cameras     the cameras there are: name, device, and the link that names it for good\n"
           "  --headless         no windows: one JSON object per line on standard output per event\n"
           "  --lock dry-run     report the session lock as done instead of locking\n"
           "  --max-seconds N    stop after N seconds of source time\n"
           "  --start            start monitoring at once (in the Tovak already running, if one is)\n"
           "  --hidden           only the tray icon, no window (the window when there is no tray)\n"
           "  --ignore-face X,Y,W,H\n"
           "                     with --headless: a face whose box matches this one is not a person\n"
           "                     (a poster, a photograph); fractions of the upright picture, X,Y its\n"
           "                     lower-left corner counted from the picture's lower left; repeatable\n"
           "  --detector NAME    the face detector's engine: onednn (default: oneDNN, bf16 where the\n"
           "                     CPU has it), onednn-f32 (oneDNN in f32) or opencv (OpenCV DNN)\n"
           "  --realtime         with --headless, replay the demo or a file at its own pace\n"
           "  --detect-every-frame\n"
           "                     run the face detector on every frame, also on frames whose picture\n"
           "                     did not change (by default these reuse the faces of the one before)\n"
           "  --face-counts      with --headless: a \"faces\" event at every frame whose face count\n"
           "                     differs from the frame before's, to compare two runs frame by frame\n"
           "  --loop             play the demo scene or the file again and again\n"
           "  --journal PATH     with --headless: append the journal of the run to PATH (JSON lines; a\n"
           "                     replay's times are its frames' own, 0 being 1970-01-01 00:00:00 UTC)\n"
           "  --camera-node PATH with --camera: PATH stands for the camera's device node; another program\n"
           "                     opening it makes Tovak step aside as from a real camera\n"
           "  --lock-on-leave SECONDS\n"
           "                     with --headless: lock the session SECONDS after away mode switched\n"
           "                     itself on (0: at once), unless a face comes back first\n"
           "  --audit            write what happens to the systemd journal (journalctl -t tovak); the\n"
           "                     window watching a camera always does, a replay only with it\n"
           "  --help             this text\n"
           "  --version          the version\n"
           "\n"
           "The Tovak already running, over the session bus (exit status 5 when none runs):\n"
           "  --status           whether it watches, is paused or stopped, away mode, the status line\n"
           "  --status --json    the same as one JSON object, for status bars\n"
           "  --pause DURATION   pause watching for 15m, 1h, 90s... (at most 24h)\n"
           "  --resume           end the pause\n"
           "  --away             away mode on, as \"Отошёл\"\n"
           "  --back             away mode off, as \"На месте\"\n"
           "  --stop             stop watching, as \"Стоп\"\n";
}

std::optional<double> parseDuration(const std::string& text) {
    char* end = nullptr;
    const double count = std::strtod(text.c_str(), &end);
    const std::string unit(end);
    const double scale = unit.empty() || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : 0;
    const double seconds = count * scale;
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || !std::isfinite(seconds) || seconds < 1 ||
        seconds > 24 * 3600) {
        return std::nullopt;
    }
    return seconds;
}

namespace {

// What an option does with its value (none for an option that takes none): nothing, or why the
// value is refused.
using Apply = std::function<std::optional<std::string>(Options&, const std::optional<std::string>& value)>;

struct Rule {
    const char* name;
    bool takesValue;
    Apply apply;
    // Speaks to the Tovak already running rather than configuring this one.
    bool control = false;
};

Rule flag(const char* name, bool Options::*member) {
    return {name, false, [member](Options& options, const std::optional<std::string>&) -> std::optional<std::string> {
                options.*member = true;
                return std::nullopt;
            }};
}

// A path (or "demo") that must not be empty.
Rule path(const char* name, std::optional<std::string> Options::*member, const char* refusal) {
    return {name, true,
            [member, refusal](Options& options, const std::optional<std::string>& value) -> std::optional<std::string> {
                if (!value || value->empty()) {
                    return refusal;
                }
                options.*member = *value;
                return std::nullopt;
            }};
}

// The demo, a recorded file or folder, a camera's device, or a camera's name.
std::optional<std::string> camera(Options& options, const std::optional<std::string>& value) {
    if (!value || value->empty()) {
        return "--camera needs \"demo\", a path, a camera's device or a camera's name";
    }
    // The last --camera counts.
    options.camera.reset(), options.cameraDevice.reset(), options.cameraName.reset();
    std::error_code error;
    if (value->rfind("/dev/", 0) == 0) {
        options.cameraDevice = *value;
    } else if (*value == "demo" || value->find('/') != std::string::npos || std::filesystem::exists(*value, error)) {
        options.camera = *value;
    } else {
        options.cameraName = *value;
    }
    return std::nullopt;
}

std::optional<std::string> detector(Options& options, const std::optional<std::string>& value) {
    const std::string engine = value.value_or("");
    if (engine != "onednn" && engine != "onednn-f32" && engine != "opencv") {
        return "--detector takes \"onednn\", \"onednn-f32\" or \"opencv\"";
    }
    options.detector = engine == "opencv"       ? DetectorBackend::opencv
                       : engine == "onednn-f32" ? DetectorBackend::onednnF32
                                                : DetectorBackend::onednn;
    return std::nullopt;
}

std::optional<std::string> maxSeconds(Options& options, const std::optional<std::string>& text) {
    if (!text) {
        return "--max-seconds needs a number of seconds";
    }
    char* end = nullptr;
    const double seconds = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0) {
        return "--max-seconds needs a positive number of seconds, not \"" + *text + "\"";
    }
    options.maxSeconds = seconds;
    return std::nullopt;
}

std::optional<std::string> ignoreFace(Options& options, const std::optional<std::string>& text) {
    const auto region = text ? monitor::ignored_faces::parseRegion(*text) : std::nullopt;
    if (!region) {
        return "--ignore-face needs X,Y,W,H: four fractions of the picture, W and H above 0, not \"" +
               text.value_or("") + "\"";
    }
    options.ignoredFaces.push_back(*region);
    return std::nullopt;
}

std::optional<std::string> lockOnLeave(Options& options, const std::optional<std::string>& text) {
    const std::optional<double> seconds = text ? monitor::PrivacyMonitor::parseLockOnLeave(*text) : std::nullopt;
    if (!seconds) {
        return "--lock-on-leave needs a number of seconds from 0 to 3600, not \"" + text.value_or("") + "\"";
    }
    options.lockOnLeaveSeconds = seconds;
    return std::nullopt;
}

// A command for the running Tovak; one at a time.
Rule control(const char* name, Control verb) {
    return {name, verb == Control::pause,
            [name, verb](Options& options, const std::optional<std::string>& value) -> std::optional<std::string> {
                if (options.control != Control::none) {
                    return "--status, --pause, --resume, --away, --back and --stop go one at a time";
                }
                if (verb == Control::pause) {
                    const std::optional<double> seconds = value ? parseDuration(*value) : std::nullopt;
                    if (!seconds) {
                        return std::string(name) + " needs a duration such as 15m, 1h or 90s, at most 24h, not \"" +
                               value.value_or("") + "\"";
                    }
                    options.pauseSeconds = *seconds;
                }
                options.control = verb;
                return std::nullopt;
            },
            true};
}

const std::vector<Rule>& rules() {
    static const std::vector<Rule> table = {
        flag("--help", &Options::help),
        flag("-h", &Options::help),
        flag("--version", &Options::version),
        flag("--start", &Options::startMonitoring),
        flag("--hidden", &Options::hidden),
        flag("--headless", &Options::headless),
        flag("--loop", &Options::loop),
        flag("--realtime", &Options::realtime),
        flag("--detect-every-frame", &Options::detectEveryFrame),
        flag("--face-counts", &Options::faceCounts),
        flag("--list-cameras", &Options::listCameras),
        flag("--audit", &Options::audit),
        {"--camera", true, camera},
        path("--camera-node", &Options::cameraNode, "--camera-node needs the path of a file"),
        path("--journal", &Options::journal, "--journal needs the path of a file"),
        {"--lock", true,
         [](Options& options, const std::optional<std::string>& mode) -> std::optional<std::string> {
             if (mode != "dry-run") {
                 return "--lock takes only \"dry-run\"";
             }
             options.lockDryRun = true;
             return std::nullopt;
         }},
        {"--detector", true, detector},
        {"--max-seconds", true, maxSeconds},
        {"--ignore-face", true, ignoreFace},
        {"--lock-on-leave", true, lockOnLeave},
        control("--status", Control::status),
        control("--pause", Control::pause),
        control("--resume", Control::resume),
        control("--away", Control::away),
        control("--back", Control::back),
        control("--stop", Control::stop),
        {"--json", false,
         [](Options& options, const std::optional<std::string>&) -> std::optional<std::string> {
             options.json = true;
             return std::nullopt;
         },
         true},
    };
    return table;
}

// Options that make sense only beside others.
std::optional<std::string> refusedCombination(const Options& options) {
    if (!options.ignoredFaces.empty() && !options.headless) {
        // The window keeps its marked faces in the settings; marking is done there.
        return "--ignore-face works with --headless only";
    }
    if (options.faceCounts && !options.headless) {
        return "--face-counts works with --headless only";
    }
    if (options.journal && !options.headless) {
        // The window keeps its journal where the settings say.
        return "--journal works with --headless only";
    }
    if (options.cameraNode && !options.camera) {
        return "--camera-node needs --camera demo or a path";
    }
    if (options.loop && !options.camera) {
        return "--loop needs --camera demo or a path";
    }
    if (options.lockOnLeaveSeconds && !options.headless) {
        // The window keeps the choice in the settings, where the window and the tray change it.
        return "--lock-on-leave works with --headless only";
    }
    if (options.json && options.control != Control::status) {
        return "--json goes with --status";
    }
    return std::nullopt;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    Options options;
    const auto fail = [](std::string message) { return ParsedCommandLine{std::nullopt, std::move(message)}; };
    bool configures = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto rule = std::find_if(rules().begin(), rules().end(), [&](const Rule& r) { return name == r.name; });
        if (rule == rules().end()) {
            return fail("unknown argument \"" + arguments[i] + "\"");
        }
        if (rule->takesValue && !value && i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        if (std::optional<std::string> refusal = rule->apply(options, value)) {
            return fail(std::move(*refusal));
        }
        configures = configures || !rule->control;
    }
    if (options.control != Control::none && configures) {
        return fail(
            "--status, --pause, --resume, --away, --back and --stop speak to the running Tovak and take no "
            "other option");
    }
    if (std::optional<std::string> refusal = refusedCombination(options)) {
        return fail(std::move(*refusal));
    }
    return ParsedCommandLine{options, {}};
}

}  // namespace tovak::app
