#pragma once

#include <iostream>
#include <memory>
#include <string>

#include "sources/FrameSource.h"

namespace tovak::sources {

// The camera stand-in a command line names: "demo" for the scripted demo scene, anything else a
// video file or a folder of pictures. None, with the reason in error, when it cannot be opened.
// The files of a folder that are passed over are told on notes.
[[nodiscard]] std::unique_ptr<FrameSource> openSource(const std::string& name, std::string& error,
                                                      std::ostream& notes = std::cerr);

// The same, played again and again, its clock running on across the rounds (the files passed over
// told in the first round only).
[[nodiscard]] std::unique_ptr<FrameSource> openLoopingSource(const std::string& name, std::string& error,
                                                             std::ostream& notes = std::cerr);

}  // namespace tovak::sources
