"""The ulvarin module against the emulated interfaces, as a notebook would use it: open,
DACs by name, frames as numpy arrays whose counts follow what the emulator was set to do,
streams, scans, equalisation, files, and every bad argument refused before anything is sent.
"""
import os
import signal
import subprocess
import sys
import threading
import time

import h5py
import numpy as np
import pytest

import ulvarin

MEDIPIX2 = "Emulator Medipix2 x1"
QUAD = "Emulator Timepix x4"
MASK_BIT = 0x0800  # a Medipix2 pixel counts while this bit of its word is set


@pytest.fixture(autouse=True)
def emulators():
    ulvarin.set_emulators("medipix2:1,timepix:4")


def test_devices_open_by_index_name_and_default_and_close():
    names = ulvarin.devices()
    assert [n for n in names if "Emulator" in n][-2:] == [
        "Medipix2 ver 3.0 : " + MEDIPIX2, "Medipix2 ver 3.0 : " + QUAD]
    with ulvarin.open(QUAD) as det:
        assert (det.chip_type, det.chip_count, det.frame_shape) == ("Timepix", 4, (512, 512))
        assert len(det.chip_ids) == 4 and det.firmware
        assert det.count_mode == ["counting"] * 4, "a device opens counting hits"
        with pytest.raises(ulvarin.DeviceError, match="close them first"):
            ulvarin.set_emulators("mxr:2")
    assert det.closed
    with pytest.raises(ulvarin.DeviceError) as closed:
        det.get_dac("Ikrum")
    assert closed.value.kind == "closed"
    with ulvarin.open(names.index("Medipix2 ver 3.0 : " + MEDIPIX2)) as det:
        assert det.chip_type == "Medipix2"
    with pytest.raises(ulvarin.DeviceError, match="No interface matches") as missing:
        ulvarin.open("nothing like it")
    assert missing.value.kind == "not found"
    with pytest.raises(ValueError, match="left out"):
        ulvarin.set_emulators("tpx:9")
    # The set applies whenever no device is open, also after the list was made.
    ulvarin.set_emulators("mxr:2")
    assert [n for n in ulvarin.devices() if "Emulator" in n] == ["Medipix2 ver 3.0 : Emulator MXR x2"]
    ulvarin.set_emulators("off")
    assert not [n for n in ulvarin.devices() if "Emulator" in n]


def test_dacs_by_name_per_chip_and_for_all_and_refusals_send_nothing():
    with ulvarin.open(QUAD) as det:
        assert "Thl Fine" in det.dac_names
        det.set_dac("ikrum", 20)
        assert det.get_dac("Ikrum") == [20] * 4
        det.dacs["Ikrum"] = [1, 2, 3, 4]
        assert det.dacs["IKRUM"] == [1, 2, 3, 4] == det.get_dac("ikrum")
        assert "Thl Coarse" in det.dacs and "Thl" not in det.dacs
        assert list(det.dacs) == det.dac_names and len(det.dacs) == len(det.dac_names)
        with pytest.raises(ValueError, match='No DAC "Vthl"'):
            det.dacs["Vthl"]
        for name, value, text in [("Nope", 1, 'No DAC "Nope" on Timepix chips'),
                                  ("Thl Fine", 1024, "Thl Fine takes values 0 to 1023, not 1024"),
                                  ("Ikrum", -1, "takes values 0 to 255, not -1"),
                                  ("Ikrum", [1, 2], "one value for every chip or one per chip")]:
            with pytest.raises(ValueError, match=text):
                det.set_dac(name, value)
        assert det.get_dac("Ikrum") == [1, 2, 3, 4]
        det.count_mode = "tot"
        assert det.count_mode == ["tot"] * 4
        with pytest.raises(ValueError, match="counting, tot, 1-hit or toa"):
            det.count_mode = "fast"
        det.bias = 50
        assert det.bias == 50
        with pytest.raises(ValueError, match="23 to 104.5"):
            det.bias = 200
        det.set_interface_dac(1, 1.25)
        with pytest.raises(ValueError):
            det.set_interface_dac(2, 1.0)


def test_acquire_counts_as_set_up_and_bad_arguments_are_refused():
    with ulvarin.open(MEDIPIX2) as det:
        words = det.pixel_config
        assert words.shape == (1, 256, 256) and words.dtype == np.uint16
        words[0, :, 100:] &= np.uint16(0xFFFF & ~MASK_BIT)
        det.pixel_config = words
        assert np.array_equal(det.pixel_config, words)
        short = det.acquire(0.2, frames=3)
        assert short.shape == (3, 256, 256) and short.dtype == np.uint32
        assert short[:, :, 100:].max() == 0, "masked pixels count nothing"
        longer = det.acquire(0.4, frames=2)
        ratio = longer[:, :, :100].mean() / short[:, :, :100].mean()
        assert 1.8 < ratio < 2.2, ratio

        for call, text in [(lambda: det.acquire(0), "The exposure is a number of seconds above 0"),
                           (lambda: det.acquire(-1), "The exposure is a number of seconds above 0"),
                           (lambda: det.acquire(0.1, frames=0), "Frames are 1 to"),
                           (lambda: det.stream(0.1, 0), "Frames are 1 to"),
                           (lambda: setattr(det, "pixel_config", words.astype(np.int32)),
                            "array of uint16"),
                           (lambda: setattr(det, "pixel_config", words[0]), r"shape \(1, 256, 256\)"),
                           (lambda: det.scan("Thl", [300], 0.1), "Thl takes values 0 to 255"),
                           (lambda: setattr(det, "count_mode", "tot"), "Timepix chips' only")]:
            with pytest.raises(ValueError, match=text):
                call()
        assert np.array_equal(det.pixel_config, words), "a refusal sends nothing"


def test_stream_hands_out_every_frame_in_order():
    with ulvarin.open(QUAD) as det:
        stream = det.stream(0.001, 50)
        numbers = []
        for frame in stream:
            assert frame.shape == (512, 512) and frame.dtype == np.uint32
            numbers.append(stream.last_number)
        assert numbers == list(range(1, 51))
        assert stream.dropped == 0 and stream.taken == 50
        assert det.acquire(0.01).shape == (1, 512, 512), "the device is free again"


def test_threshold_scan_crosses_half_at_the_emulated_threshold():
    with ulvarin.open(MEDIPIX2) as det:
        frames, values = det.scan("Thl", list(range(140, 201, 4)), 0.1)
        assert frames.shape == (len(values), 256, 256)
        assert list(values) == list(range(140, 201, 4))
        assert det.get_dac("Thl") == [200], "the DAC gets its value back"
        medians = np.median(frames.reshape(len(values), -1), axis=1)
        half = medians[-1] / 2
        k = int(np.argmax(medians >= half))
        crossing = values[k - 1] + 4 * (half - medians[k - 1]) / (medians[k] - medians[k - 1])
        assert abs(crossing - 170) < 3, (crossing, medians)


def interrupt_after(seconds):
    timer = threading.Timer(seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    return timer


def test_ctrl_c_stops_a_stream_and_an_acquisition_with_the_frames_so_far():
    with ulvarin.open(MEDIPIX2) as det:
        taken = 0
        interrupt_after(0.5)
        with pytest.raises(KeyboardInterrupt):
            for _ in det.stream(0.05, 1000):
                taken += 1
        assert 0 < taken < 1000
        interrupt_after(0.5)
        with pytest.raises(ulvarin.Interrupted) as stopped:
            det.acquire(0.05, frames=1000)
        assert 0 < len(stopped.value.frames) < 1000
        assert stopped.value.frames.shape[1:] == (256, 256)
        assert det.acquire(0.01).shape == (1, 256, 256), "the device is free again"


def test_a_device_closed_under_a_stream_ends_it_and_the_interpreter_exits_cleanly():
    det = ulvarin.open(MEDIPIX2)
    stream = det.stream(0.01, 1000)
    next(stream)
    with pytest.raises(ulvarin.DeviceError, match="A run is under way"):
        det.set_dac("Thl", 150)
    det.close()
    with pytest.raises(ulvarin.DeviceError, match="The device was closed"):
        next(stream)
    # A script that ends with a device open and a stream running.
    script = ("import ulvarin; ulvarin.set_emulators('medipix2:1'); d = ulvarin.open(); "
              "s = d.stream(0.01, 100000); next(s); print('ok')")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ))
    assert done.returncode == 0 and done.stdout.strip() == "ok", done.stderr


def test_closing_from_another_thread_ends_a_stream_being_read():
    for close in (lambda det, stream: stream.close(), lambda det, stream: det.close()):
        det = ulvarin.open(MEDIPIX2)
        stream = det.stream(0.01, 100000)
        ended = []

        def read():
            try:
                for _ in stream:
                    pass
                ended.append("stopped")
            except ulvarin.DeviceError as error:
                ended.append(str(error))

        reader = threading.Thread(target=read)
        reader.start()
        next_frame_seen = time.monotonic() + 5
        while stream.taken == 0 and time.monotonic() < next_frame_seen:
            time.sleep(0.01)
        closing = threading.Thread(target=close, args=(det, stream))
        closing.start()
        stream.close()  # a second closer at the same time
        closing.join(timeout=10)
        reader.join(timeout=10)
        assert not closing.is_alive() and not reader.is_alive(), "closing hung"
        assert ended and ended[0] in ("stopped", "The device was closed."), ended
        det.close()


def test_a_second_run_from_another_thread_is_refused_while_one_runs():
    with ulvarin.open(MEDIPIX2) as det:
        result = {}
        runner = threading.Thread(target=lambda: result.setdefault("frames", det.acquire(0.05, 20)))
        runner.start()
        deadline = time.monotonic() + 5
        refused = []
        while runner.is_alive() and time.monotonic() < deadline and not refused:
            try:
                det.set_dac("Ikrum", 7)
            except ulvarin.DeviceError as error:
                refused.append(str(error))
            time.sleep(0.01)
        runner.join(timeout=30)
        assert refused and "A run is under way" in refused[0], refused
        assert result["frames"].shape == (20, 256, 256), "the first run keeps every frame"


def test_equalize_keeps_the_new_configuration_and_save_writes_the_run(tmp_path):
    with ulvarin.open(MEDIPIX2) as det:
        before = det.pixel_config
        out = str(tmp_path / "equalization.h5")
        result = det.equalize("Thl", list(range(200, 256)), 0.01, out=out)
        assert result["summary"].startswith("Equalized 1 chip")
        chip = result["chips"][0]
        assert chip["spread_before"] > 3 * chip["spread_after"]
        assert result["after"].shape == (256, 256)
        assert np.array_equal(det.pixel_config, result["pixel_config"])
        assert not np.array_equal(det.pixel_config, before)
        with h5py.File(out) as f:
            assert f["entry/thresholds/after"].shape == (256, 256)

        frames = det.acquire(0.05, frames=2)
        run = str(tmp_path / "run.h5")
        det.save(run, frames, exposure=0.05)
        with h5py.File(run) as f:
            assert np.array_equal(f["frames"][:], frames)
            assert np.array_equal(f["entry/instrument/detector/pixel_configuration"][:],
                                  result["pixel_config"])
        with pytest.raises(ValueError, match="frames are arrays of"):
            det.save(run, frames[:, :10])
