#include "ShareViewMain.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto platform = velto::shareview::makeSharePlatform();
    return velto::shareview::shareViewMain(arguments, *platform);
}
