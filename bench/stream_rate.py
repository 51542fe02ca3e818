#!/usr/bin/python3
"""Frames per second through the Python module's stream against ulvarin-cli for the same run
(emulated Timepix quad, frames back to back, the emulated link at a real interface's rate).

Usage: PYTHONPATH=build/python bench/stream_rate.py [build]   (prints both rates and the ratio)
"""
import os
import subprocess
import sys
import tempfile
import time

import ulvarin

FRAMES, EXPOSURE = 400, 0.001
build = sys.argv[1] if len(sys.argv) > 1 else "build"
os.environ["ULVARIN_EMULATOR"] = "timepix:4"
ulvarin.set_emulators("timepix:4")

with ulvarin.open(0) as det:
    stream = det.stream(EXPOSURE, FRAMES)
    next(stream)  # the run is set up and under way
    start = time.monotonic()
    taken = 1 + sum(1 for _ in stream)
    python_rate = (taken - 1) / (time.monotonic() - start)

with tempfile.TemporaryDirectory() as folder:
    cli = subprocess.run([os.path.join(build, "cli", "ulvarin-cli"), "acquire", "0", "--frames",
                          str(FRAMES), "--exposure", str(EXPOSURE), "--out",
                          os.path.join(folder, "run.tif")],
                         capture_output=True, text=True, check=True)
    # The progress lines end with the run's rate: "400/400 frames  173.2 frames/s ...".
    line = [l for l in cli.stderr.replace("\r", "\n").splitlines() if "frames/s" in l][-1]
    cli_rate = float(line.split("frames/s")[0].split()[-1])

print(f"stream {python_rate:.1f} frames/s, ulvarin-cli {cli_rate:.1f} frames/s, "
      f"ratio {python_rate / cli_rate:.2f}")
