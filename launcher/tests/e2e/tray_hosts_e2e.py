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
import os
import signal
import sys
import time

from launcher_harness import RECORDER, Agent, XServer, wait_until
from tray_desktop import SCREEN, WATCHER, Desktop, Failure, expect, icons_in_tray

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
