"""The device port link: the two frames the host sends, and the parser of the
stream the device sends back."""
import ctypes
import threading
from typing import Tuple, Union

from . import _native

BytesLike = Union[bytes, bytearray, memoryview]


def _byte(value: int, name: str) -> int:
    if not 0 <= value <= 0xFF:
        raise ValueError(f"{name} must be a byte, 0..255, got {value}")
    return value


def request_frame(byte0: int = 0, byte1: int = 0) -> bytes:
    """The 7-byte frame that asks the device to start an upload:
    FA E5 02 00 byte0 byte1 5F. The two payload bytes are sent as given."""
    frame = (ctypes.c_uint8 * _native.REQUEST_FRAME_SIZE)()
    _native.library.request_upload_port_data(frame, _byte(byte0, "byte0"), _byte(byte1, "byte1"))
    return bytes(frame)


def stop_frame() -> bytes:
    """The 5-byte frame that ends an upload: FA E4 00 00 5F."""
    frame = (ctypes.c_uint8 * _native.STOP_FRAME_SIZE)()
    _native.library.stop_upload_port_data(frame)
    return bytes(frame)


class PortParser:
    """The library's stream parser, of which a process has exactly one.

    The native parser keeps one process-wide reassembly buffer, so there is a
    single instance, ``zelkolink.port_parser``; making another raises
    RuntimeError. A lock serialises feeds and reads from any number of threads
    (ctypes releases the GIL during native calls, so without it two threads
    could be inside the parser at once).
    """

    _created = False

    def __init__(self) -> None:
        if PortParser._created:
            raise RuntimeError("the library has one process-wide port parser: "
                               "use zelkolink.port_parser instead of a new PortParser")
        PortParser._created = True
        self._lock = threading.Lock()
        self._inputs = _native.Inputs()
        self._channels = _native.Channels()

    def feed(self, data: BytesLike) -> bool:
        """Feeds bytes received from the port, as many as one read returned,
        cut anywhere; any object supporting the buffer protocol will do.
        Returns True when at least one upload frame completed, and then
        ``inputs`` and ``channels`` hold the values decoded."""
        view = memoryview(data).cast("B")
        if not view.nbytes:
            return False
        # One copy into memory ctypes can point into; the library takes at
        # most 255 bytes a call, so the copy is handed over piece by piece.
        chunk = (ctypes.c_uint8 * view.nbytes).from_buffer_copy(view)
        completed = False
        with self._lock:
            for offset in range(0, view.nbytes, _native.MAX_CHUNK):
                size = min(_native.MAX_CHUNK, view.nbytes - offset)
                piece = ctypes.cast(ctypes.byref(chunk, offset), _native.Bytes)
                if _native.library.parse_port_data(piece, size, self._inputs, self._channels):
                    completed = True
        return completed

    def reset(self) -> None:
        """Empties the parser for a new connection. Call it after reopening
        the port (a replugged device, a restarted link) and before feeding
        the new connection's first bytes: a frame cut short when the old
        connection ended would otherwise take the new bytes as the rest of its
        payload and could decode values mixing the two. ``inputs`` and
        ``channels`` keep their values.

        The native parser has no reset; this feeds it 500 zero bytes in two
        pieces. A pending frame is at most 499 bytes, so the zeros reach the
        place of its end byte and it is dropped for a wrong one; holding no
        start byte, the zeros leave nothing pending themselves."""
        zeros = (ctypes.c_uint8 * 250)()
        with self._lock:
            for _ in range(2):
                _native.library.parse_port_data(zeros, 250, None, None)

    @property
    def inputs(self) -> Tuple[int, ...]:
        """The nine input values: each position holds the value of the last
        upload record that carried it (kinds 0 and 2); zero until then."""
        with self._lock:
            return tuple(self._inputs)

    @property
    def channels(self) -> Tuple[int, ...]:
        """The thirty-two channel values: each position holds the value of
        the last upload record that carried it (kinds 1 and 2); zero until
        then."""
        with self._lock:
            return tuple(self._channels)


port_parser = PortParser()
