"""The detector's interfaces from Python: open one, set DACs, take frames as numpy arrays.

Frames are uint32 arrays in the window's image layout ([height, width], chips as tiles).
"""
import os
from typing import Iterator, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

class DeviceError(RuntimeError):
    """A device failure; `kind` names the report ('error', 'closed', 'busy', 'file', ...)."""
    kind: str

class Interrupted(KeyboardInterrupt):
    """Ctrl-C during a run; `frames` (`values` for a scan, `timestamps`) hold what it took,
    `outcome` what a run to disk wrote."""
    frames: npt.NDArray[np.uint32] | None
    values: npt.NDArray[np.int32] | None
    timestamps: npt.NDArray[np.float64] | None
    outcome: "RunReport | None"

class RunReport:
    """How a run written to disk (and/or streamed) went."""
    frames: int  # frames written
    dropped: int  # frames taken but missing from the file: it could not keep up
    stopped: bool  # ended early by stop()
    files: list[str]  # the files written, in order
    stream: str  # the stream's endpoint, "" without one
    streamed: int  # frames sent on the stream
    stream_dropped: int  # frames a stream consumer did not take in time

def devices() -> list[str]:
    """The interfaces found: real ones first, then the emulated ones."""

def open(device: Union[None, int, str] = None) -> "Device":
    """Opens an interface: None for the first listed, an index into devices(), or a name."""

def set_emulators(emulators: str) -> None:
    """Chooses the emulated interfaces listed: e.g. 'timepix:4,mxr:2' or 'off'."""

class Dacs:
    """The chips' DACs by name (case ignored): each a list of one value per chip."""
    def __getitem__(self, name: str) -> list[int]: ...
    def __setitem__(self, name: str, value: Union[int, Sequence[int]]) -> None: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def __contains__(self, name: str) -> bool: ...
    def keys(self) -> list[str]: ...

class Stream:
    """Frames of a continuous acquisition, one per next()."""
    dropped: int
    taken: int
    last_number: int
    def __iter__(self) -> Iterator[npt.NDArray[np.uint32]]: ...
    def __next__(self) -> npt.NDArray[np.uint32]: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Stream": ...
    def __exit__(self, *args: object) -> None: ...

class Device:
    """An open interface and its chips; use it in a with block (or call close())."""
    closed: bool
    description: str
    chip_type: str
    chip_count: int
    chip_ids: list[str]
    firmware: str
    frame_shape: tuple[int, int]
    dac_names: list[str]
    dacs: Dacs
    bias: float
    count_mode: list[str]  # set with one name, or a list of one name for every chip
    pixel_config: npt.NDArray[np.uint16]
    def close(self) -> None:
        """Closes the interface, from any thread: a run on another thread ends with DeviceError."""
    def stop(self) -> None:
        """Ends the run under way on another thread; that call returns what it took."""
    def __enter__(self) -> "Device": ...
    def __exit__(self, *args: object) -> None: ...
    def get_dac(self, name: str) -> list[int]:
        """The DAC's value on each chip (name case ignored)."""
    def set_dac(self, name: str, value: Union[int, Sequence[int]]) -> None:
        """Sets a DAC on every chip (one int) or on each chip; ValueError out of range."""
    def set_interface_dac(self, channel: int, volts: float) -> None: ...
    def load_mask(self, path: str) -> None: ...
    def acquire(self, exposure: float, frames: int = 1, timestamps: bool = False
                ) -> npt.NDArray[np.uint32] | tuple[npt.NDArray[np.uint32], npt.NDArray[np.float64]]:
        """[frames, height, width] taken back to back (and, with timestamps=True, each frame's
        seconds from the run's start); at most 4 GiB of frames."""
    def acquire_to(self, path: str | os.PathLike[str] | None, exposure: float, frames: int = 1,
                   period: float = 0.0, append: bool = False, overwrite: bool = False,
                   stream: str | None = None, stream_wait: float = 0.0) -> RunReport:
        """Frames written to `path` (.h5, .tif, .txt) and/or sent on `stream` as they arrive."""
    def stream(self, exposure: float, frames: int) -> Stream: ...
    def scan(self, dac: str, values: Sequence[int], exposure: float,
             frames: int = 1) -> tuple[npt.NDArray[np.uint32], npt.NDArray[np.int32]]: ...
    def equalize(self, dac: str, values: Sequence[int], exposure: float, frames: int = 1,
                 mask_unequalizable: bool = False, out: str = "",
                 overwrite: bool = False) -> dict: ...
    def save(self, path: str | os.PathLike[str], frames: npt.ArrayLike,
             exposure: float | None = None, values: Sequence[int] | None = None, dac: str = "",
             overwrite: bool = False, timestamps: Sequence[float] | None = None) -> None:
        """Writes frames; a file that exists is kept (ValueError) unless `overwrite`. Frames a
        run returned keep its timestamps and exposures unless others are given."""
