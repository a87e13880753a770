#pragma once
// One share from start to end as the probe sees it: its own X connection,
// the published desktop, the host with the share view, the share window and
// the sampler watching it, and the checks made along the way.

#include "Sampler.h"
#include "Scene.h"
#include "HostLink.h"
#include "Painter.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace probe {

struct Options {
    std::string self;        // this program, started again for the host and the other processes
    std::string shareView;
    std::string mode;        // matrix | storm | paint
    std::string session;     // names the pictures
    std::string screenshots; // folder, may be empty
    std::optional<unsigned long> stormNumber;
    double stormSeconds = 15;
    bool tiling = false;     // the window manager ignores the probe's placement
};

// A region of the screen whose leaks the sampler charges to a case.
struct NamedArea {
    std::string name;
    Area area;
};

class ProbeRun {
public:
    explicit ProbeRun(const Options& options);
    ~ProbeRun();

    // Up to "live", with the sampler running from the moment the share window
    // shows and the regions open from then. The private windows given open
    // before the share starts.
    bool begin(const std::vector<Area>& privateBeforeShare, const std::vector<NamedArea>& regions);
    // Closes the share window, checks the share view's end and every region's
    // count; the process's exit status.
    int finish();

    void expect(bool condition, const std::string& what);
    // Against the probe's own layout, which a tiling window manager ignores.
    void expectSpots(const std::string& what, const Area& area, int columns = 6, int rows = 5);
    void expectSpots(const std::string& what, const Scene& expected, const Area& area, int columns = 6,
                     int rows = 5);
    SpotCheck spotCheck(const Scene& expected, const Area& area, int columns, int rows);
    // The screen as the server stacks it now: each top-level holding one of
    // `painted` in that window's colour, those holding one of `leftOut`
    // (private windows, the share window) absent, every other one unknown.
    Scene sceneFromServer(const std::map<Window, unsigned long>& painted, const std::set<Window>& leftOut);
    // Where the share window and its frame lie, the picture shows what lies
    // beneath: never its frame, its title bar or its own picture.
    void expectShareWindowAbsent(const std::string& when);
    // Publishes a new desktop background, which every later scene expects.
    void setDesktop(std::optional<unsigned long> solid);
    void savePicture(const std::string& name);
    // Another program with one solid top-level window, and that window. With
    // `repaint`, the window has background None and its program paints it.
    pid_t startWindowProcess(const std::string& windowClass, unsigned long colour, const Area& area,
                             std::optional<Repaint> repaint = std::nullopt);
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
    std::optional<unsigned long> desktop_;
};

int runMatrix(ProbeRun& run);
int runStorm(ProbeRun& run);
int runPaint(ProbeRun& run);

}  // namespace probe
