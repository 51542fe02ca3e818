#!/usr/bin/python3
"""Opens the run files ulvarin-cli writes, as an analysis script would (h5py, numpy,
tifffile), and checks their shape, their attributes and that the counts are what the
emulated interface was set up to produce: masked pixels silent, the others counting at the
rate of the exposure, and a threshold scan rising from nothing to full counts around its
middle. A viewer's NeXus reader (silx) finds the default plot and labels its axis. A run is
followed by another program while it is written, and a run killed outright keeps its
frames. TIFF runs open as ImageJ stacks of frames, a run cut short included. A disk that
fills ends a run with whole frames and a clean exit; a file being written is not replaced
or added to by another run; appends go only to runs of their own kind and carry them on.

Usage: run_file_test.py PATH_TO_ULVARIN_CLI
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

import h5py
import numpy as np
import silx.io.nxdata
import tifffile

CLI = sys.argv[1]
ENV = dict(os.environ, ULVARIN_EMULATOR="medipix2:1,mxr:2")
MASK_BIT = 0x0800  # a Medipix2 pixel counts while this bit of its configuration is set
FAILURES = []


def check(condition, text):
    if not condition:
        FAILURES.append(text)
        print("FAIL:", text)


def run(*args):
    result = subprocess.run([CLI, *args], env=ENV, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        sys.exit(f"ulvarin-cli {' '.join(args)} failed ({result.returncode}): {result.stderr}")
    return result


def attempt(*args):
    """Runs ulvarin-cli and returns its result, however it ended."""
    return subprocess.run([CLI, *args], env=ENV, capture_output=True, text=True, timeout=120)


def text(value):
    return value.decode() if isinstance(value, bytes) else str(value)


def masked_acquisition(folder):
    # Column 100 onwards of every row masked: an ASCII mask of one word per pixel.
    words = np.full((256, 256), 0x1FFF, dtype=np.int64)
    words[:, 100:] &= ~MASK_BIT
    mask = os.path.join(folder, "mask.txt")
    np.savetxt(mask, words, fmt="%d")
    out = os.path.join(folder, "masked.h5")
    run("acquire", "0", "--frames", "4", "--exposure", "0.2", "--mask", mask, "--out", out)

    with h5py.File(out, "r") as f:
        frames = f["frames"]
        check(frames.shape == (4, 256, 256), f"shape {frames.shape}")
        check(frames.dtype == np.uint32, f"type {frames.dtype}")
        check(frames.compression == "gzip", "frames are compressed")
        check(f.attrs["chip_type"] == "Medipix2", f"chip_type {f.attrs['chip_type']}")
        check(f.attrs["chip_count"] == 1, "chip_count")
        check(f.attrs["device"].endswith("Emulator Medipix2 x1"), "device")
        check(f.attrs["dacs"].shape == (1, len(f.attrs["dac_names"])), "one DAC row per chip")
        check("Thl" in list(f.attrs["dac_names"]), "DAC names")
        check(len(f.attrs["program_version"]) > 0, "program version")
        check(list(f.attrs["count_mode"]) == ["counting"], f"count_mode {f.attrs['count_mode']}")
        check(np.allclose(f["exposure"][:], 0.2, atol=1e-4), f"exposures {f['exposure'][:]}")
        data = frames[:]
        # A one-chip Medipix2 image is the chip as it is: column x of the image is column x.
        check(data[:, :, 100:].max() == 0, "masked pixels count nothing")
        live = data[:, :, :100]
        check((live > 0).mean() > 0.9, f"live pixels count ({(live > 0).mean():.2f})")
        # No pixel sees more than the 2000 photons per second of a fully lit one.
        brightest = np.percentile(live, 99.9)
        check(0 < brightest < 480, f"99.9th percentile {brightest} of at most about 400")
        short_mean = live.mean()

    # Twice the exposure, twice the counts (Poisson noise of a 100 x 256 area is tiny).
    out = os.path.join(folder, "longer.h5")
    run("acquire", "0", "--frames", "2", "--exposure", "0.4", "--mask", mask, "--out", out)
    with h5py.File(out, "r") as f:
        ratio = f["frames"][:, :, :100].mean() / short_mean
        check(1.8 < ratio < 2.2, f"counts over 0.4 s / over 0.2 s = {ratio:.3f}")


def nexus(path, axis, length, chips):
    """The NeXus tree a viewer follows to its default plot."""
    with h5py.File(path, "r") as f:
        check(f.attrs["default"] == "entry", "root default")
        entry = f["entry"]
        check(entry.attrs["NX_class"] == "NXentry", "NXentry")
        data = entry[entry.attrs["default"]]
        check(data.attrs["NX_class"] == "NXdata", "NXdata")
        signal = data[data.attrs["signal"]]
        check(signal.shape[0] == length and signal.ndim == 3, f"signal {signal.shape}")
        axes = list(data.attrs["axes"])
        check(axes == [axis, ".", "."], f"axes {axes}")
        check(data[axis].shape == (length,), f"axis {data[axis].shape}")
        check(data["exposure"].attrs["units"] == "s", "exposure units")
        check(entry["instrument/detector/count_time"].id == f["exposure"].id,
              "the detector's count_time is the exposure of each frame")
        check(f.attrs["frames_planned"] == length and f.attrs["frames_written"] == length and
              f.attrs["end_reason"] == "done", "frames planned and written, end reason")
        check(signal.id == f["frames"].id, "the NXdata signal is the root's frames")
        detector = entry["instrument/detector"]
        check(detector.attrs["NX_class"] == "NXdetector", "NXdetector")
        check(detector["x_pixel_size"].attrs["units"] == "m" and
              abs(detector["x_pixel_size"][()] - 55e-6) < 1e-12, "pixel size")
        check(detector["chip_regions"].shape == (chips, 4), "chip regions")
        check(len(detector["count_mode"]) == chips, "count mode per chip")
        check(detector["pixel_configuration"].shape == (chips, 256, 256), "pixel configuration")
        check(entry["end_time"][()] >= entry["start_time"][()], "start and end time")
        viewer_plot(f, axis, length)
        return data[axis][:], detector["chip_regions"][:]


def viewer_plot(f, axis, length):
    """What a NeXus viewer draws first: a stack of images along the run's axis."""
    plot = silx.io.nxdata.get_default(f)
    check(plot is not None and plot.is_valid, "silx finds a valid default plot")
    if plot is None:
        return
    check(plot.signal_is_3d and plot.signal.shape[0] == length, f"silx signal {plot.signal.shape}")
    check(plot.axes_dataset_names[0] == axis, f"silx axes {plot.axes_dataset_names}")
    check(plot.axes[0] is not None and len(plot.axes[0]) == length, "silx axis values")
    label = "Thl (DAC steps)" if axis == "scan_values" else "frame number"
    check(plot.axes_names[0] == label, f"silx labels the axis {plot.axes_names}")


def threshold_scan(folder):
    out = os.path.join(folder, "scan.h5")
    run("scan", "0", "--dac", "Thl", "--from", "130", "--to", "210", "--step", "20",
        "--exposure", "0.1", "--out", out)
    with h5py.File(out, "r") as f:
        check(f["frames"].shape == (5, 256, 256), f"scan shape {f['frames'].shape}")
        check(f.attrs["scan_dac"] == "Thl", "scan_dac")
        values = list(f["scan_values"][:])
        check(values == [130, 150, 170, 190, 210], f"scan values {values}")
        medians = [float(np.median(frame)) for frame in f["frames"]]
    # Below the photon line nothing counts, above it every photon does, and at 170 (the
    # midpoint of the emulated S-curve) about half of them.
    full = medians[-1]
    check(medians[0] == 0, f"nothing counted at 130: {medians}")
    check(full > 20, f"full counts at 210: {medians}")
    check(0.25 * full < medians[2] < 0.75 * full, f"about half at 170: {medians}")
    check(medians == sorted(medians), f"counts rise with the threshold: {medians}")
    values, _ = nexus(out, "scan_values", 5, 1)
    check(list(values) == [130, 150, 170, 190, 210], f"scan axis {values}")
    with h5py.File(out, "r") as f:
        axis = f["entry/data/scan_values"]
        check(axis.attrs["units"] == "DAC steps" and axis.attrs["long_name"] == "Thl (DAC steps)",
              f"scan axis attributes {dict(axis.attrs)}")

    # Two MXR chips side by side, each with its own region of the image.
    out = os.path.join(folder, "two.h5")
    run("acquire", "1", "--frames", "3", "--exposure", "0.05", "--out", out)
    numbers, regions = nexus(out, "frame_number", 3, 2)
    check(list(numbers) == [1, 2, 3], f"frame numbers {numbers}")
    check(sorted(map(tuple, regions)) == [(0, 0, 256, 256), (256, 0, 256, 256)],
          f"chip regions {regions.tolist()}")


def progress_reaches(cli, frame):
    """Reads the command line's progress lines until one tells of frame `frame` or later
    (a pipe gets a line for the first frame, then one every few seconds)."""
    for line in cli.stderr:
        done = line.split("/", 1)[0]
        if done.isdigit() and int(done) >= frame:
            return True
    return False


def frames_reach(frames, count, seconds=30):
    """Rereads a followed dataset until it holds `count` frames; its length then."""
    deadline = time.monotonic() + seconds
    while True:
        frames.refresh()
        if frames.shape[0] >= count or time.monotonic() > deadline:
            return frames.shape[0]
        time.sleep(0.05)


def followed_and_killed(folder):
    """Another program follows a run as it is written; killing the writer outright keeps
    every frame flushed so far."""
    out = os.path.join(folder, "live.h5")
    cli = subprocess.Popen([CLI, "acquire", "0", "--frames", "1000", "--exposure", "0.05",
                            "--out", out], env=ENV, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while not os.path.exists(out) and time.monotonic() < deadline:
            time.sleep(0.05)
        # The writer opens the file to followers once its tree is written.
        while True:
            try:
                f = h5py.File(out, "r", swmr=True)
                break
            except OSError:
                check(time.monotonic() < deadline, "a follower can open the run")
                if time.monotonic() > deadline:
                    return
                time.sleep(0.05)
        with f:
            frames = f["frames"]
            seen = frames_reach(frames, 3)
            check(seen >= 3, f"a follower sees the frames written so far ({seen})")
            check(frames[seen - 1].max() > 0, "the last frame seen holds counts")
            later = frames_reach(frames, seen + 3)
            check(later >= seen + 3, f"the follower sees new frames ({seen}, then {later})")
        cli.kill()
    finally:
        cli.kill()
        cli.wait(timeout=60)
    with h5py.File(out, "r", swmr=True) as f:
        kept = f["frames"].shape[0]
        check(kept >= later, f"a killed run keeps the {later} frames seen ({kept})")
        check(f["frames"][kept - 1].max() > 0, "the last frame of a killed run holds counts")
    try:
        h5py.File(out, "r").close()
        check(False, "a killed run opens plainly before h5clear")
    except OSError as error:
        check("h5clear" in str(error), f"the refusal names its mend: {error}")
    subprocess.run(["h5clear", "-s", out], check=True)
    with h5py.File(out, "r") as f:
        check(f["frames"].shape[0] == kept, "after h5clear the run opens plainly")


def imagej_stack(path, frames):
    with tifffile.TiffFile(path) as tif:
        check(tif.is_imagej, f"{path} is an ImageJ stack")
        meta = tif.imagej_metadata or {}
        check(meta.get("images") == frames and meta.get("frames") == frames,
              f"{path}: ImageJ counts {meta.get('images')}, {meta.get('frames')} of {frames}")
        check(meta.get("unit") == "micron", f"{path}: unit {meta.get('unit')}")
        check(len(tif.pages) == frames, f"{path}: {len(tif.pages)} pages")
        check(tif.series[0].shape[0] == frames, f"{path}: series {tif.series[0].shape}")
        names = [page.tags["PageName"].value for page in tif.pages]
        return meta, names, tif.series[0].asarray()


def tiff_stacks(folder):
    out = os.path.join(folder, "run.tif")
    run("acquire", "0", "--frames", "4", "--exposure", "0.05", "--out", out)
    _, names, data = imagej_stack(out, 4)
    check(data.shape == (4, 256, 256) and data.dtype == np.uint32, f"stack {data.shape}")
    check(names[3].startswith("frame 4 exposure"), f"page name {names[3]}")

    out = os.path.join(folder, "scan.tif")
    run("scan", "0", "--dac", "Thl", "--from", "130", "--to", "170", "--step", "20",
        "--exposure", "0.05", "--out", out)
    meta, names, _ = imagej_stack(out, 3)
    check(str(meta.get("scan_values")) == "130,150,170", f"scan values {meta.get('scan_values')}")
    check([n.split()[2:4] for n in names] == [["Thl", "130"], ["Thl", "150"], ["Thl", "170"]],
          f"page names {names}")

    # Cut short by Ctrl-C, the stack says how many frames it really holds.
    out = os.path.join(folder, "cut.tif")
    cli = subprocess.Popen([CLI, "acquire", "0", "--frames", "1000", "--exposure", "0.05",
                            "--out", out], env=ENV, stderr=subprocess.PIPE, text=True)
    progress_reaches(cli, 3)
    cli.send_signal(signal.SIGINT)
    cli.communicate(timeout=60)
    check(cli.returncode == 130, f"interrupted run ended with {cli.returncode}")
    with tifffile.TiffFile(out) as tif:
        pages = len(tif.pages)
    imagej_stack(out, pages)


def disk_full(folder):
    """A file size limit stands in for a full disk: writes past it fail as they would."""
    out = os.path.join(folder, "full.h5")
    cli = subprocess.run(["bash", "-c", f'ulimit -f 1500; trap "" XFSZ; exec "$0" "$@"', CLI,
                          "acquire", "0", "--frames", "500", "--exposure", "0.01", "--out", out],
                         env=ENV, capture_output=True, text=True, timeout=120)
    check(cli.returncode == 5, f"a full disk ends with the write failure's code, not "
          f"{cli.returncode}: {cli.stderr[-300:]}")
    check("File too large" in cli.stderr, f"the reason is told: {cli.stderr[-300:]}")
    with h5py.File(out, "r") as f:
        n = f["frames"].shape[0]
        check(0 < n < 500, f"frames kept {n}")
        lengths = {name: f[name].shape[0] for name in ("exposure", "timestamp", "frame_number")}
        check(set(lengths.values()) == {n}, f"every series as long as the {n} frames: {lengths}")
        check(list(f["frame_number"][:]) == list(range(1, n + 1)), "frame numbers")
        check(all(frame.max() > 0 for frame in f["frames"]), "every frame kept holds counts")
        check(f.attrs["frames_written"] == n and f.attrs["frames_planned"] == 500, "counts")
        check(text(f.attrs["end_reason"]).startswith("failed: "), f"end {f.attrs['end_reason']}")
        check(text(f["entry/title"][()]) == f"acquisition of {n} of 500 frames (failed)",
              f"title {f['entry/title'][()]}")


def two_writers(folder):
    """A run file being written is neither replaced nor added to by another run."""
    out = os.path.join(folder, "busy.h5")
    first = subprocess.Popen([CLI, "acquire", "0", "--frames", "1000", "--exposure", "0.05",
                              "--out", out], env=ENV, stderr=subprocess.PIPE, text=True)
    try:
        progress_reaches(first, 2)
        for option in ("--force", "--append"):
            second = attempt("acquire", "0", "--frames", "2", "--exposure", "0.01", option,
                             "--out", out)
            check(second.returncode == 2, f"{option} onto a run being written: "
                  f"{second.returncode} {second.stderr}")
            check(f"{out} is being written by another run." in second.stderr, second.stderr)
        first.send_signal(signal.SIGINT)
        first.communicate(timeout=60)
        check(first.returncode == 130, f"the first run ends as stopped ({first.returncode})")
    finally:
        first.kill()
        first.wait(timeout=60)
    with h5py.File(out, "r") as f:
        n = f["frames"].shape[0]
        check(f.attrs["end_reason"] == "stopped", f"end reason {f.attrs['end_reason']}")
        check(text(f["entry/title"][()]) == f"acquisition of {n} of 1000 frames (stopped)",
              f"title {f['entry/title'][()]}")
    # Once it is done, --force replaces it.
    run("acquire", "0", "--frames", "2", "--exposure", "0.01", "--force", "--out", out)
    with h5py.File(out, "r") as f:
        check(f["frames"].shape[0] == 2, "replaced")
    check(sorted(os.listdir(folder)).count("busy.h5") == 1 and
          not any(name.startswith(".busy.h5") for name in os.listdir(folder)),
          f"no temporary file left: {os.listdir(folder)}")


def restored(source, out, frames_dtype, compression):
    """A copy of the run `source` whose frames are stored another way."""
    with h5py.File(source, "r") as f, h5py.File(out, "w", libver="latest") as g:
        for key, value in f.attrs.items():
            g.attrs[key] = value
        g.create_dataset("frames", data=f["frames"][:].astype(frames_dtype),
                         maxshape=(None, 256, 256), chunks=(1, 256, 256),
                         compression=compression)
        for name in ("exposure", "timestamp", "frame_number"):
            g.create_dataset(name, data=f[name][:], maxshape=(None,), chunks=(256,))


def appends(folder):
    acquisition = os.path.join(folder, "acq.h5")
    thl = os.path.join(folder, "thl.h5")
    run("acquire", "0", "--frames", "2", "--exposure", "0.01", "--out", acquisition)
    run("scan", "0", "--dac", "Thl", "--from", "130", "--to", "150", "--step", "20",
        "--exposure", "0.01", "--out", thl)
    plain = os.path.join(folder, "plain.h5")
    restored(acquisition, plain, np.uint32, None)
    floats = os.path.join(folder, "floats.h5")
    restored(acquisition, floats, np.float64, "gzip")
    empty = os.path.join(folder, "empty.h5")
    open(empty, "w").close()

    scan = ["scan", "0", "--dac", "Thl", "--from", "170", "--to", "190", "--step", "20"]
    acquire = ["acquire", "0", "--frames", "2"]
    ikrum = ["scan", "0", "--dac", "Ikrum", "--from", "10", "--to", "30", "--step", "20"]
    refused = [
        (acquisition, scan, "it is an acquisition, not a scan of Thl"),
        (thl, acquire, "it is a scan of Thl, not an acquisition"),
        (thl, ikrum, "it is a scan of Thl, not of Ikrum"),
        (plain, acquire, "another chunking or compression"),
        (floats, acquire, "another element type"),
        (empty, acquire, "it is empty"),
    ]
    for path, command, reason in refused:
        with open(path, "rb") as f:
            before = f.read()
        r = attempt(*command, "--exposure", "0.01", "--append", "--out", path)
        check(r.returncode == 5 and reason in r.stderr,
              f"{os.path.basename(path)} {command[0]}: {r.returncode} {r.stderr}")
        with open(path, "rb") as f:
            check(f.read() == before, f"{os.path.basename(path)} left as it was")

    r = run(*acquire, "--exposure", "0.01", "--append", "--out", acquisition)
    check(r.stdout.startswith("2 frames written"), f"an append counts its own frames: {r.stdout}")
    run(*scan, "--exposure", "0.01", "--append", "--out", thl)
    with h5py.File(acquisition, "r") as f:
        check(list(f["frame_number"][:]) == [1, 2, 3, 4], f"numbers {f['frame_number'][:]}")
        times = f["timestamp"][:]
        check(all(np.diff(times) > 0), f"times go on {times}")
        check(f.attrs["frames_planned"] == 4 and f.attrs["frames_written"] == 4, "counts")
    with h5py.File(thl, "r") as f:
        check(list(f["scan_values"][:]) == [130, 150, 170, 190], f"scan {f['scan_values'][:]}")
        check(f.attrs["scan_dac"] == "Thl", "scan_dac")


with tempfile.TemporaryDirectory() as folder:
    masked_acquisition(folder)
    threshold_scan(folder)
    followed_and_killed(folder)
    tiff_stacks(folder)
for case in (disk_full, two_writers, appends):
    with tempfile.TemporaryDirectory() as folder:
        case(folder)
if FAILURES:
    sys.exit(f"{len(FAILURES)} checks failed")
print("run files OK")
