"""What the launcher's end-to-end tests share: an Xvfb of their own, keys
injected through XTEST by keycode, a private home with a desktop entry for the
main application whose command is a recorder, and the real VeltoLauncher."""

import ctypes
import json
import os
import select
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RECORDER = os.path.join(HERE, "recorder.sh")
RECORD_SEPARATOR = "\x1e"


class XServer:
    def __init__(self, extra_arguments=(), size="320x240x24"):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
             "-screen", "0", size, *extra_arguments],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                self.process.kill()
                raise RuntimeError("Xvfb did not report its display")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class SessionBus:
    """A private session bus; services it starts get `environment`."""

    def __init__(self, environment=None):
        self.process = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                        env=environment)
        self.address = self.process.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon reported no address")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Keyboard:
    """XTEST key events by keycode, as a physical keyboard would send them."""

    def __init__(self, display):
        self.xlib = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.xlib.XOpenDisplay.restype = ctypes.c_void_p
        self.xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.xlib.XStringToKeysym.restype = ctypes.c_ulong
        self.xlib.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.xlib.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xlib.XFlush.argtypes = [ctypes.c_void_p]
        self.xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xlib.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                     ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.keycodes = {}
        self.connection = self.xlib.XOpenDisplay(display.encode())
        if not self.connection:
            raise RuntimeError("cannot open display " + display)

    def keycode(self, keysym_name):
        """The key that produced this keysym when first asked, even after a remap."""
        if keysym_name not in self.keycodes:
            code = self.xlib.XKeysymToKeycode(self.connection, self.xlib.XStringToKeysym(keysym_name.encode()))
            if not code:
                raise RuntimeError("no key produces " + keysym_name)
            self.keycodes[keysym_name] = code
        return self.keycodes[keysym_name]

    def remap(self, keysym_name, new_keysym_name):
        """Makes the key of `keysym_name` produce `new_keysym_name`, as xmodmap would."""
        keysym = ctypes.c_ulong(self.xlib.XStringToKeysym(new_keysym_name.encode()))
        self.xlib.XChangeKeyboardMapping(self.connection, self.keycode(keysym_name), 1, ctypes.byref(keysym), 1)
        self.xlib.XSync(self.connection, 0)

    def _send(self, keysym_name, down):
        self.xtst.XTestFakeKeyEvent(self.connection, self.keycode(keysym_name), 1 if down else 0, 0)
        self.xlib.XSync(self.connection, 0)

    def press(self, *names):
        for name in names:
            self._send(name, True)

    def release(self, *names):
        for name in reversed(names):
            self._send(name, False)

    def tap(self, name):
        self.press(name)
        self.release(name)

    def hold(self, name, seconds):
        self.press(name)
        time.sleep(seconds)
        self.release(name)

    def close(self):
        self.xlib.XCloseDisplay(self.connection)


def wait_until(condition, timeout, interval=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


class Agent:
    """One VeltoLauncher run in a private home, with the records it leaves."""

    def __init__(self, launcher, phase_tap, bundle_id, display, exec_line=None, bus_address=None,
                 before_start=None, extra_environment=None):
        self.launcher = launcher
        self.root = tempfile.TemporaryDirectory(prefix="velto-launcher-e2e-")
        base = self.root.name
        self.state_directory = os.path.join(base, "state", "VeltoLauncher")
        os.makedirs(self.state_directory)
        os.makedirs(os.path.join(base, "home"))
        applications = os.path.join(base, "data", "applications")
        os.makedirs(applications)
        os.makedirs(os.path.join(base, "system-data"))
        if exec_line is not None:
            with open(os.path.join(applications, bundle_id + ".desktop"), "w") as entry:
                entry.write("[Desktop Entry]\nType=Application\nName=Velto\nExec=%s\n" % exec_line)
        self.recorder_log = os.path.join(base, "recorder.log")
        self.phase_log = os.path.join(base, "phases")
        self.stderr_path = os.path.join(base, "stderr")
        self.environment = environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.path.join(base, "home"),
            "XDG_STATE_HOME": os.path.join(base, "state"),
            "XDG_DATA_HOME": os.path.join(base, "data"),
            "XDG_DATA_DIRS": os.path.join(base, "system-data"),
            "XDG_RUNTIME_DIR": base,
            **({"DISPLAY": display} if display else {}),
            "QT_QPA_PLATFORM": "xcb",
            # Without a bus the agent must still run; an unreachable address
            # also keeps libdbus from starting one of its own.
            "DBUS_SESSION_BUS_ADDRESS": bus_address or "unix:path=" + os.path.join(base, "no-bus"),
            "LD_PRELOAD": phase_tap,
            "VELTO_PHASE_TAP": self.phase_log,
            "VELTO_RECORDER_LOG": self.recorder_log,
        }
        # A sanitizer build's settings (halt on error, suppressions) hold for the agent too.
        environment.update({name: value for name, value in os.environ.items() if name.endswith("SAN_OPTIONS")})
        environment.update(extra_environment or {})
        if before_start:
            before_start(self)
        self.stderr = open(self.stderr_path, "w")
        self.process = subprocess.Popen([launcher], env=environment, stdout=subprocess.DEVNULL, stderr=self.stderr)

    def start_another(self):
        """A second agent for the same user and display, as a second login
        script or a manual start would run it."""
        return subprocess.Popen([self.launcher], env=self.environment, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True)

    def phases(self):
        try:
            with open(self.phase_log) as log:
                records = log.read().split(RECORD_SEPARATOR)
        except FileNotFoundError:
            return []
        return [json.loads(record)["phase"] for record in records if record.strip()]

    def state(self):
        with open(os.path.join(self.state_directory, "launcher-state.json")) as state:
            return json.load(state)

    def _recorded(self, kind):
        try:
            with open(self.recorder_log) as log:
                return [line.rstrip("\n").split("\t")[1:] for line in log if line.split("\t")[0] == kind]
        except FileNotFoundError:
            return []

    def starts(self):
        """The recorder's runs, each as its argument list."""
        return self._recorded("start")

    def startup_ids(self):
        """DESKTOP_STARTUP_ID as each of the recorder's runs found it."""
        return [fields[0] if fields else "" for fields in self._recorded("startup-id")]

    def activation_tokens(self):
        """XDG_ACTIVATION_TOKEN as each of the recorder's runs found it."""
        return [fields[0] if fields else "" for fields in self._recorded("activation-token")]

    def stderr_lines(self):
        with open(self.stderr_path) as text:
            return text.read().splitlines()

    def wait_for_phase(self, phase, timeout=5):
        return wait_until(lambda: phase in self.phases(), timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self.stderr.close()
        self.root.cleanup()
