"""One table of requests through every face: ulvarin-cli, the Python module and the Tango
server (without a database), each against an emulated Timepix. A request a face refuses is
refused by every face that can make it, with the same reason, and nothing is written; every
face opens the interface counting hits."""
import os
import subprocess
import sys
import time

import h5py
import numpy as np
import pytest

sys.path.insert(0, os.environ["ULVARIN_TANGO_TESTS"])
import tango  # noqa: E402
from test_tango_server import Server  # noqa: E402

import ulvarin  # noqa: E402

CLI = os.environ["ULVARIN_CLI"]
EMULATOR = "timepix:1"
ulvarin.set_emulators(EMULATOR)


class CliFace:
    name = "ulvarin-cli"

    def refusal(self, args):
        env = dict(os.environ, ULVARIN_EMULATOR=EMULATOR)
        done = subprocess.run([CLI, *args], env=env, capture_output=True, text=True, timeout=120)
        assert done.returncode == 2, (args, done.returncode, done.stderr)
        return done.stderr


class PythonFace:
    name = "Python"

    def __init__(self):
        self.det = ulvarin.open()

    def refusal(self, call):
        with pytest.raises((ValueError, ulvarin.DeviceError)) as raised:
            call(self.det)
        return str(raised.value)


class TangoFace:
    name = "Tango"

    def __init__(self):
        self.server = Server(EMULATOR)
        self.device = self.server.device

    def refusal(self, call):
        with pytest.raises(tango.DevFailed) as raised:
            call(self.device)
        error = raised.value.args[0]
        assert error.reason == "ULVARIN_Refused", error
        return error.desc


@pytest.fixture(scope="module")
def faces():
    python, server = PythonFace(), TangoFace()
    yield CliFace(), python, server
    python.det.close()
    assert server.server.terminate() == 0


def settings(**values):
    """A Tango call that writes attributes, then starts a run."""
    def call(d):
        for name, value in values.items():
            setattr(d, name, value)
        d.Start()
    return call


def requests(folder):
    """(reason, command line, Python call, Tango call); None where a face cannot ask it."""
    h5, png = f"{folder}/exists.h5", f"{folder}/x.png"
    frame = np.zeros((256, 256), np.uint32)
    run = ["acquire", "--frames", "1", "--exposure", "0.01"]
    scan = ["scan", "--exposure", "0.01", "--out", f"{folder}/scan.h5", "--dac"]
    return [
        ("The exposure is a number of seconds above 0, not 0",
         ["acquire", "--frames", "1", "--exposure", "0", "--out", f"{folder}/a.h5"],
         lambda det: det.acquire(0), lambda d: setattr(d, "exposure", 0)),
        ("The exposure is at most 3600 s unless a longer one is allowed, not 5000 s.",
         ["acquire", "--frames", "1", "--exposure", "5000", "--out", f"{folder}/a.h5"],
         lambda det: det.acquire(5000), lambda d: setattr(d, "exposure", 5000)),
        ("Frames are 1 to 2147483647, not 0.",
         ["acquire", "--frames", "0", "--exposure", "1", "--out", f"{folder}/a.h5"],
         lambda det: det.acquire(0.01, 0), lambda d: setattr(d, "frames", 0)),
        ("The period (0.5 s) must be longer than the exposure (1 s).",
         ["acquire", "--frames", "2", "--exposure", "1", "--period", "0.5", "--out",
          f"{folder}/a.h5"],
         lambda det: det.acquire_to(f"{folder}/a.h5", 1, 2, period=0.5),
         settings(exposure=1, period=0.5, output_file=f"{folder}/p.h5")),
        ('No DAC "Nope" on Timepix chips; they have Ikrum',
         scan + ["Nope", "--from", "1", "--to", "3"],
         lambda det: det.scan("Nope", [1, 2, 3], 0.01),
         lambda d: d.Scan(["Nope", "1", "3", "1"])),
        ("Thl Fine takes values 0 to 1023, not 2000.",
         scan + ["Thl Fine", "--from", "2000", "--to", "2000"],
         lambda det: det.scan("Thl Fine", [2000, 2001], 0.01),
         lambda d: d.Scan(["Thl Fine", "2000", "2000", "1"])),
        ("The scan's step is 1 or more, not 0.",
         scan + ["Thl Fine", "--from", "1", "--to", "3", "--step", "0"],
         None, lambda d: d.Scan(["Thl Fine", "1", "3", "0"])),
        ("A scan visits at most 65536 values",
         scan + ["Thl Fine", "--from=-2147483648", "--to", "2147483647"],
         None, lambda d: d.Scan(["Thl Fine", "-2147483648", "2147483647", "1"])),
        ("An equalisation scans at least three values, not 2.",
         ["equalize", "--dac", "Thl Fine", "--from", "490", "--to", "491", "--exposure", "0.01",
          "--out", f"{folder}/eq.h5"],
         lambda det: det.equalize("Thl Fine", [490, 491], 0.01),
         lambda d: d.Equalize(["Thl Fine", "490", "491", "1"])),
        (f"{h5} exists", run + ["--out", h5],
         lambda det: det.save(h5, frame), settings(exposure=0.01, period=0, output_file=h5)),
        (f"{h5} exists", run + ["--out", h5], lambda det: det.acquire_to(h5, 0.01), None),
        (f"The output file ends in .h5, .tif or .txt: {png}", run + ["--out", png],
         lambda det: det.save(png, frame), lambda d: setattr(d, "output_file", png)),
        ('The count mode is counting, tot, 1-hit or toa, not "fast".',
         run + ["--mode", "fast", "--out", f"{folder}/a.h5"],
         lambda det: setattr(det, "count_mode", "fast"),
         lambda d: setattr(d, "count_mode", "fast")),
        ("The bias is 0 (off) or 23 to 104.5 V, not 200.", None,
         lambda det: setattr(det, "bias", 200), lambda d: setattr(d, "bias", 200.0)),
    ]


def test_every_face_refuses_the_same_requests_for_the_same_reason(faces, tmp_path):
    folder = str(tmp_path)
    with open(f"{folder}/exists.h5", "wb") as kept:
        kept.write(b"keep")
    cli, python, server = faces
    for reason, args, python_call, tango_call in requests(folder):
        for face, request in ((cli, args), (python, python_call), (server, tango_call)):
            if request is None:
                continue
            said = face.refusal(request)
            assert reason in said, f"{face.name} on {reason!r}: {said!r}"
    with open(f"{folder}/exists.h5", "rb") as kept:
        assert kept.read() == b"keep", "a refused run replaced a file"
    written = sorted(os.listdir(folder))
    assert written == ["exists.h5"], f"refused requests wrote {written}"


def test_a_request_during_a_run_is_refused_alike(faces, tmp_path):
    _, python, server = faces
    d = server.device
    d.output_file, d.stream_endpoint, d.frames, d.exposure, d.period = \
        str(tmp_path / "long.h5"), "", 100000, 0.01, 0
    d.Start()
    stream = python.det.stream(0.01, 100000)
    next(stream)
    try:
        for face, call in ((python, lambda det: det.set_dac("Ikrum", 5)),
                           (python, lambda det: det.acquire(0.01)),
                           (server, lambda d: d.SetDac(["Ikrum", "5"])),
                           (server, lambda d: setattr(d, "exposure", 0.5)),
                           (server, lambda d: d.Open("")),
                           (server, lambda d: d.Scan(["Thl Fine", "1", "3", "1"]))):
            assert "A run is under way: stop it first." in face.refusal(call), face.name
    finally:
        stream.close()
        d.Stop()
    deadline = time.monotonic() + 60
    while d.state() != tango.DevState.ON:
        assert time.monotonic() < deadline, d.status()
        time.sleep(0.05)
    assert d.exposure == 0.01, "a setting refused during a run stays as it was"


def test_every_face_opens_counting_hits(faces, tmp_path):
    cli, python, server = faces
    out = str(tmp_path / "one.h5")
    env = dict(os.environ, ULVARIN_EMULATOR=EMULATOR)
    done = subprocess.run([CLI, "acquire", "--frames", "1", "--exposure", "0.01", "--out", out],
                          env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    with h5py.File(out, "r") as f:
        assert [m.decode() if isinstance(m, bytes) else m for m in f.attrs["count_mode"]] == \
            ["counting"]
    assert python.det.count_mode == ["counting"]
    assert server.device.count_mode == "counting"
    # Tango: a name that opens nothing keeps the open interface; a re-open keeps the DACs.
    d = server.device
    d.SetDac(["Ikrum", "17"])
    with pytest.raises(tango.DevFailed):
        d.Open("no such interface")
    assert d.state() == tango.DevState.ON and list(d.GetDac("Ikrum")) == [17]
    d.Open("")
    assert list(d.GetDac("Ikrum")) == [17], "a re-open keeps the DACs"
    assert "the DACs are kept" in d.status(), d.status()
