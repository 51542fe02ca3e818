#!/usr/bin/python3
"""Receives ulvarin-cli's live frame stream as an analysis program would (Debian's pyzmq):
every frame of a run, in order and equal to the run file's, with the series' start and end;
a scan's values; and a consumer that stops reading loses its own frames only, counted and
told in the exit code, while the other consumers, the run and its file lose nothing.

Usage: stream_test.py PATH_TO_ULVARIN_CLI
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading

import h5py
import numpy as np
import zmq

CLI = sys.argv[1]
ENV = dict(os.environ, ULVARIN_EMULATOR="medipix2:1,timepix:4", ULVARIN_EMULATOR_RATE="0")
FAILURES = []


def check(condition, text):
    if not condition:
        FAILURES.append(text)
        print("FAIL:", text)


def free_endpoint():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return f"tcp://127.0.0.1:{s.getsockname()[1]}"


def subscriber(endpoint):
    sub = zmq.Context.instance().socket(zmq.SUB)
    sub.setsockopt(zmq.RCVTIMEO, 30000)
    sub.setsockopt(zmq.SUBSCRIBE, b"")
    sub.connect(endpoint)
    return sub


def receive_series(sub, into):
    """Every message of one series: (header, frame or None)."""
    while True:
        parts = sub.recv_multipart()
        header = json.loads(parts[0])
        frame = None
        if header["htype"] == "frame":
            frame = np.frombuffer(parts[1], dtype="<u4").reshape(header["shape"])
        into.append((header, frame))
        if header["htype"] == "series_end":
            return


def cli(*args):
    return subprocess.run([CLI, *args], env=ENV, capture_output=True, text=True, timeout=120)


def every_frame_in_order(folder):
    endpoint, out = free_endpoint(), os.path.join(folder, "run.h5")
    sub, messages = subscriber(endpoint), []
    listener = threading.Thread(target=receive_series, args=(sub, messages))
    listener.start()
    run = cli("acquire", "1", "--frames", "20", "--exposure", "0.01", "--out", out,
              "--stream", endpoint, "--stream-wait", "10")
    listener.join(60)
    check(run.returncode == 0, f"acquire with a stream: {run.stderr}")
    check("20 frames streamed to " + endpoint + ", 0 dropped" in run.stderr, run.stderr)
    start, end = messages[0][0], messages[-1][0]
    check(start["htype"] == "series_start" and start["chip_type"] == "Timepix" and
          start["chip_count"] == 4 and start["shape"] == [512, 512] and
          start["frames_expected"] == 20, f"series start {start}")
    check(end == {"consumer": start["consumer"], "htype": "series_end", "series": start["series"],
                  "frames": 20, "dropped": 0}, f"series end {end}")
    frames = [(h, f) for h, f in messages if h["htype"] == "frame"]
    check(all(h["consumer"] == start["consumer"] for h, _ in frames), "one consumer's number")
    check([h["frame"] for h, _ in frames] == list(range(1, 21)), "frame numbers 1 to 20")
    with h5py.File(out) as f:
        stored = f["frames"][:]
    check(all(np.array_equal(f, stored[i]) for i, (_, f) in enumerate(frames)),
          "the stream carries the counts the file holds")
    check(all(abs(h["exposure"] - 0.01) < 1e-3 for h, _ in frames), "exposures")
    check(frames[-1][0]["chip_type"] == "Timepix" and frames[-1][0]["chip_count"] == 4 and
          frames[-1][0]["count_mode"] == ["counting"] * 4, f"a frame describes itself {frames[-1][0]}")
    sub.close()


def scan_values(folder):
    endpoint = free_endpoint()
    sub, messages = subscriber(endpoint), []
    listener = threading.Thread(target=receive_series, args=(sub, messages))
    listener.start()
    run = cli("scan", "0", "--dac", "Thl", "--from", "150", "--to", "190", "--step", "20",
              "--exposure", "0.02", "--stream", endpoint, "--stream-wait", "10")
    listener.join(60)
    check(run.returncode == 0 and "3 frames streamed to" in run.stdout, f"stream-only scan {run}")
    check(messages[0][0].get("dac") == "Thl", f"scan start {messages[0][0]}")
    check([(h["dac"], h["value"]) for h, _ in messages if h["htype"] == "frame"] ==
          [("Thl", 150), ("Thl", 170), ("Thl", 190)], "scan values in the headers")
    sub.close()


def receive_with_start_told(sub, into, started):
    """receive_series, setting `started` once the series has begun."""
    header = json.loads(sub.recv_multipart()[0])
    into.append((header, None))
    started.set()
    if header["htype"] != "series_end":
        receive_series(sub, into)


def each_consumer_loses_only_its_own_frames(folder):
    # (beside the healthy consumer: None, one that never reads, one that dies mid-run;
    #  exit code, whether the line on stderr says frames were dropped)
    cases = [(None, 0, False), ("stuck", 5, True), ("dies", 0, False)]
    frames = 200
    for other, code, lossy in cases:
        endpoint, out = free_endpoint(), os.path.join(folder, f"{other}.h5")
        healthy, messages, started = subscriber(endpoint), [], threading.Event()
        listener = threading.Thread(target=receive_with_start_told, args=(healthy, messages, started))
        listener.start()
        run = subprocess.Popen([CLI, "acquire", "1", "--frames", str(frames), "--exposure", "0.01",
                                "--out", out, "--stream", endpoint, "--stream-wait", "10"],
                               env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # The other joins once the series has begun (the healthy consumer is there from the
        # first frame).
        check(started.wait(60), f"{other}: the series began")
        consumer = None
        if other == "stuck":
            consumer = zmq.Context.instance().socket(zmq.SUB)
            consumer.setsockopt(zmq.RCVHWM, 1)
            consumer.setsockopt(zmq.RCVBUF, 65536)
            consumer.setsockopt(zmq.SUBSCRIBE, b"")
            consumer.connect(endpoint)
        elif other == "dies":
            consumer = subprocess.Popen(
                [sys.executable, "-c",
                 "import zmq, sys; s = zmq.Context().socket(zmq.SUB); "
                 "s.setsockopt(zmq.RCVTIMEO, 30000); "
                 f"s.connect('{endpoint}'); s.setsockopt(zmq.SUBSCRIBE, b''); "
                 "[s.recv_multipart() for _ in range(5)]; print('ok', flush=True); "
                 "import os; os._exit(1)"], stdout=subprocess.PIPE, text=True)
        _, stderr = run.communicate(timeout=120)
        listener.join(60)
        check(run.returncode == code, f"{other}: exit code {run.returncode}: {stderr}")
        with h5py.File(out) as f:
            check(f["frames"].shape[0] == frames, f"{other}: the file holds every frame")
        received = [h for h, _ in messages if h["htype"] == "frame"]
        end = messages[-1][0] if messages else {}
        check([h["frame"] for h in received] == list(range(1, frames + 1)),
              f"{other}: the healthy consumer got {len(received)} of {frames} frames")
        check(end.get("htype") == "series_end" and end["frames"] == frames and end["dropped"] == 0,
              f"{other}: the healthy consumer's series end {end}")
        told = [line for line in stderr.splitlines() if "streamed to" in line]
        dropped = int(told[0].split(", ")[1].split()[0]) if told else -1
        check(told and (dropped > 0) == lossy and
              ("a consumer did not keep up" in told[0]) == lossy, f"{other}: the loss told: {told}")
        if other == "stuck":
            # It took frames until its queue was full, then lost the rest; the run's count is
            # its count, the only consumer that lost any.
            check(0 < dropped < frames, f"stuck: {dropped} of {frames} dropped")
            consumer.close(linger=0)
        elif other == "dies":
            consumer.wait(30)
            check(consumer.stdout.read().strip() == "ok", "the consumer took frames, then died")
        healthy.close()


def bad_endpoint():
    run = cli("acquire", "--frames", "1", "--exposure", "0.01", "--stream", "tcp://nowhere:x")
    # An endpoint that cannot be bound is a bad argument, refused before any file is made.
    check(run.returncode == 2 and "Cannot open the stream at tcp://nowhere:x" in run.stderr,
          f"bad endpoint: {run.returncode} {run.stderr}")
    run = cli("acquire", "--frames", "1", "--exposure", "0.01")
    check(run.returncode == 2 and "--out is required (or --stream)" in run.stderr, run.stderr)


with tempfile.TemporaryDirectory() as folder:
    every_frame_in_order(folder)
    scan_values(folder)
    each_consumer_loses_only_its_own_frames(folder)
    bad_endpoint()
if FAILURES:
    sys.exit(f"{len(FAILURES)} checks failed")
print("stream OK")
