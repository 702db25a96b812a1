"""HID decoders and SBUS output through the binding: values marshalled in and
out, the whole SBUS frame with its start byte, and every check made before
the library is called."""
import pytest

import zelkolink


def test_game_controller_report():
    report = bytearray(19)
    report[0:2] = b"\x34\x12"
    report[6:9] = b"\x21\x43\x65"
    report[16] = 0xEE
    values = zelkolink.decode_game_controller(report)
    assert len(values) == 11
    assert (values[0], values[3], values[4], values[10]) == (0x1234, 0x321, 0x654, 0xEE)


def test_compatible_report():
    report = bytearray(23)
    report[0] = 0xFA
    report[4:6] = b"\x34\x12"
    report[20:22] = b"\x00\x99"
    assert zelkolink.decode_compatible(memoryview(report)) == (0x1234,) + (0,) * 7 + (0x9900,)


@pytest.mark.parametrize("decode, report, message", [
    (zelkolink.decode_game_controller, bytes(18), "a game-controller report is 19 bytes long, got 18"),
    (zelkolink.decode_game_controller, bytes(20), "a game-controller report is 19 bytes long, got 20"),
    (zelkolink.decode_game_controller, bytes(300), "a game-controller report is 19 bytes long, got 300"),
    (zelkolink.decode_compatible, b"\xFA" + bytes(21), "a compatible-device report is 23 bytes long, got 22"),
    (zelkolink.decode_compatible, b"", "a compatible-device report is 23 bytes long, got 0"),
    (zelkolink.decode_compatible, b"\x5F" + bytes(22), "a compatible-device report starts with 0xFA, got 0x5F"),
])
def test_wrong_reports_raise_value_error(decode, report, message):
    with pytest.raises(ValueError) as raised:
        decode(report)
    assert str(raised.value) == message


def test_std_to_sbus():
    assert zelkolink.std_to_sbus([100] * 15 + [65535]) == (170,) * 15 + (2047,)


def test_encode_sbus_gives_the_whole_frame():
    frame = zelkolink.encode_sbus(range(0, 1600, 100))
    assert isinstance(frame, bytes) and len(frame) == 25
    assert frame[0] == 0x0F and frame[23] == 0 and frame[24] == 0
    assert zelkolink.encode_sbus([2047] * 16)[1:23] == b"\xFF" * 22


@pytest.mark.parametrize("function", [
    zelkolink.std_to_sbus,
    zelkolink.encode_sbus,
    lambda values: zelkolink.encode_sbus(values, sbus2=True),
])
@pytest.mark.parametrize("values, message", [
    ([0] * 15, "must be 16 values, got 15"),
    ([0] * 17, "must be 16 values, got 17"),
    ([], "must be 16 values, got 0"),
    ([0] * 15 + [65536], r"\[15\] must be 0..65535, got 65536"),
    ([-1] + [0] * 15, r"\[0\] must be 0..65535, got -1"),
])
def test_wrong_sbus_values_raise_value_error(function, values, message):
    with pytest.raises(ValueError, match=message):
        function(values)


def test_a_refused_sbus2_frame_does_not_step_the_cycle():
    """sbus2=True reaches the SBUS2 encoder, whose end byte steps 04 14 24 34,
    and a refused call never reaches it."""
    before = zelkolink.encode_sbus([0] * 16, sbus2=True)[24]
    with pytest.raises(ValueError):
        zelkolink.encode_sbus([0] * 15, sbus2=True)
    after = zelkolink.encode_sbus([0] * 16, sbus2=True)[24]
    assert before in (0x04, 0x14, 0x24, 0x34)
    assert after == (before + 0x10) & 0x3F
