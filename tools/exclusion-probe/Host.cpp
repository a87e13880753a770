#include "Host.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace probe {
namespace {

const std::string mainAppBundleID = VELTO_MAIN_APP_BUNDLE_ID;

class Host {
public:
    explicit Host(const HostOptions& options) : options_(options) {}
    [[noreturn]] void run();

private:
    pid_t startShareView();
    void send(const std::string& line);
    std::string obey(const std::string& order);
    ::Display* connection(const std::string& name);

    const HostOptions& options_;
    ::Display* main_ = nullptr;
    ::Display* second_ = nullptr;  // opened when first asked for: a connection made while live
    ::Display* extra_ = nullptr;   // open before the share starts, closed while live
};

void Host::send(const std::string& line) {
    const std::string text = line + "\n";
    if (write(options_.link, text.data(), text.size()) != ssize_t(text.size())) _exit(75);
}

::Display* Host::connection(const std::string& name) {
    if (name == "second") {
        if (!second_) second_ = XOpenDisplay(nullptr);
        return second_;
    }
    if (name == "extra") return extra_;
    return main_;
}

std::string Host::obey(const std::string& order) {
    std::istringstream words(order);
    std::string verb;
    words >> verb;
    if (verb == "create") {
        std::string name, kind;
        WindowRequest request;
        words >> name >> kind >> request.parent >> request.area.x >> request.area.y >> request.area.width >> request.area.height;
        request.kind = kind == "menu" ? Kind::overrideRedirect
                  : kind == "argb" ? Kind::argb
                  : kind == "shaped" ? Kind::shaped
                                     : Kind::plain;
        request.windowClass = mainAppBundleID;
        ::Display* display = connection(name);
        if (!display) return "ok 0";
        const Window window = createWindow(display, request);
        XSync(display, False);
        return "ok " + std::to_string(window);
    }
    if (verb == "chain") {
        Window parent = None;
        Area area;
        int depth = 0;
        words >> parent >> area.x >> area.y >> area.width >> area.height >> depth;
        const Window deepest = createChain(main_, parent, area, depth, privateColour);
        XSync(main_, False);
        return "ok " + std::to_string(deepest);
    }
    if (verb == "close-extra") {
        if (extra_) XCloseDisplay(extra_);
        extra_ = nullptr;
        return "ok";
    }
    Window window = None;
    words >> window;
    if (verb == "map") XMapWindow(main_, window);
    else if (verb == "unmap") XUnmapWindow(main_, window);
    else if (verb == "raise") XRaiseWindow(main_, window);
    else if (verb == "lower") XLowerWindow(main_, window);
    else if (verb == "destroy") XDestroyWindow(main_, window);
    else if (verb == "move") {
        int x = 0, y = 0;
        words >> x >> y;
        XMoveWindow(main_, window, x, y);
    } else if (verb == "reparent") {
        Window parent = None;
        int x = 0, y = 0;
        words >> parent >> x >> y;
        XReparentWindow(main_, window, parent == None ? DefaultRootWindow(main_) : parent, x, y);
    }
    XSync(main_, False);
    return "ok";
}

pid_t Host::startShareView() {
    int status[2];
    if (pipe(status) != 0) _exit(72);
    const pid_t child = fork();
    if (child == 0) {
        dup2(status[1], STDOUT_FILENO);
        close(status[0]);
        close(status[1]);
        close(options_.link);
        const std::string parent = std::to_string(getppid());
        const std::string id = std::to_string(options_.displayID);
        execl(options_.shareView.c_str(), options_.shareView.c_str(), "--parent-pid", parent.c_str(),
              "--display-id", id.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(status[1]);
    send("shareview " + std::to_string(child));
    return status[0];
}

void Host::run() {
    main_ = XOpenDisplay(nullptr);
    extra_ = XOpenDisplay(nullptr);
    if (!main_ || !extra_) _exit(70);
    for (const Area& area : options_.privateBeforeShare) {
        const Window window = createWindow(main_, {Kind::plain, None, area, privateColour, mainAppBundleID});
        XMapWindow(main_, window);
        XSync(main_, False);
        if (!standin::waitViewable(main_, window, 5)) _exit(71);
    }
    const int statusRead = startShareView();
    std::string statusBuffer, orderBuffer;
    bool statusOpen = true;
    while (statusOpen) {
        pollfd watched[2] = {{statusRead, POLLIN, 0}, {options_.link, POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) continue;
        char chunk[4096];
        if (watched[0].revents) {
            const ssize_t count = read(statusRead, chunk, sizeof chunk);
            if (count <= 0) statusOpen = false;
            else statusBuffer.append(chunk, std::size_t(count));
            for (auto end = statusBuffer.find('\n'); end != std::string::npos; end = statusBuffer.find('\n')) {
                send("status " + statusBuffer.substr(0, end));
                statusBuffer.erase(0, end + 1);
            }
        }
        if (watched[1].revents) {
            const ssize_t count = read(options_.link, chunk, sizeof chunk);
            // The probe is gone: so is the main application.
            if (count <= 0) _exit(0);
            orderBuffer.append(chunk, std::size_t(count));
            for (auto end = orderBuffer.find('\n'); end != std::string::npos; end = orderBuffer.find('\n')) {
                send(obey(orderBuffer.substr(0, end)));
                orderBuffer.erase(0, end + 1);
            }
        }
    }
    int status = 0;
    wait(&status);
    send("exit " + std::to_string(status));
    _exit(0);
}

}  // namespace

void runHost(const HostOptions& options) { Host(options).run(); }

}  // namespace probe
