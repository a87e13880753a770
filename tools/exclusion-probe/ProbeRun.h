#pragma once
// One share from start to end as the probe sees it: its own X connection,
// the published desktop, the host with the share view, the share window and
// the sampler watching it, and the checks made along the way.

#include "Sampler.h"
#include "Scene.h"
#include "HostLink.h"

#include <memory>
#include <optional>
#include <string>

namespace probe {

struct Options {
    std::string self;        // this program, started again for the host and the other processes
    std::string shareView;
    std::string mode;        // matrix | storm
    std::string session;     // names the pictures
    std::string screenshots; // folder, may be empty
    std::optional<unsigned long> stormNumber;
    double stormSeconds = 15;
};

class ProbeRun {
public:
    explicit ProbeRun(const Options& options);
    ~ProbeRun();

    // Up to "live", with the sampler running from the moment the share window
    // shows. The desktop private window opens before the share starts.
    bool begin(const std::optional<Area>& desktopWindow);
    // Closes the share window, checks the share view's end and every region's
    // count; the process's exit status.
    int finish();

    void expect(bool condition, const std::string& what);
    void expectSpots(const std::string& what, const Area& area, int columns = 6, int rows = 5);
    SpotCheck spotCheck(const Scene& expected, const Area& area, int columns, int rows);
    void savePicture(const std::string& name);
    // Another program with one solid top-level window, and that window.
    pid_t startWindowProcess(const std::string& windowClass, unsigned long colour, const Area& area);
    std::optional<Window> windowOf(pid_t pid, const std::string& windowClass);
    // Where the window's frame (the window itself when it has none) lies;
    // the fallback when it is gone.
    Area frameArea(Window window, const Area& fallback);

    const Options& options;
    ::Display* display;
    standin::Monitor monitor;
    Scene scene;
    std::optional<HostLink> host;
    Window shareWindow = None;
    std::unique_ptr<Sampler> sampler;
    int failures = 0;

private:
    QImage picture();
    std::vector<pid_t> others_;
};

int runMatrix(ProbeRun& run);
int runStorm(ProbeRun& run);

}  // namespace probe
