#!/usr/bin/env python3
"""Helpers of bench/cold_start.sh.

grow USER_REG MEGABYTES
    Adds VB settings to a Wine user.reg until it holds about MEGABYTES, in Wine's own format and
    sorted order, so that Wine and Keyloft read it as Wine would have written it.
measure RUNS PROGRAM
    Starts PROGRAM RUNS times on the X display of $DISPLAY and prints, per run, the milliseconds
    from launch until its window "Keyloft" is mapped and its VmRSS in KiB at that moment.
    Waits for the X server's MapNotify event rather than polling, so the timing costs the
    program no CPU.
"""

import ctypes
import ctypes.util
import os
import re
import signal
import subprocess
import sys
import time

VB_ROOT = ["Software", "VB and VBA Program Settings"]


def wine_escape(text):
    """Wine's escaping of a name or string: non-ASCII as \\x, 4 digits before a hex digit."""
    out = []
    for i, ch in enumerate(text):
        code = ord(ch)
        if ch in '\\"':
            out.append("\\" + ch)
        elif code > 0x7F:
            follows_hex = i + 1 < len(text) and text[i + 1] in "0123456789abcdefABCDEF"
            out.append("\\x%04x" % code if follows_hex else "\\x%x" % code)
        else:
            out.append(ch)
    return "".join(out)


def key_components(header):
    path = header[1 : header.rindex("]")]
    return [part.lower() for part in path.split("\\\\")]


def grow(user_reg, megabytes):
    with open(user_reg, encoding="ascii") as f:
        lines = f.read().split("\n")
    target = int(megabytes * 1e6)
    seconds, filetime = 1733500000, "1db47a1c0a8e000"

    blocks = []
    sections_per_app, keys_per_section = 20, 70
    size, app = sum(len(line) + 1 for line in lines), 0
    while size < target:
        app += 1
        for section in range(1, sections_per_app + 1):
            path = VB_ROOT + ["App%04d" % app, "Section%02d" % section]
            block = ["", "[%s] %d" % ("\\\\".join(path), seconds), "#time=" + filetime]
            for key in range(1, keys_per_section + 1):
                kind = key % 3
                if kind == 0:
                    value = str(key * 37 % 1920)
                elif kind == 1:
                    value = "C:\\Users\\taro\\Documents\\App%04d\\file%04d.dat" % (app, key)
                else:
                    value = "設定値 %d のテキスト（アプリ %d）" % (key, app)
                block.append('"Key%04d"="%s"' % (key, wine_escape(value)))
            size += sum(len(line) + 1 for line in block)
            blocks.extend(block)

    # Wine's file is in tree order, names compared after lowercasing: the new keys go before
    # the first block that sorts after them (App0001... are in order among themselves).
    new_key = [part.lower() for part in VB_ROOT + ["App0001"]]
    at = len(lines) - 1 if lines[-1] == "" else len(lines)
    for i, line in enumerate(lines):
        if line.startswith("[") and key_components(line) > new_key:
            at = i - 1 if i > 0 and lines[i - 1] == "" else i
            break
    lines[at:at] = blocks
    with open(user_reg, "w", encoding="ascii") as f:
        f.write("\n".join(lines))
    print("%s: %d applications, %.1f MB" % (user_reg, app, os.path.getsize(user_reg) / 1e6))


class XMapEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("event", ctypes.c_ulong),
        ("window", ctypes.c_ulong),
        ("override_redirect", ctypes.c_int),
    ]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xmap", XMapEvent), ("pad", ctypes.c_long * 24)]


MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


def vm_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"^VmRSS:\s+(\d+)", f.read(), re.M).group(1))


def measure(runs, program):
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
    x.XFlush.argtypes = [ctypes.c_void_p]

    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("no X display")
    # No window manager runs, so the program's top-level window is a child of the root window.
    x.XSelectInput(display, x.XDefaultRootWindow(display), SUBSTRUCTURE_NOTIFY_MASK)
    x.XFlush(display)
    signal.signal(signal.SIGALRM, lambda *_: sys.exit("no Keyloft window within 60 s"))

    for _ in range(runs):
        signal.alarm(60)
        start = time.monotonic()
        child = subprocess.Popen([program], stderr=subprocess.DEVNULL)
        event = XEvent()
        while True:
            x.XNextEvent(display, ctypes.byref(event))
            if event.type != MAP_NOTIFY:
                continue
            name = ctypes.c_char_p()
            if x.XFetchName(display, event.xmap.window, ctypes.byref(name)) and (
                name.value == b"Keyloft"
            ):
                break
        elapsed = time.monotonic() - start
        rss = vm_rss_kib(child.pid)
        signal.alarm(0)
        child.terminate()
        child.wait()
        print("%.1f %d" % (elapsed * 1000, rss), flush=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["grow"] and len(sys.argv) == 4:
        grow(sys.argv[2], float(sys.argv[3]))
    elif sys.argv[1:2] == ["measure"] and len(sys.argv) == 4:
        measure(int(sys.argv[2]), sys.argv[3])
    else:
        sys.exit(__doc__)
