"""Runs from Python that outlast memory, other threads and the interpreter: frames written to
disk as they arrive (by the command line's rules), a device closed or stopped from another
thread, Ctrl-C, and an interpreter that exits while a daemon thread is inside a run.
"""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import h5py
import numpy as np
import pytest
import zmq

import ulvarin

MEDIPIX2 = "Emulator Medipix2 x1"
QUAD = "Emulator Timepix x4"
CLI = os.environ.get("ULVARIN_CLI", "")
# Joins of threads and subprocesses that must end: far beyond what they take, so that only
# a hang fails them.
GENEROUS = 60


@pytest.fixture(autouse=True)
def emulators():
    ulvarin.set_emulators("medipix2:1,timepix:4")


def wait_until_busy(det):
    """Returns once another thread's run holds `det` (its settings are refused)."""
    deadline = time.monotonic() + GENEROUS
    while time.monotonic() < deadline:
        try:
            det.firmware
        except ulvarin.DeviceError as error:
            if error.kind == "busy":
                return
            raise
        time.sleep(0.02)
    raise AssertionError("the run never started")


def test_a_run_to_h5_is_written_as_it_arrives_with_times_and_appends(tmp_path):
    path = tmp_path / "run.h5"
    with ulvarin.open(MEDIPIX2) as det:
        first = det.acquire_to(path, 0.01, 30)
        assert (first.frames, first.dropped, first.stopped, first.files) == (30, 0, False,
                                                                             [str(path)])
        paced = det.acquire_to(str(path), 0.01, 5, period=0.05, append=True)
        assert paced.frames == 5
    with h5py.File(path) as f:
        frames, times = f["frames"][:], f["timestamp"][:]
        assert frames.shape == (35, 256, 256) and frames.dtype == np.uint32
        numbers = f["frame_number"][:]
        assert list(numbers[:30]) == list(range(1, 31)) and np.all(np.diff(numbers[30:]) == 1)
        assert frames[:, :, :].mean() > 0
        assert np.all(np.diff(times[:30]) > 0) and np.all(times > 0), times
        # One frame every 50 ms: the appended run's times are paced by the period.
        assert np.all(np.diff(times[30:]) > 0.04), times[30:]
        assert np.allclose(f["exposure"][:], 0.01, rtol=0.05)


def test_text_and_tiff_runs_name_their_files(tmp_path):
    with ulvarin.open(MEDIPIX2) as det:
        text = det.acquire_to(tmp_path / "t.txt", 0.01, 3)
        tiff = det.acquire_to(tmp_path / "t.tif", 0.01, 3)
    assert [os.path.basename(f) for f in text.files] == ["t0000.txt", "t0001.txt", "t0002.txt"]
    assert all(os.path.getsize(f) > 0 for f in text.files)
    assert tiff.files == [str(tmp_path / "t.tif")] and tiff.frames == 3


def refusals(folder):
    """(reason, command line arguments after acquire, acquire_to keyword arguments)."""
    h5, tif, png = f"{folder}/exists.h5", f"{folder}/exists.tif", f"{folder}/x.png"
    return [
        (f"{h5} exists", ["--out", h5], dict(path=h5)),
        (f"{folder}/missing.h5 does not exist: there is no run to add to.",
         ["--out", f"{folder}/missing.h5", "--append"],
         dict(path=f"{folder}/missing.h5", append=True)),
        (f"Frames are added to .h5 runs only: {tif}", ["--out", tif, "--append"],
         dict(path=tif, append=True)),
        (f"The output file ends in .h5, .tif or .txt: {png}", ["--out", png], dict(path=png)),
        ("The period (0.005 s) must be longer than the exposure (0.01 s).",
         ["--out", f"{folder}/p.h5", "--period", "0.005"],
         dict(path=f"{folder}/p.h5", period=0.005)),
        ("Frames are 1 to 2147483647, not 0.", ["--out", f"{folder}/z.h5"],
         dict(path=f"{folder}/z.h5", frames=0)),
    ]


def test_a_stream_endpoint_or_wait_out_of_rule_is_refused_before_the_run(tmp_path):
    with ulvarin.open(MEDIPIX2) as det:
        for kwargs, text in [
                (dict(stream="udp://x"), 'tcp://HOST:PORT or ipc://PATH, not "udp://x"'),
                (dict(stream="tcp://127.0.0.1:0", stream_wait=-1), "The stream wait is 0 to"),
                (dict(path=None), "needs a file to write .path. or a stream"),
                (dict(append=True, overwrite=True), "exclude each other"),
        ]:
            call = dict(path=tmp_path / "s.h5", exposure=0.01, frames=2)
            call.update(kwargs)
            with pytest.raises(ValueError, match=text):
                det.acquire_to(**call)
    assert os.listdir(tmp_path) == []


@pytest.mark.skipif(not CLI, reason="needs ULVARIN_CLI, the command line to compare with")
def test_a_run_to_disk_is_refused_as_the_command_line_refuses_it(tmp_path):
    folder = str(tmp_path)
    for name in ("exists.h5", "exists.tif"):
        with open(f"{folder}/{name}", "wb") as kept:
            kept.write(b"keep")
    env = dict(os.environ, ULVARIN_EMULATOR="medipix2:1")
    with ulvarin.open(MEDIPIX2) as det:
        for reason, args, kwargs in refusals(folder):
            frames = kwargs.pop("frames", 2)
            cli_frames = "0" if frames == 0 else "2"
            done = subprocess.run([CLI, "acquire", "--frames", cli_frames, "--exposure", "0.01",
                                   *args], env=env, capture_output=True, text=True,
                                  timeout=GENEROUS)
            assert done.returncode == 2 and reason in done.stderr, (reason, done.stderr)
            with pytest.raises(ValueError) as refused:
                det.acquire_to(exposure=0.01, frames=frames, **kwargs)
            assert reason in str(refused.value), (reason, str(refused.value))
    assert sorted(os.listdir(folder)) == ["exists.h5", "exists.tif"], "a refusal wrote a file"
    for name in ("exists.h5", "exists.tif"):
        with open(f"{folder}/{name}", "rb") as kept:
            assert kept.read() == b"keep"


def test_runs_that_would_not_fit_in_memory_are_refused_before_anything_is_sent():
    with ulvarin.open(QUAD) as det:
        det.set_dac("Thl Fine", 300)
        for call, text in [
                (lambda: det.acquire(0.01, 100000),
                 r"^100000 frames of 512 x 512 take 97\.7 GiB, more than the 4 GiB a run keeps "
                 r"in memory: acquire_to\(path, \.\.\.\) writes them to a file as they arrive\.$"),
                (lambda: det.acquire(0.01, 2 ** 31 - 1), r"take 2097152\.0 GiB"),
                (lambda: det.scan("Thl Fine", list(range(1024)) * 5, 0.001),
                 r"^5120 frames of 512 x 512 take 5\.0 GiB.*: scan fewer values at a time\.$"),
        ]:
            with pytest.raises(ValueError, match=text):
                call()
        assert det.get_dac("Thl Fine") == [300] * 4, "a refused scan sets nothing"


def test_saved_runs_carry_their_frames_times(tmp_path):
    with ulvarin.open(MEDIPIX2) as det:
        frames, times = det.acquire(0.01, 4, timestamps=True)
        assert times.shape == (4,) and np.all(np.diff(times) > 0) and times[0] > 0
        again = det.acquire(0.01, 2)
        for name, array, kwargs, expected in [
                ("last.h5", again, {}, None),
                ("given.h5", frames, dict(timestamps=times), times),
                ("copy.h5", again.copy(), {}, "nan"),
        ]:
            det.save(tmp_path / name, array, **kwargs)
            with h5py.File(tmp_path / name) as f:
                written = f["timestamp"][:]
            if expected is None:
                assert np.all(written > 0) and np.all(np.diff(written) > 0), written
            elif isinstance(expected, str):
                assert np.all(np.isnan(written)), "an array of unknown origin has no times"
            else:
                assert np.array_equal(written, expected)
        with pytest.raises(ValueError, match="one timestamp per frame"):
            det.save(tmp_path / "bad.h5", frames, timestamps=[1.0])


def test_a_run_streams_and_writes_at_once(tmp_path):
    endpoint = f"ipc://{tmp_path}/frames"
    context = zmq.Context.instance()
    sub = context.socket(zmq.SUB)
    sub.connect(endpoint)
    sub.setsockopt(zmq.SUBSCRIBE, b"")
    seen = []

    def consume():
        while sub.poll(GENEROUS * 1000):
            parts = sub.recv_multipart()
            seen.append(parts[0])
            if b"series_end" in parts[0]:
                return

    consumer = threading.Thread(target=consume)
    consumer.start()
    with ulvarin.open(MEDIPIX2) as det:
        report = det.acquire_to(tmp_path / "both.h5", 0.01, 10, stream=endpoint, stream_wait=30)
    consumer.join(GENEROUS)
    sub.close()
    assert (report.frames, report.streamed, report.stream) == (10, 10, endpoint)
    assert sum(b'"frame"' in header for header in seen) == 10
    with h5py.File(tmp_path / "both.h5") as f:
        assert f["frames"].shape[0] == 10
    with ulvarin.open(MEDIPIX2) as det:
        only = det.acquire_to(None, 0.01, 3, stream=endpoint)
    assert only.files == [] and only.streamed == 3


def runs(tmp_path):
    """(name, the run, a check of what it returns when stopped; None: it raises)."""
    return [
        ("acquire", lambda det: det.acquire(0.02, 2000), lambda frames: len(frames) < 2000),
        ("acquire_to", lambda det: det.acquire_to(tmp_path / "long.h5", 0.02, 2000, overwrite=True),
         lambda report: report.stopped and report.frames < 2000),
        ("scan", lambda det: det.scan("Thl", range(0, 256), 0.05),
         lambda result: len(result[1]) < 256 and len(result[0]) == len(result[1])),
        ("equalize", lambda det: det.equalize("Thl", range(0, 256), 0.05), None),
        ("acquire_to waiting for a consumer",
         lambda det: det.acquire_to(None, 0.01, 5, stream=f"ipc://{tmp_path}/nobody",
                                    stream_wait=600),
         lambda report: report.stopped and report.frames == 0),
    ]


def run_in_thread(det, run):
    outcome = {}

    def target():
        try:
            outcome["result"] = run(det)
        except BaseException as error:  # noqa: B902 - whatever ends it is what is checked
            outcome["error"] = error

    thread = threading.Thread(target=target, daemon=True)
    thread.start()
    wait_until_busy(det)
    return thread, outcome


def test_close_from_another_thread_ends_every_kind_of_run(tmp_path):
    for name, run, _ in runs(tmp_path):
        det = ulvarin.open(MEDIPIX2)
        thread, outcome = run_in_thread(det, run)
        det.close()
        thread.join(GENEROUS)
        assert not thread.is_alive(), f"{name} went on after close()"
        error = outcome.get("error")
        assert isinstance(error, ulvarin.DeviceError), (name, outcome)
        assert "closed by another thread" in str(error) and error.kind == "closed", str(error)
        assert det.closed
        det.close()  # a second close does nothing
    # A stream being read on another thread.
    det = ulvarin.open(MEDIPIX2)
    stream = det.stream(0.01, 100000)
    reading = threading.Event()
    outcome = {}

    def read():
        try:
            for _ in stream:
                reading.set()
        except ulvarin.DeviceError as error:
            outcome["error"] = error

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    assert reading.wait(GENEROUS)
    det.close()
    reader.join(GENEROUS)
    assert not reader.is_alive() and "The device was closed" in str(outcome.get("error"))


def test_stop_from_another_thread_keeps_what_the_run_took(tmp_path):
    for name, run, stopped in runs(tmp_path):
        if stopped is None:
            continue
        with ulvarin.open(MEDIPIX2) as det:
            thread, outcome = run_in_thread(det, run)
            time.sleep(0.2)  # some frames taken (none is fine too)
            det.stop()
            thread.join(GENEROUS)
            assert not thread.is_alive(), f"{name} went on after stop()"
            assert "result" in outcome and stopped(outcome["result"]), (name, outcome)
            assert det.acquire(0.01).shape == (1, 256, 256), "the device is free again"
        if name == "acquire_to":
            with h5py.File(tmp_path / "long.h5") as f:
                assert f["frames"].shape[0] == outcome["result"].frames


def script(body):
    return textwrap.dedent("""
        import sys, threading, time
        import ulvarin
        ulvarin.set_emulators("medipix2:1")
        det = ulvarin.open()
        def busy():
            while True:
                try:
                    det.firmware
                except ulvarin.DeviceError:
                    return
                time.sleep(0.02)
        """) + textwrap.dedent(body)


@pytest.mark.parametrize("run", [
    "det.acquire(0.05, 2000)",
    "det.acquire_to(sys.argv[1], 0.05, 100000)",
    "det.scan('Thl', range(256), 0.05)",
    "[None for _ in det.stream(0.01, 100000)]",
])
def test_an_interpreter_exiting_under_a_daemon_threads_run_exits_cleanly(tmp_path, run):
    body = f"""
        def run():
            try:
                {run}
            except ulvarin.DeviceError:
                pass
        threading.Thread(target=run, daemon=True).start()
        busy()
        print("leaving", flush=True)
        sys.exit(7)
        """
    process = subprocess.run([sys.executable, "-c", script(body), str(tmp_path / "exit.h5")],
                             capture_output=True, text=True, timeout=GENEROUS,
                             env=dict(os.environ))
    assert process.stdout.strip() == "leaving"
    assert process.returncode == 7, process.stderr
    assert "terminate" not in process.stderr and "Abort" not in process.stderr, process.stderr


@pytest.mark.parametrize("run, says", [
    ("det.acquire(60, 3)", "frames 0"),
    ("det.acquire_to(sys.argv[1], 60, 3)", "outcome 0"),
    ("det.acquire_to(sys.argv[1], 0.02, 100000)", "outcome"),
    ("det.scan('Thl', range(256), 60)", "frames 0"),
    ("det.equalize('Thl', range(256), 60)", "interrupted"),
    ("[None for _ in det.stream(60, 3)]", "interrupted"),
    ("det.acquire_to(None, 0.01, 3, stream='ipc://' + sys.argv[1] + '.ipc', stream_wait=600)",
     "outcome 0"),
])
def test_ctrl_c_ends_a_run_in_the_main_thread(tmp_path, run, says):
    # A watcher thread says when the run holds the device; the exposures of a minute show
    # that the run's end does not wait for the frame under way.
    body = f"""
        def watch():
            busy()
            print("running", flush=True)
        threading.Thread(target=watch, daemon=True).start()
        try:
            {run}
        except ulvarin.Interrupted as stopped:
            if stopped.outcome is not None:
                print("outcome", stopped.outcome.frames)
            elif stopped.frames is not None:
                print("frames", len(stopped.frames))
            else:
                print("interrupted")
            sys.exit(130)
        except KeyboardInterrupt:
            print("interrupted")
            sys.exit(130)
        """
    process = subprocess.Popen([sys.executable, "-c", script(body), str(tmp_path / "c.h5")],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ))
    try:
        assert process.stdout.readline().strip() == "running"
        time.sleep(0.2)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=GENEROUS / 2)
    finally:
        process.kill()
    assert process.returncode == 130, err
    assert out.strip().startswith(says), out
    if "acquire_to(sys.argv[1]" in run:
        frames = int(out.split()[1])
        with h5py.File(tmp_path / "c.h5") as f:
            assert f["frames"].shape[0] == frames
