"""Finds and loads the native library and declares its eight functions.

Places are tried in this order, and the first that loads with all eight
functions wins:

1. the file named by the ``ZELKOLINK_LIBRARY`` environment variable;
2. the copy bundled inside this package (a wheel carries one);
3. the system loader, by the library's runtime name.

When none loads, ImportError names every place tried and why each failed.
"""
import ctypes
import os
import sys
import warnings
from pathlib import Path
from typing import List, Tuple

ENVIRONMENT_VARIABLE = "ZELKOLINK_LIBRARY"
ON_WINDOWS = sys.platform == "win32"
LIBRARY_NAME = "ZelkoLink.dll" if ON_WINDOWS else "libZelkoLink.so.1"

# The three parse functions return one byte on Windows and a 32-bit int on
# Linux. Declaring the wrong width reads garbage bits as the result.
Result = ctypes.c_uint8 if ON_WINDOWS else ctypes.c_int32

MAX_CHUNK = 255
REQUEST_FRAME_SIZE = 7
STOP_FRAME_SIZE = 5
INPUT_COUNT = 9
CHANNEL_COUNT = 32
GAME_CONTROLLER_COUNT = 11
GAME_CONTROLLER_REPORT_SIZE = 19
COMPATIBLE_REPORT_SIZE = 23
SBUS_CHANNEL_COUNT = 16
SBUS_FRAME_SIZE = 25

Bytes = ctypes.POINTER(ctypes.c_uint8)
Inputs = ctypes.c_uint16 * INPUT_COUNT
Channels = ctypes.c_uint16 * CHANNEL_COUNT
GameControllerState = ctypes.c_uint16 * GAME_CONTROLLER_COUNT
SbusValues = ctypes.c_uint16 * SBUS_CHANNEL_COUNT
SbusFrame = ctypes.c_uint8 * SBUS_FRAME_SIZE

# Name, result type, argument types. ctypes.CDLL calls with the C calling
# convention (cdecl), which is what the library uses on 32-bit Windows too.
SIGNATURES = (
    ("request_upload_port_data", None, [Bytes, ctypes.c_uint8, ctypes.c_uint8]),
    ("stop_upload_port_data", None, [Bytes]),
    ("parse_port_data", Result,
     [Bytes, ctypes.c_uint8, ctypes.POINTER(Inputs), ctypes.POINTER(Channels)]),
    ("parse_hid_game_controller_device", Result,
     [ctypes.POINTER(GameControllerState), Bytes, ctypes.c_uint8]),
    ("parse_hid_compatible_device", Result, [ctypes.POINTER(Inputs), Bytes, ctypes.c_uint8]),
    ("convert_std_sbus_data", None, [ctypes.POINTER(SbusValues), ctypes.POINTER(SbusValues)]),
    ("encode_sbus_data_v1", None, [ctypes.POINTER(SbusFrame), ctypes.POINTER(SbusValues)]),
    ("encode_sbus_data_v2", None, [ctypes.POINTER(SbusFrame), ctypes.POINTER(SbusValues)]),
)


def _declare(library: ctypes.CDLL) -> None:
    for name, result, arguments in SIGNATURES:
        function = getattr(library, name)  # AttributeError when the name is missing
        function.restype = result
        function.argtypes = arguments


def _open(place: str) -> ctypes.CDLL:
    library = ctypes.CDLL(place)
    try:
        _declare(library)
    except AttributeError as missing:
        raise OSError(f"{place} is not this library: {missing}") from None
    return library


def _candidates() -> List[Tuple[str, str, bool]]:
    """Each place to try, how a failure message names it, and whether it is a
    file that must exist (the bundled copy) rather than a name to look up."""
    places = []
    configured = os.environ.get(ENVIRONMENT_VARIABLE)
    if configured:
        places.append((configured, f"{ENVIRONMENT_VARIABLE}={configured}", False))
    bundled = Path(__file__).resolve().parent / LIBRARY_NAME
    places.append((str(bundled), f"bundled copy {bundled}", True))
    places.append((LIBRARY_NAME, f"system loader ({LIBRARY_NAME})", False))
    return places


def load() -> ctypes.CDLL:
    """Loads the first place that works; ImportError naming every failure."""
    failures = []
    for place, label, must_exist in _candidates():
        if must_exist and not os.path.exists(place):
            failures.append(f"{label}: no such file")
            continue
        try:
            library = _open(place)
        except OSError as error:
            failures.append(f"{label}: {error}")
            continue
        if failures and os.environ.get(ENVIRONMENT_VARIABLE):
            # The user asked for a particular file: say that it was not used.
            warnings.warn(f"zelkolink: {failures[0]}; using the {label}", RuntimeWarning,
                          stacklevel=2)
        return library
    raise ImportError("zelkolink: cannot load the native library; tried:\n  "
                      + "\n  ".join(failures))


library = load()
