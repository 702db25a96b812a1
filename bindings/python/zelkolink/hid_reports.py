"""Decoders of the two HID input reports."""
import ctypes
from typing import Tuple

from . import _native
from .port_link import BytesLike

COMPATIBLE_REPORT_START = 0xFA


def _report(report: BytesLike, size: int, what: str) -> "ctypes.Array[ctypes.c_uint8]":
    view = memoryview(report).cast("B")
    if view.nbytes != size:
        raise ValueError(f"a {what} report is {size} bytes long, got {view.nbytes}")
    return (ctypes.c_uint8 * size).from_buffer_copy(view)


def decode_game_controller(report: BytesLike) -> Tuple[int, ...]:
    """The eleven values of a 19-byte game-controller report. Values 3..7
    are 12-bit, value 8 is 4-bit and value 10 is 8-bit. ValueError when the
    report is not 19 bytes long."""
    data = _report(report, _native.GAME_CONTROLLER_REPORT_SIZE, "game-controller")
    state = _native.GameControllerState()
    if not _native.library.parse_hid_game_controller_device(
            state, data, _native.GAME_CONTROLLER_REPORT_SIZE):
        raise RuntimeError("the library refused a 19-byte game-controller report")
    return tuple(state)


def decode_compatible(report: BytesLike) -> Tuple[int, ...]:
    """The nine input values of a 23-byte compatible-device report, whose
    first byte is 0xFA. ValueError when the length or first byte is wrong."""
    data = _report(report, _native.COMPATIBLE_REPORT_SIZE, "compatible-device")
    if data[0] != COMPATIBLE_REPORT_START:
        raise ValueError(f"a compatible-device report starts with 0x{COMPATIBLE_REPORT_START:02X}, "
                         f"got 0x{data[0]:02X}")
    inputs = _native.Inputs()
    if not _native.library.parse_hid_compatible_device(inputs, data,
                                                       _native.COMPATIBLE_REPORT_SIZE):
        raise RuntimeError("the library refused a 23-byte compatible-device report")
    return tuple(inputs)
