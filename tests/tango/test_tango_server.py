"""ulvarin-tango end to end: the server runs without a database on a free loopback port
against the emulator, and is driven as a facility's clients drive it."""
import json
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time

import h5py
import numpy as np
import pytest
import tango
import zmq

SERVER = os.environ.get("ULVARIN_TANGO", "ulvarin-tango")
DEVICE = "test/ulvarin/1"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """One ulvarin-tango process and a proxy to its device."""

    def __init__(self, emulators, extra=(), cwd=None):
        self.port = free_port()
        env = dict(os.environ, ULVARIN_EMULATOR=emulators, ULVARIN_EMULATOR_RATE="0")
        args = [SERVER, "test"]
        args += list(extra) or ["-nodb", "-dlist", DEVICE]
        args += ["-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}"]
        self.process = subprocess.Popen(args, env=env, cwd=cwd, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.output = self._wait_ready(30)
        self.url = f"tango://127.0.0.1:{self.port}/{DEVICE}#dbase=no"
        self.device = tango.DeviceProxy(self.url)

    def _wait_ready(self, seconds):
        lines, deadline = [], time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.process.stdout], [], [], max(left, 0))
            line = self.process.stdout.readline() if ready else ""
            if not line:
                self.process.kill()
                pytest.fail("the server did not start:\n" + "".join(lines))
            lines.append(line)
            if "Ready to accept request" in line:
                return lines

    def terminate(self):
        """SIGTERM; the exit code."""
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise


def wait_state(device, state, seconds=60):
    deadline = time.monotonic() + seconds
    while device.state() != state:
        assert time.monotonic() < deadline, f"{device.state()}: {device.status()}"
        time.sleep(0.05)


def refused(call, *words):
    """Runs `call`, which must raise the server's refusal naming each of `words`."""
    with pytest.raises(tango.DevFailed) as raised:
        call()
    error = raised.value.args[0]
    assert error.reason == "ULVARIN_Refused", error
    for word in words:
        assert word in error.desc, error.desc
    return error.desc


@pytest.fixture(scope="module")
def quad():
    server = Server("timepix:4")
    yield server
    assert server.terminate() == 0


def test_attributes_read_write_and_refusals(quad, tmp_path):
    d = quad.device
    assert d.state() == tango.DevState.ON
    assert d.chip_type == "Timepix" and d.chip_count == 4 and len(d.chip_ids) == 4
    assert "Thl Fine" in d.dac_names and "Emulator Timepix x4" in d.interface

    d.exposure, d.frames, d.period = 0.02, 7, 0.5
    assert (d.exposure, d.frames, d.period) == (0.02, 7, 0.5)
    d.threshold = 480
    assert list(d.GetDac("thl fine")) == [480] * 4 and d.threshold == 480
    d.SetDac(["Ikrum", "10", "11", "12", "13"])
    assert list(d.GetDac("Ikrum")) == [10, 11, 12, 13]
    d.count_mode = "tot"
    assert d.count_mode == "tot tot tot tot"
    d.count_mode = "counting"

    # Bad values are refused with the reason, and nothing changes.
    refused(lambda: setattr(d, "exposure", -1), "exposure", "-1")
    with pytest.raises(tango.DevFailed, match="NaN"):  # refused by the library itself
        d.exposure = float("nan")
    refused(lambda: setattr(d, "frames", 0), "Frames")
    refused(lambda: setattr(d, "threshold", 1024), "Thl Fine", "0 to 1023")
    refused(lambda: d.SetDac(["Nope", "3"]), "No DAC \"Nope\"", "Ikrum")
    refused(lambda: d.SetDac(["Ikrum", "1", "2"]), "one per chip")
    refused(lambda: d.SetDac(["Ikrum", "x"]), "whole number")
    refused(lambda: setattr(d, "count_mode", "fast"), "counting, tot")
    refused(lambda: setattr(d, "bias", 10.0), "23 to 104.5")
    refused(lambda: setattr(d, "output_file", "run.doc"), ".h5")
    refused(lambda: setattr(d, "stream_endpoint", "localhost:5"), "tcp://")
    refused(lambda: d.Scan(["Thl Fine", "10", "2000", "1"]), "0 to 1023")
    refused(lambda: d.GetDac("Thl"), "No DAC")
    assert d.exposure == 0.02 and d.frames == 7 and d.threshold == 480
    assert list(d.GetDac("Ikrum")) == [10, 11, 12, 13]

    # A run needs somewhere to go, a period longer than its exposure, and never replaces a
    # file unasked.
    d.output_file, d.stream_endpoint = "", ""
    refused(d.Start, "output_file")
    d.output_file = str(tmp_path / "exists.h5")
    (tmp_path / "exists.h5").write_bytes(b"keep")
    d.period = 0.01
    refused(d.Start, "period")
    d.period = 0
    refused(d.Start, "exists", "overwrite")
    assert (tmp_path / "exists.h5").read_bytes() == b"keep"
    assert d.state() == tango.DevState.ON


def test_run_to_file_and_stream_with_change_events(quad, tmp_path):
    d = quad.device
    zport = free_port()
    sub = zmq.Context.instance().socket(zmq.SUB)
    sub.setsockopt(zmq.SUBSCRIBE, b"")
    sub.setsockopt(zmq.RCVTIMEO, 30000)
    sub.connect(f"tcp://127.0.0.1:{zport}")
    events, lock = [], threading.Lock()

    def on_event(event):
        if not event.err and event.attr_value is not None:
            with lock:
                # The server's time of the push: client arrival times may bunch up.
                events.append((event.attr_value.time.totime(), event.attr_value.value.copy()))

    subscription = d.subscribe_event("last_frame", tango.EventType.CHANGE_EVENT, on_event)
    try:
        out = tmp_path / "run.h5"
        d.output_file, d.stream_endpoint, d.stream_wait = str(out), f"tcp://127.0.0.1:{zport}", 10
        d.frames, d.exposure, d.period, d.overwrite = 20, 0.05, 0, False
        started = time.time()
        d.Start()
        assert d.state() == tango.DevState.RUNNING
        refused(lambda: setattr(d, "threshold", 300), "run is under way")
        headers, streamed = [], []
        while not headers or headers[-1]["htype"] != "series_end":
            parts = sub.recv_multipart()
            headers.append(json.loads(parts[0]))
            if headers[-1]["htype"] == "frame":
                streamed.append(np.frombuffer(parts[1], dtype="<u4").reshape(headers[-1]["shape"]))
        wait_state(d, tango.DevState.ON)
        ended = time.time()
    finally:
        d.unsubscribe_event(subscription)
        sub.close()
    assert headers[0]["htype"] == "series_start" and headers[0]["chip_count"] == 4
    frames = [h for h in headers if h["htype"] == "frame"]
    assert [h["frame"] for h in frames] == list(range(1, 21))
    assert all(h["shape"] == [512, 512] for h in frames)
    assert headers[-1]["frames"] == 20 and headers[-1]["dropped"] == 0
    assert d.frames_acquired == 20 and d.frames_dropped == 0
    assert "Run done: 20 frames" in d.status()
    with h5py.File(out, "r") as f:
        np.testing.assert_array_equal(f["frames"][:], np.stack(streamed))
        assert list(f["frame_number"][:]) == list(range(1, 21))
    assert sum(int(frame.sum()) for frame in streamed) > 0
    np.testing.assert_array_equal(d.last_frame, streamed[-1])

    # Change events carry frames of the run, at most five a second (plus the one sent on
    # subscribing).
    with lock:
        # The client library may hand one push over twice (same server time): one each.
        taken = list({t: value for t, value in events if t >= started}.items())
    assert taken, "no change event during the run"
    for _, value in taken:
        assert value.shape == (512, 512)
        assert any(np.array_equal(value, frame) for frame in streamed)
    assert len(taken) <= (ended - started) * 5 + 2
    gaps = np.diff([t for t, _ in taken])
    assert (gaps > 0.15).all(), gaps


def test_scan_and_equalize_step_the_dac_and_give_it_back(quad, tmp_path):
    d = quad.device
    d.threshold = 450
    d.output_file, d.stream_endpoint, d.exposure = str(tmp_path / "scan.h5"), "", 0.01
    d.Scan(["Thl Fine", "400", "420", "5"])
    wait_state(d, tango.DevState.ON)
    assert "Run done: 5 frames" in d.status()
    with h5py.File(tmp_path / "scan.h5", "r") as f:
        assert list(f["scan_values"][:]) == [400, 405, 410, 415, 420]
        assert f["frames"].shape == (5, 512, 512)
        assert f.attrs["scan_dac"] == "Thl Fine"
    assert list(d.GetDac("Thl Fine")) == [450] * 4
    # An equalisation over the noise edge: the quad ends equalised, its results in the file.
    out = tmp_path / "equalization.h5"
    d.output_file = str(out)
    refused(lambda: d.Equalize(["Thl Fine", "490", "491", "1"]), "at least three values")
    refused(lambda: d.Equalize(["Thl Fine", "490", "590", "2", "maybe"]), "optionally")
    d.Equalize(["Thl Fine", "490", "590", "2"])
    wait_state(d, tango.DevState.ON)
    assert d.status().startswith("Equalisation done: Equalized 4 chips"), d.status()
    with h5py.File(out, "r") as f:
        spread = f["entry/equalization"]
        assert (spread["spread_before"][:] > 5 * spread["spread_after"][:]).all()
    assert list(d.GetDac("Thl Fine")) == [450] * 4


CLIENT = """
import os, sys, tango
d = tango.DeviceProxy(sys.argv[1])
d.output_file, d.stream_endpoint, d.frames, d.exposure = sys.argv[2], "", 400, 0.005
d.Start()
print("started", flush=True)
sys.stdin.readline()
"""


def test_a_client_killed_mid_run_does_not_stop_it(quad, tmp_path):
    d = quad.device
    out = tmp_path / "killed.h5"
    client = subprocess.Popen([sys.executable, "-c", CLIENT, quad.url, str(out)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    assert client.stdout.readline().strip() == "started"
    client.kill()
    client.wait()
    assert d.state() == tango.DevState.RUNNING
    wait_state(d, tango.DevState.ON)
    assert "Run done: 400 frames" in d.status()
    with h5py.File(out, "r") as f:
        assert f["frames"].shape[0] == 400


def test_property_file_chooses_the_interface_and_sigterm_closes_the_run(tmp_path):
    props = tmp_path / "ulvarin.res"
    props.write_text(f'ulvarin-tango/test/DEVICE/UlvarinDetector: "{DEVICE}"\n'
                     f'{DEVICE}->Interface: "Medipix2 x1"\n'
                     f'{DEVICE}->Emulators: "timepix:4,medipix2:1"\n')
    server = Server("off", extra=[f"-file={props}"])
    try:
        d = server.device
        assert d.chip_type == "Medipix2" and d.chip_count == 1
        assert d.threshold == d.GetDac("Thl")[0]
        refused(lambda: setattr(d, "count_mode", "tot"), "Timepix")
        out = tmp_path / "cut.h5"
        d.output_file, d.frames, d.exposure = str(out), 1000000, 0.001
        d.Start()
        deadline = time.monotonic() + 30
        while d.frames_acquired < 10:
            assert time.monotonic() < deadline, d.status()
            time.sleep(0.05)
    finally:
        code = server.terminate()
    assert code == 0
    # Closed, not merely flushed: a plain (non-SWMR) open succeeds, frames and numbers agree.
    with h5py.File(out, "r") as f:
        count = f["frames"].shape[0]
        assert count >= 10 and f["frames"].shape[1:] == (256, 256)
        assert list(f["frame_number"][:]) == list(range(1, count + 1))
