"""ZelkoLink for Python: byte-level codecs for a device port link, HID input
reports and SBUS output, over the native library through ctypes.

Bytes go in and bytes or tuples of ints come out. The binding declares the
library's result width for the platform, calls it with the C calling
convention, hands it port reads of any length in pieces it accepts, and
serialises the one process-wide port parser with a lock. Wrong sizes and
values raise ValueError before the library is called. zelkolink.capture
reads and writes port link captures (pcapng files Wireshark opens).
"""
from . import capture
from .hid_reports import decode_compatible, decode_game_controller
from .port_link import PortParser, port_parser, request_frame, stop_frame
from .sbus import encode_sbus, std_to_sbus

__all__ = [
    "PortParser",
    "capture",
    "decode_compatible",
    "decode_game_controller",
    "encode_sbus",
    "port_parser",
    "request_frame",
    "std_to_sbus",
    "stop_frame",
]


def __getattr__(name: str) -> str:
    # __version__ comes from the installed package's metadata, looked up
    # only when asked for: the lookup costs more than the import itself.
    if name == "__version__":
        from importlib.metadata import PackageNotFoundError, version
        try:
            return version("zelkolink")
        except PackageNotFoundError:  # used from a source tree, not installed
            return "unknown"
    raise AttributeError(f"module 'zelkolink' has no attribute {name!r}")
