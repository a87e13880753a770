#pragma once
// RandR change notifications, read on the main thread from a connection of
// their own so that Qt's event handling stays untouched.

#include <QObject>
#include <QSocketNotifier>

#include "XConnection.h"

#include <functional>
#include <memory>

namespace velto::shareview::linux_platform {

class ScreenWatch final : public QObject {
public:
    // Nothing when the display cannot be opened.
    static std::unique_ptr<ScreenWatch> open(std::function<void()> onChange);

private:
    ScreenWatch(std::unique_ptr<x11::XConnection> connection, std::function<void()> onChange);
    void readEvents();

    std::unique_ptr<x11::XConnection> connection_;
    std::function<void()> onChange_;
    int randrEventBase_ = 0;
    QSocketNotifier notifier_;
};

}  // namespace velto::shareview::linux_platform
