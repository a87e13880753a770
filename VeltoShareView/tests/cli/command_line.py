"""Runs the share view program the way the main application does and checks
what the parent sees: the exit status and the one status line on stdout.

Usage: command_line.py PATH-TO-VeltoShareView
"""
import json
import os
import subprocess
import sys

ERROR = {"state": "error", "message": "Open Share View from Velto."}
DIAGNOSTIC = "diagnostic"

# (argument vector after the program path, expected status, expected object)
CASES = [
    ([], 2, ERROR),
    (["--parent-pid"], 2, ERROR),
    (["--parent-pid", ""], 2, ERROR),
    (["--parent-pid", "", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "0", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "1", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "-5", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", " 5", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "5 ", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "4x", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "+", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "-", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "2147483648", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "4294967298", "--display-id", "1"], 2, ERROR),
    (["--parent-pid", "--display-id", "7"], 2, ERROR),
    (["--parent-pid", "5"], 2, ERROR),
    (["--parent-pid", "5", "--display-id"], 2, ERROR),
    (["--parent-pid", "5", "--display-id", ""], 2, ERROR),
    (["--parent-pid", "5", "--display-id", "-1"], 2, ERROR),
    (["--parent-pid", "5", "--display-id", "4294967296"], 2, ERROR),
    (["--parent-pid", "5", "--display-id", "0x1"], 2, ERROR),
    (["--display-id", "1"], 2, ERROR),
    (["--check"], 0, DIAGNOSTIC),
    (["--parent-pid", "x", "--check"], 0, DIAGNOSTIC),
    (["--parent-pid", "1", "--display-id", "-1", "--check"], 0, DIAGNOSTIC),
    (["--parent-pid", "--check"], 0, DIAGNOSTIC),
    (["--check", "--check"], 0, DIAGNOSTIC),
]


def compact(pairs):
    """The compact form of an object with its keys in the order written."""
    text = json.dumps(dict(pairs), separators=(",", ":"), ensure_ascii=False)
    return text.replace("/", "\\/")


def check(program, argv0, arguments, expected_status, expected):
    where = f"argv {[argv0] + arguments!r}"
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    result = subprocess.run([argv0] + arguments, executable=program, capture_output=True,
                            env=environment, timeout=30)
    failures = []
    if result.returncode != expected_status:
        failures.append(f"{where}: exit status {result.returncode}, expected {expected_status}")
    try:
        output = result.stdout.decode("utf-8")
    except UnicodeDecodeError:
        return failures + [f"{where}: stdout is not UTF-8: {result.stdout!r}"]
    if output.count("\n") != 1 or not output.endswith("\n"):
        return failures + [f"{where}: expected exactly one line, got {output!r}"]
    line = output[:-1]
    try:
        pairs = json.loads(line, object_pairs_hook=list)
    except json.JSONDecodeError as error:
        return failures + [f"{where}: not JSON ({error}): {line!r}"]
    if not isinstance(pairs, list):
        return failures + [f"{where}: not an object: {line!r}"]
    if len({key for key, _ in pairs}) != len(pairs):
        failures.append(f"{where}: duplicate keys: {line!r}")
    if line != compact(pairs):
        failures.append(f"{where}: not the compact form: {line!r}")
    got = dict(pairs)
    if expected == DIAGNOSTIC:
        if set(got) != {"state", "message", "screenPermission", "osVersion"}:
            failures.append(f"{where}: diagnostic members {sorted(got)}")
        elif (got["state"] != "diagnostic" or got["message"] != ""
              or not isinstance(got["screenPermission"], bool)
              or not isinstance(got["osVersion"], str) or not got["osVersion"]):
            failures.append(f"{where}: diagnostic values {got!r}")
    elif got != expected:
        failures.append(f"{where}: got {got!r}, expected {expected!r}")
    return failures


# Run with a status pipe whose reader is already gone.
CLOSED_PIPE_CASES = [
    ([], 2),
    (["--parent-pid", "0", "--display-id", "1"], 2),
    (["--check"], 0),
]


def check_closed_pipe(program, arguments, expected_status):
    """The line is lost; the exit status must not be (subprocess gives the
    child SIGPIPE at its default, as a parent that never touched it would)."""
    where = f"argv {[program] + arguments!r} with a closed pipe"
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        result = subprocess.run([program] + arguments, stdout=write_end, stderr=subprocess.DEVNULL,
                                env=environment, timeout=30)
    finally:
        os.close(write_end)
    if result.returncode == expected_status:
        return []
    if result.returncode < 0:
        return [f"{where}: killed by signal {-result.returncode}, expected exit status {expected_status}"]
    return [f"{where}: exit status {result.returncode}, expected {expected_status}"]


def main():
    program = sys.argv[1]
    failures = []
    for arguments, status, expected in CASES:
        failures += check(program, program, arguments, status, expected)
    # The program path itself is an argument like any other.
    failures += check(program, "--check", [], 0, DIAGNOSTIC)
    failures += check(program, "--check", ["--parent-pid", "0"], 0, DIAGNOSTIC)
    for arguments, status in CLOSED_PIPE_CASES:
        failures += check_closed_pipe(program, arguments, status)
    for failure in failures:
        print(failure)
    print(f"{len(CASES) + 2 + len(CLOSED_PIPE_CASES)} command lines, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
