#pragma once
// Windows drawn the way GTK, Qt and browsers draw theirs: background None,
// so the X server leaves whatever it filled a new area with until the
// program paints there on Expose. The delay of that answer is what a share
// must not show the screen through.

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace probe {

enum class Repaint {
    atOnce,  // answers each Expose at once
    late,    // a quarter second after the Expose, as a busy program does
    never,   // draws once after its first Expose, never again
};

std::optional<Repaint> repaintNamed(const std::string& name);
std::string nameOf(Repaint repaint);

// Paints adopted windows, on a connection of its own, in one solid colour
// each, whoever created them.
class Painter {
public:
    Painter();
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    ::Display* display() const { return display_; }
    // Before the window is first mapped, or its first Expose is missed.
    void adopt(Window window, unsigned long colour, Repaint repaint);
    // Serves on a thread of its own until destroyed.
    void start();
    // Serves on the calling thread for good.
    [[noreturn]] void serveForever();

private:
    using Clock = std::chrono::steady_clock;
    struct Painted {
        unsigned long colour = 0;
        Repaint repaint = Repaint::atOnce;
        bool paintedOnce = false;
        std::optional<Clock::time_point> due;
    };
    // One pass over pending events and due paints; how long until the next.
    std::chrono::milliseconds serveOnce();
    void exposed(Window window);
    void paint(Window window, Painted& painted);

    ::Display* display_;
    GC gc_ = nullptr;
    std::mutex mutex_;
    std::map<Window, Painted> windows_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace probe
