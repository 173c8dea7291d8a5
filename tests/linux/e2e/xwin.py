#!/usr/bin/env python3
"""The two window-manager messages the end-to-end checks need, with libX11
through ctypes (no window manager runs under Xvfb).

xwin.py close WINDOW    sends WM_DELETE_WINDOW, as a window manager does for
                        the close command (Alt+F4, the title bar's X)
xwin.py watch FILE      writes "ready", then one line "<window> <state>" per
                        WM_CHANGE_STATE request a client sends to the root
                        window (state 3 asks to be iconified)
"""
import ctypes
import ctypes.util
import sys

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")

Window = Atom = ctypes.c_ulong
ClientMessage = 33
SubstructureNotifyMask = 1 << 19
NoEventMask = 0


class ClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", ClientMessageEvent), ("pad", ctypes.c_long * 24)]


x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = Atom
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSelectInput.argtypes = [ctypes.c_void_p, Window, ctypes.c_long]
x11.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]


def display():
    d = x11.XOpenDisplay(None)
    if not d:
        sys.exit("xwin: cannot open the display")
    return d


def close(window):
    d = display()
    ev = XEvent()
    ev.xclient.type = ClientMessage
    ev.xclient.window = window
    ev.xclient.message_type = x11.XInternAtom(d, b"WM_PROTOCOLS", 0)
    ev.xclient.format = 32
    ev.xclient.l[0] = x11.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
    ev.xclient.l[1] = 0  # CurrentTime
    if not x11.XSendEvent(d, window, 0, NoEventMask, ctypes.byref(ev)):
        sys.exit("xwin: sending the close request failed")
    x11.XSync(d, 0)


def watch(path):
    d = display()
    root = x11.XDefaultRootWindow(d)
    change_state = x11.XInternAtom(d, b"WM_CHANGE_STATE", 0)
    # Substructure notification (not redirection) may be shared with others
    # and still receives the requests a client addresses to the manager.
    x11.XSelectInput(d, root, SubstructureNotifyMask)
    x11.XSync(d, 0)
    with open(path, "a", buffering=1) as out:
        out.write("ready\n")
        ev = XEvent()
        while True:
            x11.XNextEvent(d, ctypes.byref(ev))
            if ev.type == ClientMessage and ev.xclient.message_type == change_state:
                out.write("%d %d\n" % (ev.xclient.window, ev.xclient.l[0]))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "close":
        close(int(sys.argv[2], 0))
    elif len(sys.argv) == 3 and sys.argv[1] == "watch":
        watch(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
