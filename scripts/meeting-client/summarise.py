#!/usr/bin/python3
"""Figures per case for meeting-client-check.sh, from what the meeting's page
received (MEETING lines in Chromium's stderr), what the animated window showed
(ANIM lines) and when each case was measured, with the machine's load and
the frames a second the share window showed meanwhile (CASE lines).

usage: summarise.py SESSION CASES ANIMATION CHROMIUM_LOG
Prints one table row per case; exits 1 when a case fails: a private pixel in
any frame (also between the cases), fewer than 5 frames a second, or fewer
than half of the animation's changes seen. Fewer than 20 frames a second or
90 % of the changes is reported without failing: a busy machine does that."""
import re
import statistics
import sys

# Below these a case fails: the meeting's picture froze or leaked.
STALLED_FPS = 5.0
STALLED_CHANGES_SEEN = 0.5
# Below these it is reported: on a busy machine the rates dip.
MIN_FPS = 20.0
MIN_CHANGES_SEEN = 0.9
PALETTE_SIZE = 6


def read_cases(path):
    cases = []
    for line in open(path):
        kind, name, start, end, load, shown = line.split()
        if kind == "CASE":
            cases.append((name, int(start), int(end), load, shown))
    return cases


def read_animation(path):
    steps = []
    for line in open(path):
        parts = line.split()
        if len(parts) == 3 and parts[0] == "ANIM":
            steps.append((int(parts[1]), int(parts[2])))
    return steps


def read_frames(path):
    frames, events = [], []
    pattern = re.compile(r'"MEETING (.*)", source:')
    for line in open(path, errors="replace"):
        match = pattern.search(line)
        if not match:
            continue
        text = match.group(1)
        parts = text.split()
        if parts[0] == "frame" and len(parts) >= 7:
            frames.append({"time": int(parts[1]), "presented": int(parts[2]), "size": parts[3],
                           "index": int(parts[4]), "private": int(parts[5])})
        else:
            events.append(text)
    return frames, events


def measure(frames, steps, start, end):
    inside = [frame for frame in frames if start <= frame["time"] < end]
    seconds = (end - start) / 1000.0
    result = {"seconds": seconds, "callbacks": len(inside)}
    if len(inside) < 2:
        screen_changes = sum(1 for time, _ in steps if start <= time < end)
        result.update(fps=0.0, seen=0.0, screen=screen_changes / seconds, skipped=0, unknown=len(inside), latency=None, sizes="-",
                      private_frames=sum(frame["private"] > 0 for frame in inside),
                      private_max=max([frame["private"] for frame in inside], default=0))
        return result
    presented = inside[-1]["presented"] - inside[0]["presented"]
    span = (inside[-1]["time"] - inside[0]["time"]) / 1000.0
    changes, skipped, latencies = 0, 0, []
    previous = None
    for frame in inside:
        index = frame["index"]
        if index < 0:
            continue
        if previous is not None and index != previous:
            changes += 1
            skipped += (index - previous - 1) % PALETTE_SIZE
            # When the screen took this colour last, before the meeting saw it.
            taken = [time for time, step in steps if step == index and time <= frame["time"]]
            if taken:
                latencies.append(frame["time"] - taken[-1])
        previous = index
    screen_changes = sum(1 for time, _ in steps if inside[0]["time"] <= time < inside[-1]["time"])
    result.update(
        fps=presented / span if span > 0 else 0.0,
        seen=changes / span if span > 0 else 0.0,
        screen=screen_changes / span if span > 0 else 0.0,
        skipped=skipped,
        unknown=sum(frame["index"] < 0 for frame in inside),
        private_frames=sum(frame["private"] > 0 for frame in inside),
        private_max=max(frame["private"] for frame in inside),
        latency=statistics.median(latencies) if latencies else None,
        sizes=" ".join(sorted({frame["size"] for frame in inside})))
    return result


def main():
    session, cases_path, animation_path, log_path = sys.argv[1:5]
    cases = read_cases(cases_path)
    steps = read_animation(animation_path)
    frames, events = read_frames(log_path)
    for event in events:
        print(f"[{session}] page: {event}")
    failed = False
    print(f"| session | case | fps shown by the share window | fps received | colour changes/s seen | screen's changes/s | changes missed "
          f"| frames without the animation | median screen-to-page ms | frames with private pixels "
          f"| most private pixels | frame sizes | load average |")
    print("|" + "---|" * 13)
    for name, start, end, load, shown in cases:
        r = measure(frames, steps, start, end)
        latency = "-" if r["latency"] is None else f"{r['latency']:.0f}"
        print(f"| {session} | {name} | {shown} | {r['fps']:.1f} | {r['seen']:.1f} | {r['screen']:.1f} | {r['skipped']} "
              f"| {r['unknown']} of {r['callbacks']} | {latency} | {r['private_frames']} | {r['private_max']} "
              f"| {r['sizes']} | {load} |")
        problems, shortfalls = [], []
        if r["private_frames"] > 0:
            problems.append("private pixels received")
        if r["fps"] < STALLED_FPS:
            problems.append(f"the stream stalled (under {STALLED_FPS:.0f} frames a second)")
        elif r["fps"] < MIN_FPS:
            shortfalls.append(f"fewer than {MIN_FPS:.0f} frames a second")
        if r["screen"] > 0 and r["seen"] < STALLED_CHANGES_SEEN * r["screen"]:
            problems.append("most of the animation's changes were not received")
        elif r["screen"] > 0 and r["seen"] < MIN_CHANGES_SEEN * r["screen"]:
            shortfalls.append(f"fewer than {MIN_CHANGES_SEEN:.0%} of the animation's changes received")
        if problems:
            failed = True
            print(f"[{session}] FAILED {name}: {', '.join(problems + shortfalls)}")
        elif shortfalls:
            print(f"[{session}] below the screen's rate in {name} (load {load}): {', '.join(shortfalls)}")
    # Also the frames between the cases: windows moving, the switch itself.
    if frames:
        leaked = sum(frame["private"] > 0 for frame in frames)
        print(f"[{session}] every frame received: {len(frames)}, with private pixels: {leaked}")
        failed = failed or leaked > 0
    else:
        print(f"[{session}] FAILED: no frame received")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
