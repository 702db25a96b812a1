"""SBUS output: scaling standard values into SBUS units and packing frames."""
import ctypes
from typing import Iterable, Tuple

from . import _native

SBUS_START = 0x0F


def _sixteen(values: Iterable[int], name: str) -> "ctypes.Array[ctypes.c_uint16]":
    checked = list(values)
    if len(checked) != _native.SBUS_CHANNEL_COUNT:
        raise ValueError(f"{name} must be {_native.SBUS_CHANNEL_COUNT} values, got {len(checked)}")
    for position, value in enumerate(checked):
        if not 0 <= value <= 0xFFFF:
            raise ValueError(f"{name}[{position}] must be 0..65535, got {value}")
    return _native.SbusValues(*checked)


def std_to_sbus(values: Iterable[int]) -> Tuple[int, ...]:
    """Scales sixteen standard values (0..65535) into SBUS units:
    floor(x * 1.706), at most 2047, so 0..1200 spans the whole SBUS range."""
    sbus = _native.SbusValues()
    _native.library.convert_std_sbus_data(sbus, _sixteen(values, "values"))
    return tuple(sbus)


def encode_sbus(channels: Iterable[int], *, sbus2: bool = False) -> bytes:
    """The whole 25-byte SBUS frame for sixteen channels in SBUS units: start
    byte 0x0F, the channels packed 11 bits each (a value above 2047 is sent
    as 2047), a zero flags byte and the end byte. The end byte is 0, or with
    ``sbus2`` the SBUS2 end byte, which cycles 04 14 24 34 over every SBUS2
    frame this process encodes."""
    frame = _native.SbusFrame(SBUS_START)
    encode = _native.library.encode_sbus_data_v2 if sbus2 else _native.library.encode_sbus_data_v1
    encode(frame, _sixteen(channels, "channels"))
    return bytes(frame)
