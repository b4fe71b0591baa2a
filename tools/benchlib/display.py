"""The X display as the bench watches it: libX11 through ctypes, no Wine process involved."""
import ctypes


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


_IS_VIEWABLE = 2
_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class Display:
    """The titles of the viewable top-level windows on the Xvfb display, read straight from the X
    server: a poll costs a few round trips, no Wine process, so it can run every few milliseconds."""

    def __init__(self, name):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_XWindowAttributes)]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # A window may vanish between the listing and the question; the default handler would exit.
        self._ignore = _X_ERROR_HANDLER(lambda display, event: 0)
        x.XSetErrorHandler(self._ignore)
        self.x = x
        self.dpy = x.XOpenDisplay(name.encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open X display {name}")
        self.root = x.XDefaultRootWindow(self.dpy)

    def viewable_titles(self):
        x, root, parent = self.x, ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                            ctypes.byref(count)):
            return []
        titles = []
        for i in range(count.value):
            attributes = _XWindowAttributes()
            if not x.XGetWindowAttributes(self.dpy, children[i], ctypes.byref(attributes)):
                continue
            if attributes.map_state != _IS_VIEWABLE:
                continue
            name = ctypes.c_void_p()
            if x.XFetchName(self.dpy, children[i], ctypes.byref(name)) and name.value:
                titles.append(ctypes.string_at(name.value).decode("latin-1"))
                x.XFree(name)
        if children:
            x.XFree(children)
        return titles

    def close(self):
        self.x.XCloseDisplay(self.dpy)
