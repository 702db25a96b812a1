"""The tool tests' own reading of the bytes the tools exchange, written from
the formats rather than from the library, so that a fault the library and
its tools share cannot hide: the device's port link (its frames, and a
whole-stream reading of a capture such as the simulator's --record file),
SBUS frames and their serial line, and the two HID report layouts. The test
scripts take each of these from here."""
import struct
import termios

# ---------------------------------------------------------------- port link

START, END, UPLOAD_DATA, UPLOAD_REQUEST, UPLOAD_STOP = 0xFA, 0x5F, 0xA5, 0xE5, 0xE4
LARGEST_FRAME = 500  # the parser holds no more; a start byte claiming more is an ordinary byte


def port_frame(command, payload, end=END):
    """Start byte, command, payload length (two bytes, low first), payload,
    end byte (another end byte makes a corrupt frame)."""
    return bytes([START, command]) + struct.pack("<H", len(payload)) + payload + bytes([end])


def request_frame(first=0x01, second=0x00):
    """The upload request a host sends, with its two payload bytes."""
    return port_frame(UPLOAD_REQUEST, bytes([first, second]))


def stop_frame():
    """The host's request to stop uploading."""
    return port_frame(UPLOAD_STOP, b"")


def kind2_frame(channels, inputs=(0,) * 9):
    """An upload frame of a kind-2 record: nine inputs, twelve bytes the
    record carries but nobody reads, then 32 channels."""
    record = bytes([2]) + struct.pack("<9H", *inputs) + bytes(12) + struct.pack("<32H", *channels)
    return port_frame(UPLOAD_DATA, record)


def record_values(payload):
    """(inputs, channels) an upload record carries, each None when its kind
    and length carry none: kind 0 inputs, kind 1 channels, kind 2 both."""
    def words(offset, count):
        return list(struct.unpack_from(f"<{count}H", payload, offset))
    kind, size = payload[:1], len(payload)
    inputs = words(1, 9) if (kind == b"\0" and size >= 19) or (kind == b"\2" and size >= 95) else None
    channels = (words(1, 32) if kind == b"\1" and size >= 65 else
                words(31, 32) if kind == b"\2" and size >= 95 else None)
    return inputs, channels


def upload_frames(stream):
    """(bytes needed before a parser can report it, payload) per upload frame.

    A frame is known once its end byte, and the end byte of any frame it is
    nested in, has arrived."""
    found, p, seen = [], 0, 0
    while p + 4 <= len(stream):
        length = stream[p + 2] | stream[p + 3] << 8
        end = p + length + 5
        if stream[p] != START or end > LARGEST_FRAME + p:
            p += 1
            continue
        if end > len(stream):
            break
        seen = max(seen, end)
        if stream[end - 1] != END:
            p = end
        elif stream[p + 1] == UPLOAD_DATA:
            found.append((seen, stream[p + 4:end - 1]))
            p = end
        elif stream[p + 1] == UPLOAD_REQUEST:
            p = end
        else:
            p += 1
    return found


def expected_rows(stream, chunk):
    """(offset, inputs, channels) after each chunk that completes a frame,
    the stream fed in chunks of this size."""
    rows, inputs, channels = [], [0] * 9, [0] * 32
    frames = upload_frames(stream)
    for start in range(0, len(stream), chunk):
        offset = min(start + chunk, len(stream))
        completed = [payload for known_at, payload in frames if start < known_at <= offset]
        for payload in completed:
            new_inputs, new_channels = record_values(payload)
            inputs = new_inputs or inputs
            channels = new_channels or channels
        if completed:
            rows.append((offset, list(inputs), list(channels)))
    return rows


def channel_records(stream):
    """The channels of every record in the stream that carries them, in order."""
    return [tuple(channels) for channels in
            (record_values(payload)[1] for _, payload in upload_frames(stream)) if channels]


# --------------------------------------------------------------------- SBUS

SBUS_FRAME_SIZE, SBUS_START = 25, 0x0F
FRAME_LOST, FAILSAFE = 0x04, 0x08  # flags in byte 23
SBUS2_END_BYTES = (0x04, 0x14, 0x24, 0x34)
CENTRE = 992


def standard(value):
    """A standard value in SBUS units: floor(x * 1.706), at most 2047."""
    return min(value * 1706 // 1000, 2047)


def standard_channels(values):
    return tuple(standard(value) for value in values[:16])


def sbus_frame(channels, flags=0, end=0):
    """Start byte, sixteen 11-bit channels least significant bit first,
    flags, end byte."""
    bits = 0
    for k, value in enumerate(channels):
        assert 0 <= value <= 0x7FF, f"channel {k} is {value}, not 11 bits"
        bits |= value << (11 * k)
    return bytes([SBUS_START]) + bits.to_bytes(22, "little") + bytes([flags, end])


def sbus_channels(frame):
    """The sixteen channels of a frame."""
    bits = int.from_bytes(frame[1:23], "little")
    return tuple((bits >> (11 * k)) & 0x7FF for k in range(16))


class SbusFrames:
    """The SBUS frames that reached a pseudo-terminal (a tool_harness.Pty),
    each with the time its last byte arrived; `start` skips the frames of
    the bytes before it."""

    def __init__(self, pty, start=0):
        self.frames, data, offset = [], b"", 0
        for when, chunk in pty.timed_chunks():
            data += chunk
            while len(data) - offset >= SBUS_FRAME_SIZE:
                if offset >= start:
                    self.frames.append((when, data[offset:offset + SBUS_FRAME_SIZE]))
                offset += SBUS_FRAME_SIZE

    def times(self):
        return [when for when, _ in self.frames]

    def flags(self):
        return [frame[23] for _, frame in self.frames]

    def channels(self, flags):
        """The channels of every frame with these flags."""
        return [sbus_channels(frame) for _, frame in self.frames if frame[23] == flags]

    def first(self, flags, after=0.0):
        """When the first frame with these flags arrived after `after`."""
        return next((when for when, frame in self.frames
                     if when >= after and frame[23] == flags), None)

    def largest_gap(self):
        times = self.times()
        return max((b - a for a, b in zip(times, times[1:])), default=0.0)


def sbus_line_faults(settings):
    """How a terminal's termios2 settings (tool_harness.Pty.settings) differ
    from the SBUS line, 100000 baud, 8 data bits, 2 stop bits. A
    pseudo-terminal drops PARENB, so even parity cannot be read back."""
    _, _, cflag, _, _, _, _, ospeed = settings
    faults = []
    if ospeed != 100000:
        faults.append(f"{ospeed} baud")
    if not cflag & termios.CSTOPB:
        faults.append("one stop bit")
    if cflag & termios.CSIZE != termios.CS8:
        faults.append("not 8 data bits")
    return faults


# ---------------------------------------------------------------------- HID

GAME_CONTROLLER_BITS = (16, 16, 16, 12, 12, 12, 12, 12, 4, 16, 8)


def le16(r, i):
    return r[i] | r[i + 1] << 8


def game_controller_values(r):
    """The 19-byte layout: three 16-bit values; two pairs of 12-bit values,
    each pair sharing its middle byte; a 12-bit and a 4-bit value sharing
    byte 13; a 16-bit value; a byte. GAME_CONTROLLER_BITS are their widths."""
    return [le16(r, 0), le16(r, 2), le16(r, 4),
            r[6] | (r[7] & 0xF) << 8, r[7] >> 4 | r[8] << 4,
            r[9] | (r[10] & 0xF) << 8, r[10] >> 4 | r[11] << 4,
            r[12] | (r[13] & 0xF) << 8, r[13] >> 4, le16(r, 14), r[16]]


def compatible_values(r):
    """The 23-byte layout: nine 16-bit values from byte 4."""
    return [le16(r, 4 + 2 * k) for k in range(9)]
