#!/usr/bin/env python3
"""The two window-manager messages the end-to-end checks need, with libX11
through ctypes (no window manager runs under Xvfb).

xwin.py close WINDOW    sends WM_DELETE_WINDOW, as a window manager does for
                        the close command (Alt+F4, the title bar's X)
xwin.py watch FILE      writes "ready", then one line "<window> <state>" per
                        WM_CHANGE_STATE request a client sends to the root
                        window (state 3 asks to be iconified)
xwin.py clickgone WINDOW X Y
                        clicks at (X, Y) in the window (XTest) and prints the
                        milliseconds from the button's release until the
                        window is unmapped; exits 1 when it stays 30 s
"""
import ctypes
import ctypes.util
import sys

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")

Window = Atom = ctypes.c_ulong
ClientMessage = 33
StructureNotifyMask = 1 << 17
SubstructureNotifyMask = 1 << 19
UnmapNotify, DestroyNotify = 18, 17
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
x11.XPending.argtypes = [ctypes.c_void_p]


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


def click_gone(window, x, y):
    import time
    xtst = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xtst") or "libXtst.so.6")
    d = display()
    x11.XSelectInput(d, window, StructureNotifyMask)
    rx, ry, child = ctypes.c_int(), ctypes.c_int(), Window()
    x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, Window, Window, ctypes.c_int, ctypes.c_int,
                                          ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                                          ctypes.POINTER(Window)]
    x11.XTranslateCoordinates(d, window, x11.XDefaultRootWindow(d), x, y, ctypes.byref(rx),
                              ctypes.byref(ry), ctypes.byref(child))
    xtst.XTestFakeMotionEvent(ctypes.c_void_p(d), -1, rx.value, ry.value, 0)
    xtst.XTestFakeButtonEvent(ctypes.c_void_p(d), 1, 1, 0)
    xtst.XTestFakeButtonEvent(ctypes.c_void_p(d), 1, 0, 0)
    x11.XSync(d, 0)
    start = time.monotonic()
    ev = XEvent()
    while time.monotonic() - start < 30:
        while x11.XPending(d):
            x11.XNextEvent(d, ctypes.byref(ev))
            if ev.type in (UnmapNotify, DestroyNotify):
                print("%.0f" % ((time.monotonic() - start) * 1000))
                return
        time.sleep(0.001)
    sys.exit(1)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "close":
        close(int(sys.argv[2], 0))
    elif len(sys.argv) == 5 and sys.argv[1] == "clickgone":
        click_gone(int(sys.argv[2], 0), int(sys.argv[3]), int(sys.argv[4]))
    elif len(sys.argv) == 3 and sys.argv[1] == "watch":
        watch(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
