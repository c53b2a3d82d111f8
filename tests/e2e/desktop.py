"""What the end-to-end tests do on the virtual display: find Brindle's windows, measure them,
close them as a window manager would, and take pictures of them."""

import ctypes
import subprocess


def xdotool(*arguments):
    """xdotool's words on standard output; none when it failed (no window matched, say)."""
    result = subprocess.run(["xdotool", *map(str, arguments)], capture_output=True, text=True)
    return result.stdout.split() if result.returncode == 0 else []


def visible_windows(pid, title="Brindle"):
    """The process's mapped windows titled exactly so (--all: both the process and the title match)."""
    return xdotool("search", "--all", "--onlyvisible", "--pid", pid, "--name", f"^{title}$")


def titled_windows(title):
    """Mapped windows titled exactly so, whoever owns them."""
    return xdotool("search", "--onlyvisible", "--name", f"^{title}$")


def window_geometry(window):
    lines = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)], capture_output=True,
                           text=True, check=True).stdout.split()
    values = dict(line.split("=", 1) for line in lines)
    return {name: int(values[name]) for name in ("X", "Y", "WIDTH", "HEIGHT")}


def window_size(window):
    geometry = window_geometry(window)
    return geometry["WIDTH"], geometry["HEIGHT"]


def screenshot(window, png):
    """What the screen shows where the window is: the picture a person sees."""
    g = window_geometry(window)
    area = f"{g['WIDTH']}x{g['HEIGHT']}+{g['X']}+{g['Y']}"
    subprocess.run(["import", "-window", "root", "-crop", area, "+repage", str(png)], check=True)


def close_window(window):
    """Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW);
    xdotool's windowclose would destroy it behind the toolkit's back instead."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(Event)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise AssertionError("no X display")
    event = Event()
    event.message.type = 33  # ClientMessage
    event.message.window = int(window)
    event.message.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.message.format = 32
    event.message.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)
