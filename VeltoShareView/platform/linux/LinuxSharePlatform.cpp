// The share view's platform on Linux: Qt Widgets for the application, the
// window and the main queue; plain Xlib with its extensions for the displays,
// the applications and the capture.

// Qt before Xlib, whose macros would clash with its names.
#include <QApplication>
#include <QPointer>
#include <QTimer>

#include "MainThreadQueue.h"
#include "ShareWindow.h"
#include "ScreenWatch.h"
#include "SessionEnd.h"
#include "MainAppContract.h"
#include "ShareableContentX11.h"
#include "WorkerQueue.h"
#include "X11CaptureStream.h"
#include "XConnection.h"

#include <sys/utsname.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace velto::shareview {
namespace linux_platform {
namespace {

std::string osReleasePrettyName() {
    std::ifstream file("/etc/os-release");
    std::string line;
    const std::string key = "PRETTY_NAME=";
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return "Linux";
}

// A timer lives on the main loop until it is invalidated or, when it does
// not repeat, has fired: dropping the handle does not stop it.
class QtTimer final : public Timer {
public:
    QtTimer(double interval, bool repeats, std::function<void()> action) : timer_(new QTimer(qApp)) {
        timer_->setInterval(int(interval * 1000 + 0.5));
        timer_->setSingleShot(!repeats);
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_, &QTimer::timeout, timer_, [timer = timer_.data(), repeats, action] {
            if (!repeats) timer->deleteLater();
            action();
        });
        timer_->start();
    }
    void invalidate() override {
        if (!timer_) return;
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }

private:
    QPointer<QTimer> timer_;
};

class LinuxSharePlatform final : public SharePlatform {
public:
    LinuxSharePlatform() {
        // Inside another program's application object (the layer's tests).
        if (QCoreApplication::instance() != nullptr) mainThreadQueue_.attachToMainLoop();
    }

    bool preflightScreenCaptureAccess() override {
        if (x11::isWaylandSession()) return false;
        const auto connection = x11::XConnection::open();
        return connection && !x11::missingExtension(connection->display());
    }

    std::string operatingSystemVersionString() override {
        utsname system{};
        const std::string kernel = uname(&system) == 0 ? system.release : "unknown";
        return osReleasePrettyName() + ", kernel " + kernel;
    }

    std::optional<std::string> run(std::shared_ptr<ApplicationDelegate> delegate) override {
        // Qt aborts when it cannot reach a display; find out first.
        if (!x11::XConnection::open()) {
            const char* name = std::getenv("DISPLAY");
            return std::string("cannot open the X display \"") + (name ? name : "") +
                   "\"; the share view needs an X11 session.";
        }
        SessionEnd::holdTerminationSignals();
        qputenv("QT_QPA_PLATFORM", "xcb");
        // Becomes the class part of WM_CLASS, the share view's identity on X11.
        QCoreApplication::setApplicationName(QString::fromStdString(shareViewBundleID));
        static int argc = 1;
        static char programName[] = "VeltoShareView";
        static char* argv[] = {programName, nullptr};
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        mainThreadQueue_.attachToMainLoop();

        delegate_ = delegate;
        screenWatch_ = ScreenWatch::open([this] { screenParametersChanged(); });
        QTimer::singleShot(0, &application, [this, delegate] {
            delegate->applicationDidFinishLaunching();
            // With the window in place there is something to end in order.
            sessionEnd_ = std::make_unique<SessionEnd>([this] { endFromOutside(); });
        });
        QApplication::exec();
        sessionEnd_.reset();
        return std::nullopt;
    }

    void terminate() override {
        if (auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
        std::fflush(stdout);
        std::fflush(stderr);
        // Nothing may run after this: no destructor, no second status line.
        _exit(0);
    }

    void setActivationPolicyAccessory() override {}  // X11 has no Dock or menu bar to stay out of
    void activate(bool) override {}                  // the window manager decides on focus

    void postToMain(std::function<void()> work) override {
        mainThreadQueue_.post(std::move(work));
    }

    std::shared_ptr<Timer> scheduleTimer(double interval, bool repeats,
                                         std::function<void()> action) override {
        return std::make_shared<QtTimer>(interval, repeats, std::move(action));
    }

    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override {
        return std::make_shared<WorkerQueue>(label);
    }

    std::shared_ptr<Window> makeWindow(const WindowConfiguration& configuration,
                                       std::weak_ptr<WindowDelegate> delegate) override {
        windowDelegate_ = delegate;
        return std::make_shared<LinuxWindow>(configuration, std::move(delegate));
    }

    std::shared_ptr<VideoView> makeVideoView(const Rect&) override {
        // The view takes its size from the window it is installed in.
        return std::make_shared<LinuxVideoView>(shownSize_);
    }

    std::shared_ptr<Label> makeWrappingLabel(const std::string& text) override {
        return std::make_shared<LinuxLabel>(text);
    }

    void addScreenParametersObserver(std::weak_ptr<ScreenParametersObserver> observer) override {
        observers_.push_back(std::move(observer));
    }

    void removeScreenParametersObserver(const ScreenParametersObserver* observer) override {
        std::erase_if(observers_, [observer](const auto& weak) {
            const auto strong = weak.lock();
            return !strong || strong.get() == observer;
        });
    }

    int killProbe(std::int32_t pid) override { return ::kill(pid, 0); }
    std::int32_t currentProcessID() override { return ::getpid(); }

    void requestScreenCaptureAccess() override {}  // nothing to ask for on X11

    void getShareableContent(bool, bool,
                             std::function<void(ShareableContentResult)> completion) override {
        if (!contentQueue_) contentQueue_ = std::make_shared<WorkerQueue>(mainAppBundleID + ".share.content");
        contentQueue_->async([completion = std::move(completion)] {
            completion(x11::queryShareableContent());
        });
    }

    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override {
        return std::make_shared<x11::X11CaptureStream>(filter, configuration, std::move(delegate), shownSize_);
    }

private:
    // The window tells the capture at what size it shows the frames.
    const std::shared_ptr<x11::ShownSize> shownSize_ = std::make_shared<x11::ShownSize>();

    // A termination signal, or the window's X connection lost: the share view
    // ends as when its window is closed.
    void endFromOutside() {
        if (auto delegate = windowDelegate_.lock()) delegate->windowWillClose();
    }

    void screenParametersChanged() {
        // Observers may remove themselves while being told.
        const auto observers = observers_;
        for (const auto& weak : observers)
            if (auto observer = weak.lock()) observer->displayChanged();
    }

    MainThreadQueue mainThreadQueue_;
    std::weak_ptr<ApplicationDelegate> delegate_;
    std::weak_ptr<WindowDelegate> windowDelegate_;
    std::unique_ptr<SessionEnd> sessionEnd_;
    std::unique_ptr<ScreenWatch> screenWatch_;
    std::vector<std::weak_ptr<ScreenParametersObserver>> observers_;
    std::shared_ptr<WorkerQueue> contentQueue_;
};

}  // namespace
}  // namespace linux_platform

std::unique_ptr<SharePlatform> makeSharePlatform() {
    return std::make_unique<linux_platform::LinuxSharePlatform>();
}

}  // namespace velto::shareview
