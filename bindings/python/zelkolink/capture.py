"""Port link captures: pcapng files holding what a serial port link carried,
one block per read or write, with its time and direction.

A capture has one interface per port, of link type 147 (LINKTYPE_USER0),
and one enhanced packet block per read from the port ("in", device to host)
or write to it ("out", host to device). Read boundaries are kept: they are
what a replay must reproduce. Wireshark opens the same files.

Standard library only: this module does not load the native library.
"""
import math
import os
import struct
import warnings
from typing import BinaryIO, Dict, Iterable, Iterator, List, Tuple, Union

__all__ = ["Block", "CaptureError", "CaptureWarning", "LINKTYPE_USER0", "read", "write"]

#: One read or write: seconds since 1970, "in" or "out", and the bytes.
Block = Tuple[float, str, bytes]
PathLike = Union[str, "os.PathLike[str]"]

LINKTYPE_USER0 = 147

_SECTION_HEADER = 0x0A0D0D0A  # the same bytes in either byte order
_INTERFACE = 1
_ENHANCED_PACKET = 6
_BYTE_ORDER_MAGIC = 0x1A2B3C4D
_OPT_END, _OPT_IF_NAME, _OPT_IF_DESCRIPTION = 0, 2, 3
_OPT_IF_TSRESOL, _OPT_IF_TSOFFSET, _OPT_EPB_FLAGS = 9, 14, 2
_INBOUND, _OUTBOUND = 1, 2
_MICROSECONDS = 6  # if_tsresol: 10^-6 s, and the default when absent


class CaptureError(ValueError):
    """A file that is not a capture this module can read. The message is one
    line naming the file and the problem."""


class CaptureWarning(UserWarning):
    """A capture read only in part: it ends inside a block (a writer stopped
    mid-write), or packets were cut to the interface's snap length."""


def read(path: PathLike) -> Iterator[Block]:
    """Yields (seconds, direction, data) for every packet block of a pcapng
    port capture, in file order: seconds since 1970 as a float, direction
    "in" (device to host) or "out" (host to device), data the bytes of that
    one read or write. A block without a direction counts as "in".

    The file is opened and its start checked at once: OSError for a file that
    cannot be opened, CaptureError for an empty file or one that is not
    pcapng. The blocks are read as they are asked for; a fault found on the
    way (a bad block length, a link type other than USER0, a packet of an
    interface never described) raises CaptureError there, after the blocks
    before it were yielded. A capture whose last block is cut short yields
    every complete block and then warns (CaptureWarning) that it ends inside
    a block at byte N. Blocks of other types are skipped. Sections may be of
    either byte order, and a new section starts with no interfaces.
    """
    name = os.fsdecode(path)
    file = open(path, "rb")
    try:
        start = file.read(4)
        if not start:
            raise CaptureError(f"{name}: empty file, not a capture")
        if len(start) < 4 or struct.unpack("<I", start)[0] != _SECTION_HEADER:
            raise CaptureError(f"{name}: not a pcapng capture (it starts with {start.hex(' ')})")
        file.seek(0)
    except BaseException:
        file.close()
        raise
    return _blocks(file, name)


class _Interface:
    def __init__(self, snaplen: int, divisor: int, offset: int) -> None:
        self.snaplen, self.divisor, self.offset = snaplen, divisor, offset


def _blocks(file: BinaryIO, name: str) -> Iterator[Block]:
    with file:
        size = os.fstat(file.fileno()).st_size
        order = "<"
        interfaces: List[_Interface] = []
        cut_warned = False
        at = 0
        while at < size:
            head = file.read(12)
            if len(head) < 12:
                break
            kind, = struct.unpack(order + "I", head[:4])
            if kind == _SECTION_HEADER:
                order = _section_order(head[8:12], name, at)
            length, = struct.unpack(order + "I", head[4:8])
            if length < 12 or length % 4:
                raise CaptureError(f"{name}: block at byte {at} has length {length}, "
                                   "not a multiple of 4 of at least 12")
            if length > size - at:
                break
            block = head + file.read(length - 12)
            if struct.unpack(order + "I", block[-4:])[0] != length:
                raise CaptureError(f"{name}: block at byte {at} ends with a length other "
                                   f"than its {length}")
            if kind == _SECTION_HEADER:
                interfaces = _section(block, order, name, at)
            elif kind == _INTERFACE:
                interfaces.append(_interface(block, order, name, at, len(interfaces)))
            elif kind == _ENHANCED_PACKET:
                packet, cut = _packet(block, order, name, at, interfaces)
                if cut and not cut_warned:
                    cut_warned = True
                    warnings.warn(f"{name}: {cut}; the bytes that exist are used",
                                  CaptureWarning, stacklevel=2)
                yield packet
            at += length
        if at < size:
            warnings.warn(f"{name}: the capture ends inside a block at byte {at}",
                          CaptureWarning, stacklevel=2)


def _section_order(magic: bytes, name: str, at: int) -> str:
    for order in "<>":
        if struct.unpack(order + "I", magic)[0] == _BYTE_ORDER_MAGIC:
            return order
    raise CaptureError(f"{name}: section at byte {at} has no byte-order magic")


def _section(block: bytes, order: str, name: str, at: int) -> List[_Interface]:
    if len(block) < 28:
        raise CaptureError(f"{name}: section header at byte {at} is too short")
    major, minor = struct.unpack_from(order + "HH", block, 12)
    if major != 1:
        raise CaptureError(f"{name}: section at byte {at} is pcapng version {major}.{minor}, "
                           "not 1.x")
    return []


def _options(block: bytes, start: int, order: str, name: str, at: int) -> Dict[int, bytes]:
    """The block's options by code (the first of each), up to opt_endofopt or
    the block's end."""
    found: Dict[int, bytes] = {}
    end = len(block) - 4
    while start + 4 <= end:
        code, length = struct.unpack_from(order + "HH", block, start)
        if code == _OPT_END:
            break
        if start + 4 + length > end:
            raise CaptureError(f"{name}: an option of the block at byte {at} runs past its end")
        found.setdefault(code, block[start + 4:start + 4 + length])
        start += 4 + (length + 3) // 4 * 4
    return found


def _interface(block: bytes, order: str, name: str, at: int, number: int) -> _Interface:
    if len(block) < 20:
        raise CaptureError(f"{name}: interface block at byte {at} is too short")
    link_type, _, snaplen = struct.unpack_from(order + "HHI", block, 8)
    if link_type != LINKTYPE_USER0:
        raise CaptureError(f"{name}: interface {number} has link type {link_type}, not "
                           f"{LINKTYPE_USER0} (LINKTYPE_USER0): not a port link capture")
    options = _options(block, 16, order, name, at)
    resolution = (options.get(_OPT_IF_TSRESOL) or bytes([_MICROSECONDS]))[0]
    exponent = resolution & 0x7F
    divisor = 2 ** exponent if resolution & 0x80 else 10 ** exponent
    offset = options.get(_OPT_IF_TSOFFSET, b"")
    seconds = struct.unpack(order + "q", offset)[0] if len(offset) == 8 else 0
    return _Interface(snaplen, divisor, seconds)


def _packet(block: bytes, order: str, name: str, at: int,
            interfaces: List[_Interface]) -> Tuple[Block, str]:
    """The packet and, when it was cut short, what to warn about."""
    if len(block) < 32:
        raise CaptureError(f"{name}: packet block at byte {at} is too short")
    number, high, low, captured, original = struct.unpack_from(order + "5I", block, 8)
    if number >= len(interfaces):
        raise CaptureError(f"{name}: packet block at byte {at} belongs to interface {number}, "
                           "which was never described")
    if 28 + captured > len(block) - 4:
        raise CaptureError(f"{name}: packet block at byte {at} claims {captured} bytes, "
                           f"more than its {len(block)}-byte block holds")
    interface = interfaces[number]
    options = _options(block, 28 + (captured + 3) // 4 * 4, order, name, at)
    flags = options.get(_OPT_EPB_FLAGS, b"")
    direction = struct.unpack(order + "I", flags)[0] & 3 if len(flags) == 4 else 0
    seconds = (high << 32 | low) / interface.divisor + interface.offset
    cut = ""
    if captured < original:
        cut = f"packet block at byte {at} holds {captured} of its {original} bytes"
    elif interface.snaplen and captured > interface.snaplen:
        cut = (f"packet block at byte {at} holds {captured} bytes, more than the "
               f"interface's snap length of {interface.snaplen}")
    packet = (seconds, "out" if direction == _OUTBOUND else "in", block[28:28 + captured])
    return packet, cut


def _block(kind: int, body: bytes) -> bytes:
    body += bytes(-len(body) % 4)
    length = len(body) + 12
    return struct.pack("<II", kind, length) + body + struct.pack("<I", length)


def _option(code: int, value: bytes) -> bytes:
    return struct.pack("<HH", code, len(value)) + value + bytes(-len(value) % 4)


def write(path: PathLike, blocks: Iterable[Block], *, name: str = "",
          description: str = "") -> int:
    """Writes a little-endian pcapng port capture of one interface and
    returns the number of blocks written. blocks are (seconds, direction,
    data) as read() yields them: seconds since 1970 (kept to the
    microsecond), direction "in" or "out", data bytes-like. name is the
    port's path or COM name, description its line settings such as
    "115200 8N1"; both are left out when empty. A block that cannot be
    written (a bad direction, a negative time) raises ValueError; the file
    then holds the blocks before it."""
    options = b""
    if name:
        options += _option(_OPT_IF_NAME, name.encode())
    if description:
        options += _option(_OPT_IF_DESCRIPTION, description.encode())
    options += _option(_OPT_IF_TSRESOL, bytes([_MICROSECONDS])) + _option(_OPT_END, b"")
    count = 0
    with open(path, "wb") as file:
        file.write(_block(_SECTION_HEADER, struct.pack("<IHHq", _BYTE_ORDER_MAGIC, 1, 0, -1)))
        file.write(_block(_INTERFACE, struct.pack("<HHI", LINKTYPE_USER0, 0, 0) + options))
        for seconds, direction, data in blocks:
            if direction not in ("in", "out"):
                raise ValueError(f"direction must be 'in' or 'out', got {direction!r}")
            stamp = round(seconds * 1e6) if math.isfinite(seconds) else -1
            if not 0 <= stamp < 2 ** 64:
                raise ValueError(f"seconds must be a time since 1970, got {seconds!r}")
            data = bytes(data)
            flags = _INBOUND if direction == "in" else _OUTBOUND
            file.write(_block(_ENHANCED_PACKET, struct.pack(
                "<5I", 0, stamp >> 32, stamp & 0xFFFFFFFF, len(data), len(data)) + data
                + bytes(-len(data) % 4) + _option(_OPT_EPB_FLAGS, struct.pack("<I", flags))
                + _option(_OPT_END, b"")))
            count += 1
    return count
