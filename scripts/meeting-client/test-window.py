#!/usr/bin/python3
"""A public test window for scripts/meeting-client-check.sh: one solid colour,
or with --rate a colour that steps through the palette that many times a
second. Each step is printed as "ANIM <epoch ms> <index>", so that the check can compare what the meeting received with what
the screen showed."""
import argparse
import sys
import time
import tkinter

# Green at least as strong as red and blue in each, so none counts as private;
# far apart from each other, from black (letterbox bars) and from the grey of
# an empty desktop.
PALETTE = ["#00a000", "#00d0d0", "#d0d000", "#60ff60", "#006060", "#a0ffa0"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--title", required=True)
    parser.add_argument("--geometry", required=True, help="WxH+X+Y")
    parser.add_argument("--colour", default=PALETTE[0])
    parser.add_argument("--rate", type=float, default=0.0, help="colour steps a second")
    options = parser.parse_args()

    root = tkinter.Tk(className="VeltoCheckWindow")
    root.title(options.title)
    root.geometry(options.geometry)
    root.configure(background=options.colour, highlightthickness=0)
    if options.rate <= 0:
        root.mainloop()
        return

    interval = 1.0 / options.rate
    state = {"index": 0, "next": time.monotonic() + 1.0}

    def step():
        state["index"] = (state["index"] + 1) % len(PALETTE)
        root.configure(background=PALETTE[state["index"]])
        # Repainted and sent to the X server before the time is taken.
        root.update_idletasks()
        print(f"ANIM {int(time.time() * 1000)} {state['index']}", flush=True)
        # Paced by the clock, not by the timer's drift.
        state["next"] += interval
        root.after(max(1, int((state["next"] - time.monotonic()) * 1000)), step)

    root.after(1000, step)
    root.mainloop()


if __name__ == "__main__":
    sys.exit(main())
