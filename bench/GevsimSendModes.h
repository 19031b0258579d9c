// The send modes the built gevsim offers: the fast ones when it has --send-mode,
// else only its plain one (an empty name: no option given).
#pragma once

#include <string>
#include <vector>

#include "ChildProcess.h"

namespace Bench {

inline std::vector<std::string> GevsimSendModes() {
    std::string help;
    TestProcess::Capture(std::string(GEVSIM_PATH) + " --help", &help);
    if (help.find("--send-mode") == std::string::npos) return {""};
    return {"batch", "gso"};
}

}  // namespace Bench
