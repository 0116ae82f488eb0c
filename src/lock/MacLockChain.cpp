#include "lock/MacLockChain.h"

#include "lock/LockMethods.h"
#include "system/Process.h"

namespace tovak::lock {

LockChain macLockChain(std::shared_ptr<system::ScriptRunner> runner, MacLockPaths paths) {
    LockChain chain;
    chain.failureMessage = macLockFailureMessage;
    chain.methods = {
        {"login library", [p = paths] { return callLibrarySymbol(p.firstLibrary, p.symbol); }},
        {"login library (second place)", [p = paths] { return callLibrarySymbol(p.secondLibrary, p.symbol); }},
        {"CGSession -suspend",
         [p = paths] { return system::runToolAndWait(p.sessionTool, {"-suspend"}, sessionToolTimeoutSeconds); }},
        {"System Events keystroke", [runner] { return runner && runner->run(macLockKeystrokeScript); }},
    };
    return chain;
}

}  // namespace tovak::lock
