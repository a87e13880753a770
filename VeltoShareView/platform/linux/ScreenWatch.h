#pragma once
// RandR change notifications, read on the main thread from a connection of
// their own so that Qt's event handling stays untouched. Only a change of the
// screen configuration (ScreenConfiguration.h) is passed on.

#include <QObject>
#include <QSocketNotifier>

#include "ScreenConfiguration.h"
#include "XConnection.h"

#include <functional>
#include <memory>
#include <optional>

namespace velto::shareview::linux_platform {

class ScreenWatch final : public QObject {
public:
    // Nothing when the display cannot be opened.
    static std::unique_ptr<ScreenWatch> open(std::function<void()> onChange);

private:
    ScreenWatch(std::unique_ptr<x11::XConnection> connection, std::function<void()> onChange);
    void readEvents();
    // Nothing when the server did not answer.
    std::optional<ScreenConfiguration> readConfiguration();

    std::unique_ptr<x11::XConnection> connection_;
    std::function<void()> onChange_;
    int randrEventBase_ = 0;
    std::optional<ScreenConfiguration> configuration_;
    QSocketNotifier notifier_;
};

}  // namespace velto::shareview::linux_platform
