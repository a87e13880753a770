"""The desktop of the tray tests: an Xvfb's pointer, windows and pictures
(Screen), and the tray hosts on a session bus of their own (Desktop):
xfce4-panel with a private configuration, trayer, or a status-notifier
watcher whose host comes and goes."""

import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import time

import dbus

from launcher_harness import HERE, SessionBus, wait_until

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
