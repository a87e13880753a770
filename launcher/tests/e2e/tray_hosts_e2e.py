"""The launcher's status item in real trays, under an Xvfb and on a session
bus of its own, looked at as the user sees it: xfce4-panel's status tray
(which hosts status-notifier items and X11 icons alike) started before, with
or after the agent, and trayer, an X11 tray. The icon is found in a picture of
the screen, a left click on it must open the menu (a new override-redirect
window), and choosing the first entry must start the main application once
with "--start-listening". Pictures of each step go to --screenshots.

Cases:
  agent-after-panel, agent-with-panel, agent-before-panel   xfce4-panel
  trayer                    X11 tray only: the X11 icon, opened by a left click
  panel-leaves-and-returns  the panel quits: the X11 icon docks in trayer;
                            the panel comes back: the item registers again,
                            and the X11 icon leaves (one icon, not two)
  host-comes-and-goes       a watcher without a host: the item registers, and
                            shows as the X11 icon in trayer until a host
                            registers, and again when the host leaves

tray_hosts_e2e.py --case CASE --launcher PATH --phase-tap PATH --bundle-id ID --screenshots DIR"""

import argparse
import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import time

import dbus

from launcher_harness import HERE, RECORDER, Agent, SessionBus, XServer, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
SCREEN = (640, 400)
TRAY_HEIGHT = 32

PANEL_CONFIGURATION = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
"""


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2


class Screen:
    """The pointer (XTEST), the root's mapped override-redirect windows, and
    pictures of the screen."""

    def __init__(self, display, screenshots, case):
        self.display = display
        self.screenshots = screenshots
        self.case = case
        self.pictures = 0
        self.xlib = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.xlib.XOpenDisplay.restype = ctypes.c_void_p
        self.xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.xlib.XDefaultRootWindow.restype = ctypes.c_ulong
        self.xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.xlib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                         ctypes.POINTER(ctypes.c_uint)]
        self.xlib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                                   ctypes.POINTER(XWindowAttributes)]
        self.xlib.XFree.argtypes = [ctypes.c_void_p]
        self.xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xlib.XSetErrorHandler.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.connection = self.xlib.XOpenDisplay(display.encode())
        if not self.connection:
            raise RuntimeError("cannot open display " + display)
        # A window may go between the listing and the question about it.
        self.ignore_errors = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda *_: 0)
        self.xlib.XSetErrorHandler(ctypes.cast(self.ignore_errors, ctypes.c_void_p))

    def close(self):
        self.xlib.XCloseDisplay(self.connection)

    def click(self, x, y, button=1):
        self.xtst.XTestFakeMotionEvent(self.connection, -1, int(x), int(y), 0)
        self.xlib.XSync(self.connection, 0)
        time.sleep(0.05)
        self.xtst.XTestFakeButtonEvent(self.connection, button, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.connection, button, 0, 0)
        self.xlib.XSync(self.connection, 0)

    def popups(self):
        """The mapped override-redirect children of the root: (id, x, y, width, height)."""
        root = self.xlib.XDefaultRootWindow(self.connection)
        root_return, parent_return = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        self.xlib.XSync(self.connection, 0)
        if not self.xlib.XQueryTree(self.connection, root, ctypes.byref(root_return), ctypes.byref(parent_return),
                                    ctypes.byref(children), ctypes.byref(count)):
            return []
        found = []
        for index in range(count.value):
            attributes = XWindowAttributes()
            if (self.xlib.XGetWindowAttributes(self.connection, children[index], ctypes.byref(attributes))
                    and attributes.override_redirect and attributes.map_state == IS_VIEWABLE):
                found.append((children[index], attributes.x, attributes.y, attributes.width, attributes.height))
        if children:
            self.xlib.XFree(children)
        return found

    def picture(self, name):
        """The screen as rows of (r, g, b); also saved as a PNG to look at."""
        width, height = SCREEN
        raw = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "rgb:-"],
                             check=True, capture_output=True).stdout
        if self.screenshots:
            self.pictures += 1
            path = os.path.join(self.screenshots, "%s-%d-%s.png" % (self.case, self.pictures, name))
            subprocess.run(["convert", "-size", "%dx%d" % SCREEN, "-depth", "8", "rgb:-", path], input=raw,
                           check=True)
        return [[tuple(raw[3 * (y * width + x): 3 * (y * width + x) + 3]) for x in range(width)]
                for y in range(height)]


def is_icon_violet(pixel):
    """The icon's face: strong blue, red and green well below it."""
    red, green, blue = pixel
    return blue >= 150 and blue - green >= 90 and blue - red >= 50


def icons_in_tray(rows):
    """The launcher icons in the tray strip, each as the centre of a run of
    columns that show the icon's colour."""
    columns = [x for x in range(SCREEN[0]) if sum(is_icon_violet(rows[y][x]) for y in range(TRAY_HEIGHT)) >= 4]
    icons, run = [], []
    for x in columns:
        if run and x > run[-1] + 2:
            icons.append(run)
            run = []
        run.append(x)
    if run:
        icons.append(run)
    centres = []
    for run in icons:
        ys = [y for y in range(TRAY_HEIGHT) for x in run if is_icon_violet(rows[y][x])]
        centres.append(((run[0] + run[-1]) / 2, (min(ys) + max(ys)) / 2))
    return centres


class Desktop:
    """The tray hosts of one test, on one display and one session bus."""

    def __init__(self, server, screenshots, case):
        self.root = tempfile.TemporaryDirectory(prefix="velto-tray-e2e-")
        configuration = os.path.join(self.root.name, "config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(configuration)
        with open(os.path.join(configuration, "xfce4-panel.xml"), "w") as panel:
            panel.write(PANEL_CONFIGURATION)
        os.makedirs(os.path.join(self.root.name, "home"))
        self.environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.path.join(self.root.name, "home"),
            "DISPLAY": server.display,
            "XDG_CONFIG_HOME": os.path.join(self.root.name, "config"),
            "XDG_CACHE_HOME": os.path.join(self.root.name, "cache"),
            "XDG_RUNTIME_DIR": self.root.name,
            "XDG_CURRENT_DESKTOP": "XFCE",
            # No accessibility bus: it only slows the panel's start.
            "NO_AT_BRIDGE": "1",
            "GTK_A11Y": "none",
        }
        # xfconfd, which serves the panel its configuration, is started by the bus.
        self.bus_daemon = SessionBus(self.environment)
        self.environment["DBUS_SESSION_BUS_ADDRESS"] = self.bus_daemon.address
        self.bus = dbus.bus.BusConnection(self.bus_daemon.address)
        self.screen = Screen(server.display, screenshots, case)
        self.panel = None
        self.trayer = None
        self.watcher = None

    def start_panel(self):
        self.panel = subprocess.Popen(["xfce4-panel", "--disable-wm-check"], env=self.environment,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop_panel(self):
        self.panel.terminate()
        self.panel.wait(timeout=10)
        expect(wait_until(lambda: not self.bus.name_has_owner(WATCHER), 5), "the panel's watcher stayed")

    def start_trayer(self):
        self.trayer = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--height", str(TRAY_HEIGHT),
                                        "--widthtype", "request", "--SetDockType", "true"], env=self.environment,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop_trayer(self):
        self.trayer.terminate()
        self.trayer.wait(timeout=10)

    def start_watcher_without_host(self):
        self.watcher = subprocess.Popen([sys.executable, os.path.join(HERE, "status_notifier_watcher.py"),
                                         "--no-host"], env=self.environment)
        expect(wait_until(lambda: self.bus.name_has_owner(WATCHER), 10), "the watcher did not start")

    def registered_items(self):
        if not self.bus.name_has_owner(WATCHER):
            return []
        try:
            watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher")
            return [str(item) for item in watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                                      dbus_interface="org.freedesktop.DBus.Properties")]
        except dbus.DBusException:
            return []

    def service_process(self, name):
        try:
            return int(self.bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                              "GetConnectionUnixProcessID", "s", [name]))
        except dbus.DBusException:
            return None

    def stop(self):
        for process in (self.panel, self.trayer, self.watcher):
            if process and process.poll() is None:
                process.terminate()
                process.wait(timeout=10)
        # The bus started xfconfd, which writes into the private configuration
        # as it ends: it must be gone before that is removed.
        settings = self.service_process("org.xfce.Xfconf")
        if settings:
            os.kill(settings, signal.SIGTERM)
            wait_until(lambda: not running(settings), 5)
        self.screen.close()
        self.bus.close()
        self.bus_daemon.stop()
        self.root.cleanup()


def running(pid):
    """Whether a process that is not our child still runs (a zombie does not)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, IndexError):
        return False


def start_agent(arguments, server, desktop):
    return Agent(arguments.launcher, arguments.phase_tap, arguments.bundle_id, server.display, RECORDER,
                 bus_address=desktop.bus_daemon.address)


def wait_for_icons(desktop, count, what):
    """The icons once the tray has settled: the same count in two pictures
    half a second apart (an icon may pass through the X11 tray on its way)."""
    found, earlier = [], []

    def settled():
        earlier[:] = found
        found[:] = icons_in_tray(desktop.screen.picture(what))
        return len(found) == count and len(earlier) == count
    expect(wait_until(settled, 10, interval=0.5),
           "%s: %d launcher icons in the tray, not %d" % (what, len(found), count))
    return found[0] if found else None


def open_menu(desktop, icon, what):
    """A left click on the icon opens the menu: a new override-redirect window."""
    before = {window[0] for window in desktop.screen.popups()}
    desktop.screen.click(*icon)
    menus = []

    def menu_shown():
        # Taller than a tooltip: the menu has two entries and a separator.
        menus[:] = [window for window in desktop.screen.popups() if window[0] not in before and window[4] >= 40]
        return bool(menus)
    expect(wait_until(menu_shown, 5), "%s: no menu opened on a left click" % what)
    desktop.screen.picture(what + "-menu")
    return menus[0]


def choose_first_entry(desktop, agent, menu):
    _, x, y, width, height = menu
    desktop.screen.click(x + width / 2, y + height / 4)
    expect(wait_until(lambda: agent.starts(), 5), "choosing the first entry started nothing: %s" % agent.phases())
    time.sleep(0.5)
    expect(agent.starts() == [["--start-listening"]], "recorder runs %s" % agent.starts())
    expect(wait_until(lambda: not any(window[0] == menu[0] for window in desktop.screen.popups()), 5),
           "the menu stayed open")


def wait_for_registration(desktop, agent):
    expect(wait_until(lambda: any(item.startswith("org.kde.StatusNotifierItem-%d-" % agent.process.pid)
                                  for item in desktop.registered_items()), 10),
           "the item did not register: %s" % desktop.registered_items())


def run_case(case, arguments, server, desktop, agents):
    def agent():
        agents.append(start_agent(arguments, server, desktop))
        expect(agents[-1].wait_for_phase("ready"), "the agent never recorded ready")
        return agents[-1]

    if case == "agent-after-panel":
        desktop.start_panel()
        expect(wait_until(lambda: desktop.bus.name_has_owner(WATCHER), 10), "the panel's watcher did not start")
        launcher = agent()
    elif case == "agent-with-panel":
        desktop.start_panel()
        launcher = agent()
    elif case == "agent-before-panel":
        launcher = agent()
        time.sleep(0.5)
        desktop.start_panel()
    elif case == "trayer":
        desktop.start_trayer()
        launcher = agent()
        menu = open_menu(desktop, wait_for_icons(desktop, 1, "x11-icon"), "x11-icon")
        choose_first_entry(desktop, launcher, menu)
        expect_running(launcher)
        return
    elif case == "panel-leaves-and-returns":
        desktop.start_panel()
        launcher = agent()
        wait_for_registration(desktop, launcher)
        wait_for_icons(desktop, 1, "panel")
        desktop.stop_panel()
        desktop.start_trayer()
        open_menu(desktop, wait_for_icons(desktop, 1, "x11-icon"), "x11-icon")
        desktop.screen.click(SCREEN[0] / 2, SCREEN[1] - 20)  # closes the menu
        desktop.stop_trayer()
        desktop.start_panel()
    elif case == "host-comes-and-goes":
        desktop.start_trayer()
        desktop.start_watcher_without_host()
        launcher = agent()
        wait_for_registration(desktop, launcher)
        wait_for_icons(desktop, 1, "x11-icon")
        desktop.watcher.send_signal(signal.SIGUSR1)
        wait_for_icons(desktop, 0, "hosted")
        desktop.watcher.send_signal(signal.SIGUSR2)
        menu = open_menu(desktop, wait_for_icons(desktop, 1, "x11-icon"), "x11-icon")
        choose_first_entry(desktop, launcher, menu)
        expect_running(launcher)
        return
    else:
        raise Failure("no case " + case)
    wait_for_registration(desktop, launcher)
    menu = open_menu(desktop, wait_for_icons(desktop, 1, "panel"), "panel")
    choose_first_entry(desktop, launcher, menu)
    expect_running(launcher)


def expect_running(agent):
    """A sanitizer that found a fault ends the agent."""
    expect(agent.process.poll() is None, "the agent ended with status %s" % agent.process.returncode)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--phase-tap", required=True)
    parser.add_argument("--bundle-id", required=True)
    parser.add_argument("--screenshots")
    arguments = parser.parse_args()
    if arguments.screenshots:
        os.makedirs(arguments.screenshots, exist_ok=True)
        for name in os.listdir(arguments.screenshots):
            if name.startswith(arguments.case + "-"):
                os.remove(os.path.join(arguments.screenshots, name))

    started = time.monotonic()
    server = XServer(size="%dx%dx24" % SCREEN)
    desktop = None
    agents = []
    try:
        desktop = Desktop(server, arguments.screenshots, arguments.case)
        run_case(arguments.case, arguments, server, desktop, agents)
        print("tray %s: passed in %.1f s" % (arguments.case, time.monotonic() - started))
        return 0
    except Failure as failure:
        print("tray %s: FAILED: %s" % (arguments.case, failure))
        for agent in agents:
            print("agent stderr:\n" + "\n".join(agent.stderr_lines()))
        return 1
    finally:
        for agent in agents:
            agent.stop()
        if desktop:
            desktop.stop()
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
