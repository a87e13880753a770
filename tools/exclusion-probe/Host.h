#pragma once
// The host plays the main application: the share view's parent, the only
// reader of its status lines, and the owner of the private windows. It takes
// orders from the probe over a socket (one line each, one answer line each)
// and passes on the share view's status lines and exit status.
//
//   to the host:   create CONNECTION KIND PARENT X Y W H   (main|second|extra; plain|menu|argb|shaped)
//                  chain PARENT X Y W H DEPTH
//                  map|unmap|raise|lower|destroy WINDOW
//                  move WINDOW X Y
//                  reparent WINDOW PARENT X Y
//                  close-extra
//   from the host: ok [WINDOW] | shareview PID | status LINE | exit STATUS

#include "ProbeWindows.h"

#include <optional>
#include <string>
#include <vector>

namespace probe {

struct HostOptions {
    int link = -1;
    std::string shareView;
    unsigned long displayID = 0;
    std::vector<Area> privateBeforeShare;  // private windows opened before the share
};

[[noreturn]] void runHost(const HostOptions& options);

}  // namespace probe
