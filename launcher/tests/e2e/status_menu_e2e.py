"""The launcher's status item and menu as a desktop's tray sees them: on a
private session bus with a status-notifier watcher of our own, under an Xvfb
of its own. The item registers with its title and tooltip, its menu holds the
three entries in order, the first opens the main application (without a
gesture record), the gesture still works while the menu is open, and the last
entry ends the agent with status 0.
status_menu_e2e.py --launcher PATH --phase-tap PATH --bundle-id ID [--icon-png PATH]"""

import argparse
import os
import re
import struct
import subprocess
import sys
import time
import zlib

import dbus

from launcher_harness import HERE, RECORDER, Agent, Keyboard, SessionBus, XServer, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPERTIES = "org.freedesktop.DBus.Properties"

TITLE = "Velto"
TOOLTIP = "Hold right Alt for half a second to open Velto and listen"
OPEN_TITLE = "Open Velto & Start Listening   Hold right Alt"
QUIT_TITLE = "Disable shortcut until next login"


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def displayed_label(label):
    """What a host shows for a dbusmenu label: "__" is an underscore, any other
    underscore only marks the access key."""
    return "_".join(part.replace("_", "") for part in label.split("__"))


def menu_entries(menu):
    _, (_, _, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    entries = []
    for child_id, properties, _ in children:
        if properties.get("type") == "separator":
            entries.append((int(child_id), None))
        else:
            entries.append((int(child_id), displayed_label(str(properties.get("label")))))
    return entries


def click(menu, entry_id):
    # No reply awaited: the quit entry may end the agent before it answers.
    menu.Event(dbus.Int32(entry_id), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
               dbus_interface=MENU, ignore_reply=True)


def write_png(path, width, height, argb):
    """The item's icon as a PNG, to look at."""
    rows = b""
    for y in range(height):
        rows += b"\0"
        for x in range(width):
            a, r, g, b = argb[4 * (y * width + x): 4 * (y * width + x) + 4]
            rows += bytes([r, g, b, a])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def raw_labels(menu):
    _, (_, _, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    return [str(properties.get("label", "")) for _, properties, _ in children]


def check_status_menu(agent, keyboard, bus, icon_png, bundle_id):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")

    def registered_items():
        return list(watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPERTIES))

    expect(wait_until(registered_items, 10), "no status item registered")
    items = registered_items()
    expect(len(items) == 1, "registered items %s" % items)
    item = bus.get_object(items[0], "/StatusNotifierItem")
    properties = item.GetAll(ITEM, dbus_interface=PROPERTIES)
    expect(properties["Title"] == TITLE, "title %r" % properties["Title"])
    # A click opens the menu; the item is named after the launcher.
    is_menu = properties["ItemIsMenu"]
    expect(isinstance(is_menu, dbus.Boolean) and is_menu, "ItemIsMenu %r" % is_menu)
    expect(properties["Id"] == bundle_id + ".launcher", "Id %r" % properties["Id"])
    expect(properties["ToolTip"][2] == TOOLTIP, "tooltip %r" % (properties["ToolTip"],))
    pixmaps = properties["IconPixmap"]
    expect(len(pixmaps) > 0, "the item has no icon")
    if icon_png:
        width, height, argb = pixmaps[-1]
        write_png(icon_png, int(width), int(height), bytes(argb))

    menu = bus.get_object(items[0], str(properties["Menu"]))
    entries = menu_entries(menu)
    expect([label for _, label in entries] == [OPEN_TITLE, None, QUIT_TITLE], "menu %s" % entries)
    # Exactly as the user reads it: no access-key marker anywhere.
    expect(raw_labels(menu)[0] == OPEN_TITLE, "raw first label %r" % raw_labels(menu)[0])

    click(menu, entries[0][0])
    expect(agent.wait_for_phase("velto-opened"), "phases %s" % agent.phases())
    expect(wait_until(lambda: agent.starts(), 3), "the recorder never ran")
    expect(agent.starts() == [["--start-listening"]], "recorder runs %s" % agent.starts())
    expect(agent.phases() == ["ready", "opening-velto", "velto-opened"], "phases %s" % agent.phases())
    # No key has been pressed yet: the time in the startup identifier is
    # that of the menu choice.
    expect(wait_until(lambda: agent.startup_ids(), 3), "no startup identifier recorded")
    expect(re.search(r"_TIME[1-9]\d*$", agent.startup_ids()[0]), "startup ids %s" % agent.startup_ids())

    # The host opens the menu; the poll goes on meanwhile.
    menu.AboutToShow(dbus.Int32(0), dbus_interface=MENU)
    menu.Event(dbus.Int32(0), "opened", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)
    keyboard.hold("Alt_R", 0.7)
    expect(wait_until(lambda: len(agent.starts()) == 2 and len(agent.phases()) == 6, 3),
           "gesture with the menu open: %s" % agent.phases())
    expect(agent.phases()[3:] == ["hold-accepted", "opening-velto", "velto-opened"], "phases %s" % agent.phases())

    click(menu, entries[2][0])
    try:
        status = agent.process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        raise Failure("the quit entry did not end the agent")
    expect(status == 0, "exit status %s" % status)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--phase-tap", required=True)
    parser.add_argument("--bundle-id", required=True)
    parser.add_argument("--icon-png")
    arguments = parser.parse_args()

    server = XServer()
    session = SessionBus()
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = session.address
    watcher = subprocess.Popen([sys.executable, os.path.join(HERE, "status_notifier_watcher.py")])
    agent = None
    keyboard = Keyboard(server.display)
    try:
        bus = dbus.SessionBus()
        if not wait_until(lambda: bus.name_has_owner(WATCHER), 10):
            raise Failure("the watcher did not start")
        agent = Agent(arguments.launcher, arguments.phase_tap, arguments.bundle_id, server.display, RECORDER,
                      bus_address=session.address)
        if not agent.wait_for_phase("ready"):
            raise Failure("the agent never recorded ready")
        check_status_menu(agent, keyboard, bus, arguments.icon_png, arguments.bundle_id)
        print("status menu: passed")
        return 0
    except Failure as failure:
        print("status menu: FAILED: %s" % failure)
        if agent:
            print("agent stderr:\n" + "\n".join(agent.stderr_lines()))
        return 1
    finally:
        if agent:
            agent.stop()
        keyboard.close()
        watcher.kill()
        watcher.wait()
        session.stop()
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
