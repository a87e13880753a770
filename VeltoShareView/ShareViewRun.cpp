#include "ShareViewMain.h"

#include <cstdio>

namespace velto::shareview {

int runShareView(SharePlatform&, std::int32_t, std::uint32_t) {
    std::fputs("VeltoShareView: the share view is not available in this build yet.\n", stderr);
    return 1;
}

}  // namespace velto::shareview
