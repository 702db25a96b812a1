#!/usr/bin/env python3
"""Loads the built library with ctypes, as a Python host would, with the
signatures the README gives, and checks one call of each kind."""
import ctypes
import struct
import sys

library = ctypes.CDLL(sys.argv[1])
Bool = ctypes.c_uint8 if sys.platform == "win32" else ctypes.c_int32
Inputs = ctypes.c_uint16 * 9
Channels = ctypes.c_uint16 * 32
Sixteen = ctypes.c_uint16 * 16
Frame = ctypes.c_uint8 * 25

library.request_upload_port_data.argtypes = [ctypes.c_char_p, ctypes.c_uint8, ctypes.c_uint8]
library.request_upload_port_data.restype = None
library.parse_port_data.argtypes = [ctypes.c_char_p, ctypes.c_uint8,
                                    ctypes.POINTER(Inputs), ctypes.POINTER(Channels)]
library.parse_port_data.restype = Bool
library.convert_std_sbus_data.argtypes = [ctypes.POINTER(Sixteen), ctypes.POINTER(Sixteen)]
library.convert_std_sbus_data.restype = None
library.encode_sbus_data_v1.argtypes = [ctypes.POINTER(Frame), ctypes.POINTER(Sixteen)]
library.encode_sbus_data_v1.restype = None

failures = 0
checks = 0


def check(condition, what):
    global failures, checks
    checks += 1
    if not condition:
        failures += 1
        print("failed:", what)


request = ctypes.create_string_buffer(7)
library.request_upload_port_data(request, 1, 2)
check(request.raw == bytes([0xFA, 0xE5, 0x02, 0x00, 0x01, 0x02, 0x5F]), "request frame")

record = bytes([2]) + struct.pack("<9H", *range(1, 10)) + bytes(12) + struct.pack("<32H", *range(100, 132))
frame = bytes([0xFA, 0xA5]) + struct.pack("<H", len(record)) + record + bytes([0x5F])
inputs, channels = Inputs(), Channels()
check(library.parse_port_data(frame[:40], 40, inputs, channels) == 0, "first half reports nothing")
check(library.parse_port_data(frame[40:], len(frame) - 40, inputs, channels) == 1, "second half completes")
check(list(inputs) == list(range(1, 10)), "inputs")
check(list(channels) == list(range(100, 132)), "channels")
check(library.parse_port_data(frame, len(frame), None, None) == 1, "null records are accepted")

standard, sbus, sbus_frame = Sixteen(*([100] * 16)), Sixteen(), Frame(0x0F)
library.convert_std_sbus_data(sbus, standard)
library.encode_sbus_data_v1(sbus_frame, sbus)
check(list(sbus) == [170] * 16, "conversion")
check(bytes(sbus_frame)[:4] == bytes([0x0F, 0xAA, 0x50, 0x85]) and sbus_frame[24] == 0, "frame")

print(f"{checks - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
