"""End-to-end cases of the real VeltoLauncher under an Xvfb of its own: the
right Alt gesture, what spoils it, and how opening the main application ends.
One case per run: launcher_e2e.py --case NAME --launcher PATH --phase-tap PATH
--bundle-id ID."""

import argparse
import os
import re
import signal
import subprocess
import sys
import time

from launcher_harness import RECORDER, Agent, Keyboard, XServer, wait_until

GESTURE = "Alt_R"
HOLD = 1.0            # about half a second, with room for a loaded machine (or a sanitizer build)
SPOILED_HOLD = 1.0    # long enough that it would open if nothing spoiled it
OPENED = ["ready", "hold-accepted", "opening-velto", "velto-opened"]


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_opened_once(agent):
    expect(agent.wait_for_phase("velto-opened"), "not opened; phases %s" % agent.phases())
    expect(wait_until(lambda: agent.starts(), 3), "the recorder never ran")
    time.sleep(0.3)  # a second, wrong start would show up by now
    expect(agent.starts() == [["--start-listening"]], "recorder runs %s" % agent.starts())
    expect(agent.phases() == OPENED, "phases %s" % agent.phases())
    expect(agent.state()["phase"] == "velto-opened", "state file %s" % agent.state())


def expect_nothing_opened_then_clean_hold_opens(agent, keyboard):
    time.sleep(0.2)
    expect(agent.starts() == [], "opened anyway: %s" % agent.starts())
    expect(agent.phases() == ["ready"], "phases %s" % agent.phases())
    # The agent is alive and the spoiled press is over: a clean hold works.
    keyboard.hold(GESTURE, HOLD)
    expect_opened_once(agent)


def case_ready_right_after_start(agent, keyboard):
    expect(agent.wait_for_phase("ready", timeout=3), "no ready record")
    time.sleep(0.5)
    expect(agent.phases() == ["ready"], "phases %s" % agent.phases())
    record = agent.state()
    expect(record["phase"] == "ready", "state file %s" % record)


def case_hold_half_second_opens_once(agent, keyboard):
    keyboard.hold(GESTURE, HOLD)
    expect_opened_once(agent)
    # A startup-notification identifier whose time is the X server's time
    # of a key event, so the window manager may give the new window focus.
    ids = agent.startup_ids()
    expect(len(ids) == 1 and re.fullmatch(r"\S+-\d+-\S*-\d+_TIME[1-9]\d*", ids[0]), "startup ids %s" % ids)


def case_held_letter_then_right_alt(agent, keyboard):
    # A held letter types on by auto-repeat, which makes no raw key events:
    # the hold must be spoiled all the same.
    keyboard.press("a")
    time.sleep(0.2)
    keyboard.press(GESTURE)
    time.sleep(0.9)
    keyboard.release(GESTURE)
    keyboard.release("a")
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


def case_second_agent_ends_at_once(agent, keyboard):
    second = agent.start_another()
    try:
        status = second.wait(timeout=3)
    except subprocess.TimeoutExpired:
        second.kill()
        second.wait()
        raise Failure("the second agent still runs after 3 s")
    expect(status == 0, "second agent: exit status %s, stderr %r" % (status, second.stderr.read()))
    expect(agent.process.poll() is None, "the first agent ended")
    keyboard.hold(GESTURE, HOLD)
    expect_opened_once(agent)


def case_wayland_session(agent, keyboard):
    # Said once at start; the opened program also gets an activation token.
    lines = agent.stderr_lines()
    expect(len(lines) == 1 and "Wayland" in lines[0] and "Xwayland" in lines[0], "stderr %s" % lines)
    keyboard.hold(GESTURE, HOLD)
    expect_opened_once(agent)
    expect(wait_until(lambda: agent.activation_tokens(), 3), "no activation token recorded")
    ids, tokens = agent.startup_ids(), agent.activation_tokens()
    expect(tokens == ids and tokens[0], "startup ids %s, activation tokens %s" % (ids, tokens))
    expect(agent.stderr_lines() == lines, "stderr %s" % agent.stderr_lines())


def case_without_raw_key_events(agent, keyboard):
    # The key state read at every poll: said once; a key typed as a person
    # types (down for longer than a poll) still spoils the hold.
    lines = agent.stderr_lines()
    expect(len(lines) == 1 and "XInput 2" in lines[0], "stderr %s" % lines)
    keyboard.press(GESTURE)
    time.sleep(0.2)
    keyboard.hold("a", 0.08)
    time.sleep(SPOILED_HOLD)
    keyboard.release(GESTURE)
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


class Stopped:
    """The agent stopped (SIGSTOP) for `seconds`, as a starved agent would be:
    what the block does happens while it cannot read its keyboard."""

    def __init__(self, agent, seconds):
        self.pid = agent.process.pid
        self.seconds = seconds

    def __enter__(self):
        os.kill(self.pid, signal.SIGSTOP)
        self.stopped_at = time.monotonic()

    def __exit__(self, *_):
        time.sleep(max(0, self.stopped_at + self.seconds - time.monotonic()))
        os.kill(self.pid, signal.SIGCONT)


def case_letter_typed_while_stopped(agent, keyboard):
    # When it runs again the agent hears the letter after the press it
    # follows, whatever runs first, its poll or its reading of the keyboard.
    keyboard.press(GESTURE)
    time.sleep(0.15)
    with Stopped(agent, 1.0):
        time.sleep(0.1)
        keyboard.tap("a")
    time.sleep(0.5)
    keyboard.release(GESTURE)
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


def case_press_and_letter_while_stopped(agent, keyboard):
    # Both arrive together: only their order and times tell that the letter
    # came 0.2 s into the hold.
    with Stopped(agent, 1.0):
        keyboard.press(GESTURE)
        time.sleep(0.2)
        keyboard.tap("a")
    time.sleep(0.5)
    keyboard.release(GESTURE)
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


def case_clean_hold_across_stop(agent, keyboard):
    keyboard.press(GESTURE)
    time.sleep(0.15)
    with Stopped(agent, 1.0):
        pass
    time.sleep(0.3)
    keyboard.release(GESTURE)
    expect_opened_once(agent)


STALE_TEMPORARY = ".launcher-state.json.999999999.123456789.1.tmp"
UNRELATED_FILES = ["notes.tmp", ".launcher-state.json.tmp", "launcher-state.json.999999999.1.1.tmp"]


def leave_stale_files(agent):
    for name in [STALE_TEMPORARY] + UNRELATED_FILES:
        with open(os.path.join(agent.state_directory, name), "w") as file:
            file.write("{")


def case_stale_temporary_file_removed(agent, keyboard):
    names = set(os.listdir(agent.state_directory))
    expect(STALE_TEMPORARY not in names, "stale file kept: %s" % sorted(names))
    expect(set(UNRELATED_FILES) <= names, "other files removed: %s" % sorted(names))


def case_hold_two_seconds_opens_once_and_next_hold_again(agent, keyboard):
    keyboard.hold(GESTURE, 2.0)
    expect_opened_once(agent)
    keyboard.hold(GESTURE, HOLD)
    expect(wait_until(lambda: len(agent.starts()) == 2, 3), "second hold: %s" % agent.starts())
    expect(agent.starts() == [["--start-listening"]] * 2, "recorder runs %s" % agent.starts())


def spoiled_by_modifier(modifier, pressed_first):
    def case(agent, keyboard):
        if pressed_first:
            keyboard.press(modifier, GESTURE)
            time.sleep(SPOILED_HOLD)
        else:
            keyboard.press(GESTURE)
            time.sleep(0.15)
            keyboard.press(modifier)
            time.sleep(SPOILED_HOLD)
        keyboard.release(modifier, GESTURE)
        expect_nothing_opened_then_clean_hold_opens(agent, keyboard)
    return case


def case_letter_typed_during_hold(agent, keyboard):
    keyboard.press(GESTURE)
    time.sleep(0.2)
    keyboard.tap("a")
    time.sleep(SPOILED_HOLD)
    keyboard.release(GESTURE)
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


def case_altgr_layout(agent, keyboard):
    # Layouts with AltGr give the right Alt key ISO_Level3_Shift; typing a
    # character with it must not open, holding it alone must.
    keyboard.remap(GESTURE, "ISO_Level3_Shift")
    time.sleep(0.2)
    keyboard.press(GESTURE)
    time.sleep(0.1)
    keyboard.tap("q")
    time.sleep(SPOILED_HOLD)
    keyboard.release(GESTURE)
    expect_nothing_opened_then_clean_hold_opens(agent, keyboard)


def case_caps_lock_locked_still_opens(agent, keyboard):
    keyboard.tap("Caps_Lock")
    time.sleep(0.1)
    keyboard.hold(GESTURE, HOLD)
    expect_opened_once(agent)


def case_no_desktop_entry(agent, keyboard):
    keyboard.hold(GESTURE, HOLD)
    expect(agent.wait_for_phase("velto-app-not-found"), "phases %s" % agent.phases())
    expect(agent.phases() == ["ready", "hold-accepted", "opening-velto", "velto-app-not-found"],
           "phases %s" % agent.phases())


def case_missing_binary(agent, keyboard):
    keyboard.hold(GESTURE, HOLD)
    expect(agent.wait_for_phase("launch-failed"), "phases %s" % agent.phases())
    expect(agent.phases() == ["ready", "hold-accepted", "opening-velto", "launch-failed"],
           "phases %s" % agent.phases())
    time.sleep(0.2)
    logged = [line for line in agent.stderr_lines() if line.startswith("Velto launcher: ")]
    expect(len(logged) == 1, "log lines %s" % agent.stderr_lines())
    expect("/nonexistent/velto-main" in logged[0], "log line %r" % logged[0])
    expect(agent.process.poll() is None, "the agent ended")


# Name: (case, Exec line of the main application's desktop entry or None).
CASES = {
    "ready": (case_ready_right_after_start, RECORDER),
    "hold-opens-once": (case_hold_half_second_opens_once, RECORDER),
    "long-hold-opens-once": (case_hold_two_seconds_opens_once_and_next_hold_again, RECORDER),
    "shift-first": (spoiled_by_modifier("Shift_L", True), RECORDER),
    "control-during": (spoiled_by_modifier("Control_R", False), RECORDER),
    "left-alt-first": (spoiled_by_modifier("Alt_L", True), RECORDER),
    "super-during": (spoiled_by_modifier("Super_L", False), RECORDER),
    "letter-during": (case_letter_typed_during_hold, RECORDER),
    "altgr-layout": (case_altgr_layout, RECORDER),
    "caps-lock-locked": (case_caps_lock_locked_still_opens, RECORDER),
    "no-desktop-entry": (case_no_desktop_entry, None),
    "missing-binary": (case_missing_binary, "/nonexistent/velto-main %U"),
    "held-letter": (case_held_letter_then_right_alt, RECORDER),
    "stopped-letter-during": (case_letter_typed_while_stopped, RECORDER),
    "stopped-press-and-letter": (case_press_and_letter_while_stopped, RECORDER),
    "stopped-clean-hold": (case_clean_hold_across_stop, RECORDER),
    "second-agent": (case_second_agent_ends_at_once, RECORDER),
    "stale-temporary": (case_stale_temporary_file_removed, RECORDER),
    "wayland-session": (case_wayland_session, RECORDER),
    "no-raw-key-events": (case_without_raw_key_events, RECORDER),
}
SERVER_ARGUMENTS = {"no-raw-key-events": ["-extension", "Generic Event Extension"]}
BEFORE_START = {"stale-temporary": leave_stale_files}
EXTRA_ENVIRONMENT = {"wayland-session": {"WAYLAND_DISPLAY": "wayland-velto-test"}}


def run_without_display(arguments):
    """No X display at all: one line on standard error and exit status 1."""
    agent = Agent(arguments.launcher, arguments.phase_tap, arguments.bundle_id, None, RECORDER)
    try:
        try:
            status = agent.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure("the agent still runs without a display")
        lines = agent.stderr_lines()
        expect(status == 1, "exit status %s, stderr %s" % (status, lines))
        expect(len(lines) == 1 and "display" in lines[0], "stderr %s" % lines)
        expect(agent.phases() == [], "phases %s" % agent.phases())
        print("no-display: passed")
        return 0
    except Failure as failure:
        print("no-display: FAILED: %s" % failure)
        return 1
    finally:
        agent.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(list(CASES) + ["no-display"]))
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--phase-tap", required=True)
    parser.add_argument("--bundle-id", required=True)
    arguments = parser.parse_args()
    if arguments.case == "no-display":
        return run_without_display(arguments)
    run_case, exec_line = CASES[arguments.case]

    server = XServer(SERVER_ARGUMENTS.get(arguments.case, ()))
    agent = None
    keyboard = None
    try:
        keyboard = Keyboard(server.display)
        agent = Agent(arguments.launcher, arguments.phase_tap, arguments.bundle_id, server.display, exec_line,
                      before_start=BEFORE_START.get(arguments.case),
                      extra_environment=EXTRA_ENVIRONMENT.get(arguments.case))
        if not agent.wait_for_phase("ready"):
            raise Failure("the agent never recorded ready")
        run_case(agent, keyboard)
        print("%s: passed" % arguments.case)
        return 0
    except Failure as failure:
        print("%s: FAILED: %s" % (arguments.case, failure))
        if agent:
            print("agent stderr:\n" + "\n".join(agent.stderr_lines()))
        return 1
    finally:
        if agent:
            agent.stop()
        if keyboard:
            keyboard.close()
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
