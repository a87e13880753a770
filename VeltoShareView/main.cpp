#include "ShareViewMain.h"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The parent may close its end of the status pipe, or die, before our last
    // line: the write then fails (and is ignored) instead of killing us before
    // the orderly ending. The share view starts no other program that could
    // inherit this.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto platform = velto::shareview::makeSharePlatform();
    return velto::shareview::shareViewMain(arguments, *platform);
}
