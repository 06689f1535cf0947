#!/usr/bin/env python3
"""End-to-end tests: the installed program on a private X server with a real
window manager, driven by keyboard and mouse the way a user drives it.

Usage: e2e.py --build BUILD_DIR --dragsource PROGRAM [--only NAME ...]

Run as root, one test starts the program as an unprivileged account from a
read-only, root-owned copy (OtherUser, reusable for anything that must not run
as root).

Every check waits on a condition (a window appears, a file appears, a process
ends) with a generous timeout; there are no bare sleeps standing in for one.
Exit status 77 means the tools are missing and the tests were skipped.
"""

import argparse
import ctypes
import json
import os
import pwd
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SKIP = 77
TOOLS = ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo")
WAYLAND_TOOLS = ("sway", "swaymsg", "setpriv")
# Generous: the machine may be loaded by parallel builds.
TIMEOUT = 60.0 * float(os.environ.get("VARNEX_E2E_TIMEOUT_SCALE", "1"))
DPI = 96
# VARNEX_E2E_TRACE=1 prints how long each wait took.
TRACE = bool(os.environ.get("VARNEX_E2E_TRACE"))


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(probe, what, timeout=TIMEOUT):
    """Polls probe until it returns a true value, which is returned."""
    start = time.monotonic()
    end = start + timeout
    while True:
        value = probe()
        if value:
            if TRACE:
                print("  %.1f s: %s" % (time.monotonic() - start, what), flush=True)
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


def stays_false(probe, seconds):
    """True when probe stays false for the whole period (for things that must not happen)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if probe():
            return False
        time.sleep(0.05)
    return True


def end_processes(*procs):
    """Ends each process (None is skipped): politely, then by force."""
    for proc in procs:
        if proc is not None and proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def scaled(length):
    return (length * DPI + 60) // 120


def bmp_bytes(width, height, rgb=(200, 40, 40)):
    """A 24-bit bottom-up BMP filled with one colour, left column magenta-free."""
    row = bytes(rgb[::-1]) * width
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def write_glyph(path, width=32, height=16):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(bmp_bytes(width, height))


class OtherUser:
    """An unprivileged account to run programs as, with a private home and
    runtime folder of its own: run as root, the account nobody (or the one
    VARNEX_E2E_USER names), switched to with setpriv; run by anyone else, that
    user, who is unprivileged already. available() says whether this run can
    switch to another account.

    Everything the account must reach lives under one world-searchable folder,
    because the caller's temporary folder and checkout may be closed to it:
    install() copies a build there, read-only (and owned by root, as root)."""

    def __init__(self, name=None):
        self.switch = os.geteuid() == 0
        if self.switch:
            entry = pwd.getpwnam(name or os.environ.get("VARNEX_E2E_USER", "nobody"))
        else:
            entry = pwd.getpwuid(os.geteuid())
        self.name = entry.pw_name
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        self.top = tempfile.mkdtemp(prefix="varnex-user-")
        os.chmod(self.top, 0o755)
        self.home = self.folder("home")
        self.runtime = self.folder("runtime")
        # The XDG variables are left unset, so the programs use the defaults under home.
        self.config_home = os.path.join(self.home, ".config")
        self.state_home = os.path.join(self.home, ".local", "state")

    @staticmethod
    def available(name=None):
        if os.geteuid() != 0 or shutil.which("setpriv") is None:
            return False
        try:
            pwd.getpwnam(name or os.environ.get("VARNEX_E2E_USER", "nobody"))
        except KeyError:
            return False
        return True

    def folder(self, name, mode=0o700):
        """A new folder under the top, owned by the account."""
        path = os.path.join(self.top, name)
        os.makedirs(path, mode=mode)
        os.chmod(path, mode)
        os.chown(path, self.uid, self.gid)
        return path

    def install(self, build, name="program"):
        """cmake --install of BUILD into a root-owned folder the account can read but not write."""
        prefix = os.path.join(self.top, name)
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL)
        read_only(prefix)
        return prefix

    def env(self, base):
        """BASE (the display, the locale) with this account's home, runtime folder and names."""
        env = {k: v for k, v in base.items()
               if not k.startswith(("XDG_", "DBUS_")) and k not in ("HOME", "USER", "LOGNAME")}
        env.update(HOME=self.home, USER=self.name, LOGNAME=self.name, XDG_RUNTIME_DIR=self.runtime)
        return env

    def command(self, argv):
        """ARGV run as the account, with no supplementary groups and no capabilities."""
        if not self.switch:
            return list(argv)
        return ["setpriv", "--reuid=%d" % self.uid, "--regid=%d" % self.gid, "--clear-groups",
                "--inh-caps=-all", "--", *argv]

    def close(self):
        for folder, _, _ in os.walk(self.top):
            os.chmod(folder, os.stat(folder).st_mode | 0o700)
        shutil.rmtree(self.top, ignore_errors=True)


def read_only(top):
    """Takes every write bit off TOP and what it holds."""
    for folder, _, files in os.walk(top):
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.chmod(path, os.stat(path).st_mode & ~0o222)
    for folder, _, _ in os.walk(top):
        os.chmod(folder, os.stat(folder).st_mode & ~0o222)


class XSession:
    """A private Xvfb (display chosen by the server itself) with openbox running."""

    def __init__(self, root):
        self.root = root
        self.log = open(os.path.join(root, "x.log"), "wb")
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-dpi", str(DPI),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=self.log, stderr=self.log, start_new_session=True)
        os.close(write_end)
        number = b""
        end = time.monotonic() + TIMEOUT
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                os.close(read_end)
                self.close()
                raise Failure("Xvfb did not report a display")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        self.env = self.make_env()
        # The window manager reads its own configuration and theme from the system.
        wm_env = {k: v for k, v in self.env.items() if k not in ("XDG_DATA_DIRS", "XDG_CONFIG_DIRS")}
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=wm_env, stdout=self.log,
                                   stderr=self.log, start_new_session=True)
        wait_for(lambda: "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                 "the window manager")

    def make_env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_", "DBUS_"))}
        home = os.path.join(self.root, "home")
        for sub in ("", "config", "data", "cache", "share", "etcxdg"):
            os.makedirs(os.path.join(home, sub), exist_ok=True)
        # The program sees the system's MIME types but none of its applications,
        # so that no program is registered for HTML unless a test registers one.
        if os.path.isdir("/usr/share/mime"):
            os.symlink("/usr/share/mime", os.path.join(home, "share", "mime"))
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update(DISPLAY=self.display, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_DATA_HOME=os.path.join(home, "data"), XDG_CACHE_HOME=os.path.join(home, "cache"),
                   XDG_DATA_DIRS=os.path.join(home, "share"), XDG_CONFIG_DIRS=os.path.join(home, "etcxdg"),
                   XDG_RUNTIME_DIR=runtime, LC_ALL="C.UTF-8")
        env.pop("BROWSER", None)
        return env

    def run(self, *args, check_rc=False):
        result = subprocess.run(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=TIMEOUT)
        if check_rc and result.returncode != 0:
            raise Failure("%s failed with %d" % (" ".join(args), result.returncode))
        return result.stdout.decode(errors="replace")

    def xdo(self, *args):
        return self.run("xdotool", *args, check_rc=True)

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", "--delay", "60", *keys)

    def type(self, text):
        self.xdo("type", "--clearmodifiers", "--delay", "20", text)

    def point(self, x, y):
        """Moves the pointer to (x, y) and waits until it is there (xdotool's own
        --sync waits for a motion, which never comes when the pointer is there already)."""
        self.xdo("mousemove", str(x), str(y))
        wait_for(lambda: re.match(r"x:(-?\d+) y:(-?\d+)", self.run("xdotool", "getmouselocation")).groups()
                 == (str(x), str(y)), "the pointer at %d, %d" % (x, y))

    def active_window(self):
        return self.run("xdotool", "getactivewindow").strip()

    # What the scenarios that run on both backends use besides key, type and point.
    can_place = True
    # Whether a press must wait until the window under the pointer has seen it come in.
    wait_for_entry = False
    # Whether menus show as windows of their own.
    sees_menus = True

    def command(self, argv):
        return argv

    def windows_of(self, pid):
        return [w for w in self.run("xdotool", "search", "--onlyvisible", "--pid", str(pid)).split() if w]

    def move(self, x, y):
        """Moves the pointer without waiting, as a drag's steps do."""
        self.xdo("mousemove", str(x), str(y))

    def press(self, down):
        self.xdo("mousedown" if down else "mouseup", "1")

    def place(self, window, x, y):
        self.xdo("windowmove", "--sync", window, str(x), str(y))

    def activate(self, window):
        self.xdo("windowactivate", window)

    def attached(self, dialog, owner):
        """Whether dialog is kept over owner: transient for it."""
        return ("%#x" % int(owner)) in self.prop(dialog, "WM_TRANSIENT_FOR")

    def urgent(self, window):
        return "URGENT" in self.prop(window, "_NET_WM_STATE") or "urgency" in self.prop(window, "WM_HINTS").lower()

    def activation_token(self):
        """A launcher's token for a program started now; none is made on X11."""
        return ""

    def close_window(self, window):
        self.key("alt+F4")

    def prop(self, window, name):
        return self.run("xprop", "-id", window, name)

    def is_dialog(self, window):
        return "_NET_WM_WINDOW_TYPE_DIALOG" in self.prop(window, "_NET_WM_WINDOW_TYPE")

    def title(self, window):
        return self.run("xdotool", "getwindowname", window).strip()

    def client_rect(self, window):
        """The client area as (x, y, width, height) on the screen."""
        info = self.run("xwininfo", "-id", window)
        values = {}
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            match = re.search(r"^\s*%s:\s*(-?\d+)" % re.escape(key), info, re.M)
            check(match is not None, "no geometry for window " + window)
            values[key] = int(match.group(1))
        return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"],
                values["Height"])

    def frame_rect(self, window):
        """The whole window, frame included, as (x, y, width, height)."""
        x, y, w, h = self.client_rect(window)
        extents = re.findall(r"\d+", self.prop(window, "_NET_FRAME_EXTENTS").split("=")[-1])
        left, right, top, bottom = (int(v) for v in extents) if len(extents) == 4 else (0, 0, 0, 0)
        return (x - left, y - top, w + left + right, h + top + bottom)

    def close(self):
        end_processes(getattr(self, "wm", None), getattr(self, "xvfb", None))
        self.log.close()



# Evdev key codes of the US layout, which the Wayland backend's virtual keyboard uses.
KEYCODES = dict(zip("1234567890-=", range(2, 14)))
KEYCODES.update(zip("qwertyuiop[]", range(16, 28)))
KEYCODES.update(zip("asdfghjkl;'`", range(30, 42)))
KEYCODES.update(zip("\\zxcvbnm,./", range(43, 54)))
KEYCODES.update({"Escape": 1, "BackSpace": 14, "Tab": 15, "Return": 28, "ctrl": 29, "shift": 42, "alt": 56,
                 "space": 57, " ": 57, "Home": 102, "Up": 103, "Left": 105, "Right": 106, "End": 107,
                 "Down": 108, "Delete": 111})
KEYCODES.update({"F%d" % n: 58 + n for n in range(1, 11)})
SHIFTED = dict(zip('!@#$%^&*()_+{}:"~|<>?', "1234567890-=[];'`\\,./"))
MODIFIER_MASKS = {"shift": 1, "ctrl": 4, "alt": 8}


def give_to(user, path):
    """Hands a file or folder tree to USER, an OtherUser."""
    os.chown(path, user.uid, user.gid, follow_symlinks=False)
    for folder, dirs, files in os.walk(path):
        for name in dirs + files:
            os.chown(os.path.join(folder, name), user.uid, user.gid, follow_symlinks=False)


class WaylandSession:
    """A private headless sway, with the program and its helpers run as an
    unprivileged user (sway refuses root), driven by varnex_wlinput."""

    SIZE = (1280, 800)
    can_place = False
    wait_for_entry = True
    sees_menus = False

    def __init__(self, root, wlinput):
        self.root = root
        self.log = open(os.path.join(root, "sway.log"), "wb")
        # sway refuses root: as root, the compositor and every client run as another account.
        self.user = OtherUser()
        home, runtime = self.user.home, self.user.runtime
        config = os.path.join(root, "sway.conf")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution %dx%d position 0 0\nxwayland disable\n"
                    "default_border none\ndefault_floating_border none\n"
                    "focus_on_window_activation focus\n" % self.SIZE)
        # The helpers are copied where the user can read them: the build folder may be private.
        self.wlinput = shutil.copy(wlinput, root)
        base = self.user.env({"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"})
        self.sway = subprocess.Popen(
            self.command(["sway", "-c", config]), stdout=self.log, stderr=self.log, start_new_session=True,
            env={**base, "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"})
        display = wait_for(lambda: next((n for n in os.listdir(runtime)
                                         if n.startswith("wayland-") and not n.endswith(".lock")), None),
                           "the compositor")
        self.ipc = wait_for(lambda: next((os.path.join(runtime, n) for n in os.listdir(runtime)
                                          if n.startswith("sway-ipc.")), None), "the compositor's IPC socket")
        self.env = {**base, "WAYLAND_DISPLAY": display, "QT_QPA_PLATFORM": "wayland",
                    "QT_WAYLAND_DISABLE_WINDOWDECORATION": "1"}
        self.input = subprocess.Popen(self.command([self.wlinput, str(self.SIZE[0]), str(self.SIZE[1])]),
                                      env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=self.log, text=True)
        check(self.input.stdout.readline().strip() == "ready", "the virtual keyboard and pointer did not start")
        self.tree_cache = {}

    def command(self, argv):
        return self.user.command(argv)

    def send(self, line):
        self.input.stdin.write(line + "\n")
        self.input.stdin.flush()
        reply = self.input.stdout.readline().strip()
        check(reply == "ok" or reply.startswith("token "), "the input program said %r to %r" % (reply, line))
        return reply

    def swaymsg(self, *args):
        result = subprocess.run(["swaymsg", "-s", self.ipc, *args], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        return result.stdout.decode()

    def nodes(self):
        """Every window in the compositor's tree: {id: (node, floating)}."""
        found = {}

        def walk(node, floating):
            if node.get("pid") and node.get("type") in ("con", "floating_con"):
                found[str(node["id"])] = (node, floating)
            for child in node.get("nodes", []):
                walk(child, floating)
            for child in node.get("floating_nodes", []):
                walk(child, True)
        walk(json.loads(self.swaymsg("-t", "get_tree") or "{}"), False)
        self.tree_cache = found
        return found

    def windows_of(self, pid):
        return sorted((i for i, (n, _) in self.nodes().items() if n["pid"] == pid and n.get("visible")), key=int)

    def active_window(self):
        return next((i for i, (n, _) in self.nodes().items() if n.get("focused")), "")

    def node(self, window):
        found = self.nodes().get(window)
        check(found is not None, "window %s is gone" % window)
        return found[0]

    def title(self, window):
        return self.node(window).get("name") or ""

    def is_dialog(self, window):
        # The compositor does not tell dialogs apart: the program's first window is its main one.
        node = self.node(window)
        return int(window) != min(int(i) for i, (n, _) in self.tree_cache.items() if n["pid"] == node["pid"])

    def frame_rect(self, window):
        r = self.node(window)["rect"]
        return (r["x"], r["y"], r["width"], r["height"])

    def client_rect(self, window):
        node = self.node(window)
        r, w = node["rect"], node["window_rect"]
        return (r["x"] + w["x"], r["y"] + w["y"], w["width"], w["height"])

    def attached(self, dialog, owner):
        """Whether dialog floats (rather than being tiled) over owner's workspace."""
        node, floating = self.nodes()[dialog]
        return floating and node["rect"]["width"] < self.SIZE[0] and owner in self.tree_cache

    def urgent(self, window):
        return bool(self.node(window).get("urgent"))

    def activation_token(self):
        return self.send("token")[len("token "):]

    def close_window(self, window):
        self.swaymsg("[con_id=%s]" % window, "kill")

    def place(self, window, x, y):
        self.swaymsg("[con_id=%s]" % window, "move", "position", str(x), str(y))
        wait_for(lambda: self.frame_rect(window)[:2] == (x, y), "the window at %d, %d" % (x, y))

    def activate(self, window):
        self.swaymsg("[con_id=%s]" % window, "focus")

    def point(self, x, y):
        # Two motions, as a real mouse makes: the compositor closes the pointer's
        # entry into a window only with the next event.
        self.send("move %d %d" % (x - 1, y - 1))
        self.send("move %d %d" % (x, y))

    def move(self, x, y):
        self.send("move %d %d" % (x, y))

    def press(self, down):
        self.send("button 272 %d" % (1 if down else 0))

    def key(self, *keys):
        for combo in keys:
            *mods, name = combo.split("+") if combo != "+" else ["+"]
            if name in MODIFIER_MASKS and not mods:
                mods, name = [name], None
            self.stroke([m.lower() for m in mods], name)

    def type(self, text):
        for ch in text:
            if ch in SHIFTED:
                self.stroke(["shift"], SHIFTED[ch])
            elif ch.isupper():
                self.stroke(["shift"], ch.lower())
            else:
                self.stroke([], ch)

    def stroke(self, mods, name):
        mask = 0
        for m in mods:
            mask |= MODIFIER_MASKS[m]
            self.send("key %d 1" % KEYCODES[m])
            self.send("mods %d" % mask)
        if name is not None:
            code = KEYCODES[name if len(name) > 1 else name.lower()]
            self.send("key %d 1" % code)
            self.send("key %d 0" % code)
        for m in reversed(mods):
            mask &= ~MODIFIER_MASKS[m]
            self.send("key %d 0" % KEYCODES[m])
            self.send("mods %d" % mask)

    def close(self):
        end_processes(getattr(self, "input", None), getattr(self, "sway", None))
        self.log.close()
        self.user.close()


class Program:
    """One run of the installed program."""

    def __init__(self, x, folder, cwd, args=(), env=None, user=None):
        """ENV adds to the session's environment; USER, an OtherUser, runs it as that account."""
        self.x = x
        self.folder = folder
        self.log = open(os.path.join(cwd, "program.log"), "ab")
        argv = [os.path.join(folder, "varnex"), *args]
        env = {**x.env, **(env or {})}
        if user is not None:
            argv, env = user.command(argv), user.env(env)
        else:
            argv = x.command(argv)
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdout=self.log, stderr=self.log)
        self.main = None

    def windows(self):
        """The program's visible windows, in no particular order."""
        return self.x.windows_of(self.proc.pid)

    def others(self):
        """Visible windows besides the main window (dialogs, boxes, menus)."""
        return [w for w in self.windows() if w != self.main]

    def wait_main(self):
        def find():
            for w in self.windows():
                if not self.x.is_dialog(w) and self.x.title(w) == "Varnex":
                    return w
            return None
        self.main = wait_for(find, "the main window")
        return self.main

    def wait_active(self, window, what):
        wait_for(lambda: self.x.active_window() == window, what + " to be active")

    def wait_other(self, what, exclude=(), active=True):
        """Waits for a window besides the main one and those in exclude; returns it.
        A dialog or box must also have become the active window (a menu never does)."""
        def find():
            found = [w for w in self.others() if w not in exclude]
            return found[0] if found else None
        window = wait_for(find, what)
        if active:
            self.wait_active(window, what)
        return window

    def wait_only_main(self, what):
        wait_for(lambda: not self.others() and self.x.active_window() == self.main, what)

    def wait_gone(self, window, what):
        wait_for(lambda: window not in self.windows(), what)

    def close(self):
        """Closes the main window the way the close box does and waits for the exit."""
        self.wait_active(self.main, "the main window")
        self.x.close_window(self.main)
        return self.wait_exit()

    def wait_exit(self, what="the program"):
        start = time.monotonic()
        try:
            status = self.proc.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(what + " did not end")
        if TRACE:
            print("  %.1f s: the program to end" % (time.monotonic() - start), flush=True)
        return status

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.log.close()

    def button_centre(self, left, top, width=26, height=26):
        """The screen point at the centre of a control at (left, top) of the design, 26 pixels square unless told."""
        x, y, w, h = self.x.client_rect(self.main)
        menu = h - scaled(136)
        return x + scaled(left) + scaled(width) // 2, y + menu + scaled(top) + scaled(height) // 2


# Hands a file or folder to the user the programs run as, where that is not the tests' own.
OWNER = None


def both(test):
    """Marks a scenario that runs on both backends."""
    test.both = True
    return test


def read_settings(folder):
    with open(os.path.join(folder, "Settings.ini"), "rb") as f:
        return f.read()


def settings_value(folder, key):
    match = re.search(rb"^" + key.encode() + rb"=(.*)\r$", read_settings(folder), re.M)
    check(match is not None, "no %s in Settings.ini" % key)
    return match.group(1).decode()


def write_settings(folder, left=None, top=None, output_dir=None):
    lines = ["[MainForm]"]
    if left is not None:
        lines += ["Left=%d" % left, "Top=%d" % top]
    if output_dir is not None:
        lines.append('OutputDir="%s"' % output_dir)
    with open(os.path.join(folder, "Settings.ini"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode())
    if OWNER is not None:
        OWNER(os.path.join(folder, "Settings.ini"))


class Context:
    """What one test gets: a fresh copy of the installed program and a work folder."""

    def __init__(self, x, install, root, name, dragsource, build):
        self.x = x
        self.build = build
        self.root = os.path.join(root, name)
        self.folder = os.path.join(self.root, "prog")
        self.work = os.path.join(self.root, "work")
        self.out = os.path.join(self.work, "out")
        shutil.copytree(install, self.folder, symlinks=True)
        os.makedirs(self.out)
        if OWNER is not None:
            OWNER(self.root)
        self.dragsource = dragsource
        self.programs = []
        self.sources = []
        self.users = []

    def start(self, *args, env=None):
        program = Program(self.x, self.folder, self.work, args, env)
        self.programs.append(program)
        return program

    def start_active(self, *args, env=None):
        """Starts the program and waits until its main window is up and active."""
        program = self.start(*args, env=env)
        program.wait_main()
        program.wait_active(program.main, "the main window")
        return program

    def cleanup(self):
        for program in self.programs:
            program.kill()
        for source in self.sources:
            source.close()
        for user in self.users:
            user.close()


# ---------------------------------------------------------------------------
# The tests.


def test_first_start_and_settings_bytes(c):
    """A fresh start: caption, size, defaults, the log commands off; the exact file a close writes."""
    app = c.start()
    main = app.wait_main()
    app.wait_active(main, "the main window")
    _, _, width, height = c.x.client_rect(main)
    check(width == scaled(376), "client width %d, expected %d" % (width, scaled(376)))
    left, top, _, _ = c.x.frame_rect(main)
    check(height > scaled(136), "client height %d leaves no room for the menu bar" % height)
    # Save Log As is off: Ctrl+S does nothing, so the F1 after it opens the help question.
    c.x.key("ctrl+s", "F1")
    box = app.wait_other("the help question")
    check(c.x.is_dialog(box) and c.x.title(box) == "Varnex", "Ctrl+S opened something: " + c.x.title(box))
    c.x.key("Escape")
    app.wait_only_main("the question to close")
    check(app.close() == 0, "exit status")
    work = c.work
    expected = ("[MainForm]\r\nLeft=%d\r\nTop=%d\r\nGlyphsMan.FilesOpenDialog.FilterIndex=1\r\n"
                "GlyphsMan.LogSaveDialog.FilterIndex=1\r\nLightColor=16777215\r\nShadowColor=8421504\r\n"
                'OutputDir="%s/Varnex Output"\r\n\r\n[System]\r\nCurrentDir="%s"\r\n\r\n'
                % (left, top, work, work)).encode()
    actual = read_settings(c.folder)
    check(actual == expected, "Settings.ini is\n%r\nexpected\n%r" % (actual, expected))


def convert_through_dialog(c, app, typed, output):
    c.x.key("ctrl+o")
    dialog = app.wait_other("the files dialog")
    c.x.type(typed)
    c.x.key("Return")
    wait_for(lambda: os.path.exists(output), output)
    app.wait_gone(dialog, "the files dialog to close")
    app.wait_only_main("the main window after the conversion")


def shortcuts_answer(c, app):
    """Alt+G opens the menu and F1 the help question, at once."""
    c.x.key("alt+g")
    # A Wayland compositor keeps menus out of its window tree.
    if c.x.sees_menus:
        menu = app.wait_other("the Glyphs menu", active=False)
        c.x.key("Escape")
        app.wait_gone(menu, "the menu to close")
    c.x.key("Escape", "F1")
    box = app.wait_other("the help question")
    check(c.x.is_dialog(box), "F1 did not open a box")
    c.x.key("Escape")
    app.wait_only_main("the question to close")


def test_convert_by_dialog_then_shortcuts_and_folder(c):
    """Ctrl+O converts; the shortcuts work right after; the dialog reopens in the chosen folder."""
    source = os.path.join(c.work, "glyphs")
    for name in ("a", "b", "c"):
        write_glyph(os.path.join(source, name + ".bmp"))
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    c.x.key("alt+o")  # the focus goes to the field, where a stray letter would show
    convert_through_dialog(c, app, os.path.join(source, "a.bmp"), os.path.join(c.out, "a.bmp"))
    shortcuts_answer(c, app)
    # Only a name: the dialog opens in the folder of the last choice.
    convert_through_dialog(c, app, "b.bmp", os.path.join(c.out, "b.bmp"))
    shortcuts_answer(c, app)
    convert_through_dialog(c, app, "c.bmp", os.path.join(c.out, "c.bmp"))
    shortcuts_answer(c, app)
    check(app.close() == 0, "exit status")
    check(settings_value(c.folder, "OutputDir") == '"%s"' % c.out, "the output field changed")
    check(settings_value(c.folder, "CurrentDir") == '"%s"' % source, "CurrentDir is not the files' folder")
    # A cancelled dialog changes nothing: the next start opens in the same folder.
    app = c.start_active()
    c.x.key("ctrl+o")
    app.wait_other("the files dialog")
    c.x.key("Escape")
    app.wait_only_main("the cancelled dialog to close")
    check(app.close() == 0, "exit status")
    check(settings_value(c.folder, "CurrentDir") == '"%s"' % source, "a cancelled dialog moved CurrentDir")


class DragSource:
    def __init__(self, c, files):
        self.log = open(os.path.join(c.work, "drag.log"), "ab")
        self.proc = subprocess.Popen(c.x.command([c.dragsource, *files]), env=c.x.env, stdout=subprocess.PIPE,
                                     stderr=self.log)
        self.lines = []
        self.said = []
        self.pending = b""

    def wait_line(self, prefix):
        """Waits for a line that starts with prefix and has not been waited for yet."""
        def probe():
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.05)
            if ready:
                # Read unbuffered: a buffered reader could hold a second line that select no longer sees.
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise Failure("the drag source ended early")
                self.pending += chunk
                *complete, self.pending = self.pending.split(b"\n")
                for line in complete:
                    self.lines.append(line.decode().strip())
                    self.said.append(line.decode().strip())
            for i, line in enumerate(self.lines):
                if line.startswith(prefix):
                    del self.lines[: i + 1]
                    return line
            return None
        try:
            return wait_for(probe, "the drag source to say " + prefix)
        except Failure as error:
            raise Failure("%s (it said %s)" % (error, self.said))

    def window(self, x):
        return wait_for(lambda: x.windows_of(self.proc.pid), "the drag source window")[0]

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()
        self.log.close()


def drag(c, app, files, at=None):
    """Drags files from our drag source onto the main window (at the screen point at,
    else its middle) with the mouse. The source serves the data after the drag, so it
    lives until the test ends; it is returned."""
    source = DragSource(c, files)
    c.sources.append(source)
    source.wait_line("ready")
    window = source.window(c.x)
    # Well away from the main window, which the window manager may have put at the top left.
    c.x.place(window, 840, 620)
    sx, sy, sw, sh = c.x.client_rect(window)
    tx, ty, tw, th = c.x.client_rect(app.main)
    if at is not None:
        tx, ty, tw, th = at[0] - 1, at[1] - 1, 2, 2
    c.x.point(sx + sw // 2, sy + sh // 2)
    if c.x.wait_for_entry:
        source.wait_line("entered")
    c.x.press(True)
    for step in range(1, 4):
        c.x.move(sx + sw // 2 + step * 4, sy + sh // 2 + step * 4)
    source.wait_line("dragging")
    steps = 12
    for step in range(1, steps + 1):
        px = sx + sw // 2 + (tx + tw // 2 - sx - sw // 2) * step // steps
        py = sy + sh // 2 + (ty + th // 2 - sy - sh // 2) * step // steps
        c.x.move(px, py)
        time.sleep(0.03)  # pacing only: the drop target needs motion to see the drag
    c.x.move(tx + tw // 2 + 1, ty + th // 2 + 1)
    source.wait_line("action 1")  # the window has said it takes the files
    c.x.press(False)
    line = source.wait_line("dropped")
    check(line == "dropped 1", "the drop was refused: " + line)
    return source


@both
def test_convert_by_drop(c):
    """Files dropped from another program are converted, and the shortcuts still answer."""
    files = [os.path.join(c.work, "drop", "d%d.bmp" % i) for i in range(3)]
    for f in files:
        write_glyph(f)
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    drag(c, app, files)
    for f in files:
        wait_for(lambda f=f: os.path.exists(os.path.join(c.out, os.path.basename(f))), "the dropped glyph " + f)
    app.wait_only_main("the main window after the drop")
    shortcuts_answer(c, app)
    check(app.close() == 0, "exit status")


def test_position_is_kept_across_starts(c):
    """Three close/start cycles leave the frame where it was; Left/Top are the frame's corner;
    a stored (0, 0) is used as stored; without Left/Top the window manager places the window."""
    app = c.start_active()
    c.x.xdo("windowmove", app.main, "137", "211")
    wait_for(lambda: c.x.frame_rect(app.main)[:2] != (0, 0), "the move")
    first = c.x.frame_rect(app.main)
    check(app.close() == 0, "exit status")
    for cycle in range(3):
        app = c.start_active()
        try:
            wait_for(lambda: c.x.frame_rect(app.main) == first, "the window at %s" % (first,), timeout=10)
        except Failure:
            raise Failure("start %d put the window at %s, expected %s"
                          % (cycle + 2, c.x.frame_rect(app.main), first))
        check(app.close() == 0, "exit status")
    stored = (int(settings_value(c.folder, "Left")), int(settings_value(c.folder, "Top")))
    check(stored == first[:2], "stored %s for a frame at %s" % (stored, first[:2]))
    write_settings(c.folder, left=0, top=0)
    app = c.start_active()
    try:
        wait_for(lambda: c.x.frame_rect(app.main)[:2] == (0, 0), "the frame at (0, 0)", timeout=10)
    except Failure:
        raise Failure("a stored (0, 0) gave a frame at %s" % (c.x.frame_rect(app.main),))
    check(app.close() == 0, "exit status")
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    hints = c.x.prop(app.main, "WM_NORMAL_HINTS")
    check("specified location" not in hints, "a file without Left/Top placed the window: " + hints)
    check(app.close() == 0, "exit status")


def test_fast_click_shows_only_the_field_error(c):
    """Leaving an empty field by a quick click on a colour button shows only the field's error."""
    app = c.start_active()
    c.x.key("alt+o", "ctrl+a", "BackSpace")
    bx, by = app.button_centre(340, 10)
    c.x.point(bx, by)
    c.x.xdo("click", "1")
    box = app.wait_other("the error box")
    check(stays_false(lambda: len(app.others()) > 1, 1.5), "a second dialog opened with the error box")
    check(c.x.is_dialog(box) and c.x.title(box) == "Varnex", "not the error box: " + c.x.title(box))
    c.x.key("Return")
    app.wait_only_main("the error box to close")
    # The focus is back in the field.
    c.x.type("/fast")
    check(app.close() == 0, "exit status")
    check(settings_value(c.folder, "OutputDir") == '"/fast"', "the focus was not back in the field")


def test_label_accelerators_only_move_the_focus(c):
    """Alt+L and Alt+S focus the colour buttons without opening the dialog; Alt+O focuses the field."""
    app = c.start_active()
    # From the light button two tabs reach the field, from the shadow button one.
    c.x.key("alt+l")
    check(stays_false(app.others, 1.0), "Alt+L opened a dialog")
    c.x.key("Tab", "Tab")
    c.x.type("/a")
    c.x.key("alt+s")
    check(stays_false(app.others, 1.0), "Alt+S opened a dialog")
    c.x.key("Tab", "End")
    c.x.type("b")
    c.x.key("alt+Home", "alt+o", "End")
    c.x.type("c")
    check(not app.others(), "a dialog is open")
    check(app.close() == 0, "exit status")
    check(settings_value(c.folder, "OutputDir") == '"/abc"',
          "the keys reached other controls: " + settings_value(c.folder, "OutputDir"))


def test_arguments_are_only_warned_about(c):
    """Qt options are parameters like any other: one warning, and Qt does not obey them."""
    for args in (("-reverse",), ("foo",), ("-style", "Fusion", "bar")):
        app = c.start(*args)
        app.wait_main()
        box = app.wait_other("the parameter warning for %s" % (args,))
        check(c.x.is_dialog(box) and c.x.title(box) == "Varnex", "not the warning box")
        c.x.key("Return")
        app.wait_only_main("the warning to close")
        check(stays_false(app.others, 1.0), "a second warning for %s" % (args,))
        # The window is not mirrored: the light button is still on the right.
        bx, by = app.button_centre(340, 10)
        c.x.point(bx, by)
        c.x.xdo("click", "1")
        app.wait_other("the colour dialog")
        c.x.key("Escape")
        app.wait_only_main("the colour dialog to close")
        check(app.close() == 0, "exit status")


class OpenPacer:
    """Holds each open of a file in a folder by one process for a while (fanotify permission
    events, which need CAP_SYS_ADMIN), so that a batch lasts as long as a test needs
    however fast the program converts. Other processes' opens pass at once."""

    FAN_CLASS_CONTENT, FAN_CLOEXEC, FAN_MARK_ADD = 0x08, 0x01, 0x01
    FAN_OPEN_PERM, FAN_EVENT_ON_CHILD, FAN_ALLOW = 0x00010000, 0x08000000, 0x01
    EVENT = struct.Struct("<IBBHQii")  # event_len, vers, reserved, metadata_len, mask, fd, pid

    def __init__(self, folder, delay):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int, ctypes.c_char_p]
        self.fd = libc.fanotify_init(self.FAN_CLASS_CONTENT | self.FAN_CLOEXEC, os.O_RDONLY | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "fanotify_init")
        if libc.fanotify_mark(self.fd, self.FAN_MARK_ADD, self.FAN_OPEN_PERM | self.FAN_EVENT_ON_CHILD,
                              -100, folder.encode()) != 0:  # -100: AT_FDCWD
            os.close(self.fd)
            raise OSError(ctypes.get_errno(), "fanotify_mark")
        self.delay, self.pid, self.stopping = delay, None, False
        self.thread = threading.Thread(target=self.answer, daemon=True)
        self.thread.start()

    def answer(self):
        while not self.stopping:
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            data = os.read(self.fd, 4096)
            for at in range(0, len(data) - self.EVENT.size + 1, self.EVENT.size):
                _, _, _, _, _, fd, pid = self.EVENT.unpack_from(data, at)
                if pid == self.pid and not self.stopping:
                    time.sleep(self.delay)
                os.write(self.fd, struct.pack("<iI", fd, self.FAN_ALLOW))
                os.close(fd)

    def stop(self):
        self.stopping = True
        self.thread.join()
        os.close(self.fd)  # any event still pending is allowed


def test_progress_dialog_position_and_cancel(c):
    """The progress dialog opens centred over the main window; the close box asks and cancels."""
    files = [os.path.join(c.work, "many", "g%04d.bmp" % i) for i in range(1500)]
    for f in files:
        write_glyph(f, 64, 64)
    list_file = os.path.join(c.work, "list.txt")
    with open(list_file, "w") as f:
        f.write("\n".join(files))
    write_settings(c.folder, left=600, top=500, output_dir=c.out)
    # Each glyph is held 20 ms, so the batch lasts for the test on any machine. Without
    # the right to do that the batch's own length has to serve.
    try:
        pacer = OpenPacer(os.path.join(c.work, "many"), 0.02)
    except OSError as error:
        check(not os.environ.get("VARNEX_E2E_REQUIRED"), "the opens cannot be paced here: %s" % error)
        print("  (opens not paced: %s)" % error, flush=True)
        pacer = None
    try:
        progress_dialog_position_and_cancel(c, files, list_file, pacer)
    finally:
        if pacer:
            pacer.stop()


def progress_dialog_position_and_cancel(c, files, list_file, pacer):
    app = c.start()
    if pacer:
        pacer.pid = app.proc.pid
    app.wait_main()
    app.wait_active(app.main, "the main window")
    before = c.x.frame_rect(app.main)
    c.x.xdo("windowmove", app.main, "350", "300")
    wait_for(lambda: c.x.frame_rect(app.main) != before, "the main window to move")
    drag(c, app, ["@" + list_file])
    progress = app.wait_other("the progress dialog")
    # Hold the program still while the dialog is measured and the close box is used.
    os.kill(app.proc.pid, signal.SIGSTOP)
    try:
        mx, my, mw, mh = c.x.frame_rect(app.main)
        px, py, pw, ph = c.x.frame_rect(progress)
        check(c.x.title(progress) == "Convert", "not the progress dialog: " + c.x.title(progress))
        dx = (px + pw // 2) - (mx + mw // 2)
        dy = (py + ph // 2) - (my + mh // 2)
        check(abs(dx) <= 2 and abs(dy) <= 2,
              "progress dialog at %s, main window at %s" % ((px, py, pw, ph), (mx, my, mw, mh)))
        c.x.xdo("windowactivate", progress)
        c.x.key("alt+F4")
    finally:
        os.kill(app.proc.pid, signal.SIGCONT)
    question = app.wait_other("the cancel question", exclude=(progress,))
    check(c.x.title(question) == "Varnex", "not the question: " + c.x.title(question))
    c.x.key("Return")
    app.wait_gone(progress, "the cancelled conversion to end")
    # The cancel is a warning: the summary asks whether to save the log.
    summary = app.wait_other("the summary", exclude=(progress, question))
    check(c.x.title(summary) == "Varnex", "not the summary: " + c.x.title(summary))
    c.x.key("Escape")
    app.wait_only_main("the main window after the cancel")
    done = len(os.listdir(c.out))
    check(done < len(files), "the cancel did not stop the conversion")
    check(app.close() == 0, "exit status")


def test_second_instance_only_activates_the_first(c):
    app = c.start_active()
    c.x.xdo("windowminimize", app.main)
    wait_for(lambda: app.main not in app.windows(), "the window to minimise")
    second = c.start()
    check(second.wait_exit() == 0, "the second instance's exit status")
    check(app.proc.poll() is None, "the first instance ended")
    check(not second.windows(), "the second instance left a window")
    c.x.xdo("windowactivate", app.main)
    app.wait_active(app.main, "the first window")
    check(app.close() == 0, "exit status")


def test_help_without_a_viewer_and_with_one(c):
    """No handler for HTML: the help error shows. With one, it gets the file."""
    check(shutil.which("xdg-open") is not None, "xdg-open is needed (package xdg-utils)")
    app = c.start_active()
    c.x.key("F1")
    question = app.wait_other("the help question")
    c.x.key("Return")
    app.wait_gone(question, "the question to close")
    box = app.wait_other("the help error", exclude=(question,))
    check(c.x.is_dialog(box) and c.x.title(box) == "Varnex", "not an error box")
    c.x.key("Return")
    app.wait_only_main("the error to close")
    check(app.close() == 0, "exit status")

    marker = os.path.join(c.work, "opened.txt")
    apps = os.path.join(c.x.env["XDG_DATA_HOME"], "applications")
    os.makedirs(apps, exist_ok=True)
    viewer = os.path.join(c.work, "viewer.sh")
    with open(viewer, "w") as f:
        f.write('#!/bin/sh\nprintf "%%s" "$1" > "%s"\n' % marker)
    os.chmod(viewer, 0o755)
    with open(os.path.join(apps, "e2e-viewer.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=%s %%f\nMimeType=text/html;\n" % viewer)
    with open(os.path.join(c.x.env["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\ntext/html=e2e-viewer.desktop\n")
    try:
        app = c.start_active()
        c.x.key("F1")
        app.wait_other("the help question")
        c.x.key("Return")
        wait_for(lambda: os.path.exists(marker) and os.path.getsize(marker) > 0, "the viewer to run")
        with open(marker) as f:
            check(f.read() == os.path.join(c.folder, "Help", "index.html"), "the viewer got another file")
        app.wait_only_main("the main window after the help")
        check(app.close() == 0, "exit status")
    finally:
        os.remove(os.path.join(c.x.env["XDG_CONFIG_HOME"], "mimeapps.list"))



def test_drop_on_the_field_converts_and_keeps_name_bytes(c):
    """A drop on the output field converts like one anywhere else; a name that is not UTF-8 keeps its bytes."""
    files = [os.path.join(c.work, "drop", "plain.bmp").encode(), os.path.join(c.work, "drop").encode() + b"/n\xe9.bmp"]
    for f in files:
        os.makedirs(os.path.dirname(f), exist_ok=True)
        with open(f, "wb") as out:
            out.write(bmp_bytes(32, 16))
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    list_file = os.path.join(c.work, "list.txt")
    with open(list_file, "wb") as f:
        f.write(b"\n".join(files))
    drag(c, app, ["@" + list_file], at=app.button_centre(30, 100, 306, 23))
    for f in files:
        target = os.path.join(c.out.encode(), os.path.basename(f))
        wait_for(lambda t=target: os.path.exists(t), "the dropped glyph %r" % target)
    app.wait_only_main("the main window after the drop")
    check(app.close() == 0, "exit status")
    check(settings_value(c.folder, "OutputDir") == '"%s"' % c.out, "the drop changed the field")


def test_batch_leaves_the_focus_with_another_program(c):
    """A user who switched to another program during a batch keeps it when the batch ends."""
    files = [os.path.join(c.work, "many", "g%03d.bmp" % i) for i in range(150)]
    for f in files:
        write_glyph(f)
    list_file = os.path.join(c.work, "list.txt")
    with open(list_file, "w") as f:
        f.write("\n".join(files))
    write_settings(c.folder, output_dir=c.out)
    pacer = OpenPacer(os.path.join(c.work, "many"), 0.02)
    try:
        app = c.start()
        pacer.pid = app.proc.pid
        app.wait_main()
        app.wait_active(app.main, "the main window")
        source = drag(c, app, ["@" + list_file])
        progress = app.wait_other("the progress dialog")
        other = source.window(c.x)
        c.x.xdo("windowactivate", other)
        wait_for(lambda: c.x.active_window() == other, "the other program to be active")
        # The user works on in the other program for a while (a second's worth of
        # glyphs), then the rest of the batch runs at full speed.
        done = len(os.listdir(c.out))
        wait_for(lambda: len(os.listdir(c.out)) >= done + 50, "the batch to go on")
        pacer.pid = None
        app.wait_gone(progress, "the end of the batch")
        check(stays_false(lambda: c.x.active_window() != other, 1.5), "the main window took the focus back")
    finally:
        pacer.stop()
    check(len(os.listdir(c.out)) == len(files), "not every glyph was converted")
    source.close()
    c.x.xdo("windowactivate", app.main)
    check(app.close() == 0, "exit status")


def test_help_opener_answers_for_itself(c):
    """With no registered viewer the opener's own fallback ($BROWSER) shows the help."""
    marker = os.path.join(c.work, "opened.txt")
    viewer = os.path.join(c.work, "browser.sh")
    with open(viewer, "w") as f:
        # A browser that stays open as long as its page: the program must not wait for it.
        f.write('#!/bin/sh\nprintf "%%s" "$1" > "%s.part" && mv "%s.part" "%s"\nexec sleep 30\n' % (marker, marker, marker))
    os.chmod(viewer, 0o755)
    # A data folder of its own: no viewer that another test registered is found.
    app = c.start_active(env={"BROWSER": viewer, "XDG_DATA_HOME": os.path.join(c.work, "data")})
    c.x.key("F1")
    question = app.wait_other("the help question")
    c.x.key("Return")
    app.wait_gone(question, "the question to close")
    wait_for(lambda: os.path.exists(marker), "the browser to run")
    with open(marker) as f:
        check(f.read().endswith(os.path.join(c.folder, "Help", "index.html")), "the browser got another file")
    check(stays_false(app.others, 4.0), "an error showed although the browser opened the help")
    app.wait_only_main("the main window after the help")
    check(app.close() == 0, "exit status")


def test_keyboard_reaches_buttons_and_menu_and_window_has_an_icon(c):
    """Enter presses a focused "..." button; F10 and a lone Alt reach the menu; the window shows the icon."""
    app = c.start_active()
    check("=" in c.x.prop(app.main, "_NET_WM_ICON"), "the window has no icon")
    c.x.key("alt+l", "Return")
    app.wait_other("the colour dialog from Enter")
    c.x.key("Escape")
    app.wait_only_main("the colour dialog to close")
    for keys in (("F10",), ("alt", "Down")):
        c.x.key(*keys)
        menu = app.wait_other("a menu from %s" % "+".join(keys), active=False)
        c.x.key("Escape", "Escape")
        app.wait_gone(menu, "the menu to close")
        app.wait_only_main("the main window after the menu")
    check(app.close() == 0, "exit status")


def test_cancelled_dialog_leaves_the_current_directory(c):
    """A folder browsed to in a cancelled Convert dialog is not where the next one opens."""
    write_glyph(os.path.join(c.work, "a.bmp"))
    elsewhere = os.path.join(c.work, "elsewhere")
    os.makedirs(elsewhere)
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    c.x.key("alt+o")
    c.x.key("ctrl+o")
    app.wait_other("the files dialog")
    c.x.type(elsewhere + "/")
    c.x.key("Return")
    c.x.key("Escape")
    app.wait_only_main("the cancelled dialog to close")
    convert_through_dialog(c, app, "a.bmp", os.path.join(c.out, "a.bmp"))
    check(app.close() == 0, "exit status")


def test_dialogs_fit_a_small_screen(c):
    """At twice the scale every dialog still fits the screen."""
    screen = (1024, 768)
    app = c.start_active(env={"QT_SCALE_FACTOR": "2"})
    for what, keys in (("the files dialog", ("ctrl+o",)), ("the folder browser", ("alt+o", "Tab", "space")),
                       ("the colour dialog", ("alt+l", "space"))):
        c.x.key(*keys)
        dialog = app.wait_other(what)
        x, y, w, h = c.x.frame_rect(dialog)
        check(x >= 0 and y >= 0 and x + w <= screen[0] and y + h <= screen[1],
              "%s at %s does not fit %s" % (what, (x, y, w, h), screen))
        c.x.key("Escape")
        app.wait_only_main(what + " to close")
    check(app.close() == 0, "exit status")



@both
def test_start_and_convert_with_an_attached_dialog(c):
    """Start-up, a Ctrl+O conversion through a dialog kept over the main window, and
    the keyboard back in the main window after it."""
    source = os.path.join(c.work, "glyphs")
    write_glyph(os.path.join(source, "a.bmp"))
    write_settings(c.folder, output_dir=c.out)
    app = c.start_active()
    width = c.x.client_rect(app.main)[2]
    check(width == scaled(376), "client width %d, expected %d" % (width, scaled(376)))
    c.x.key("ctrl+o")
    dialog = app.wait_other("the files dialog")
    check(c.x.attached(dialog, app.main), "the files dialog is not kept over the main window")
    c.x.type(os.path.join(source, "a.bmp"))
    c.x.key("Return")
    wait_for(lambda: os.path.exists(os.path.join(c.out, "a.bmp")), "the converted glyph")
    app.wait_only_main("the main window after the conversion")
    c.x.key("F1")
    box = app.wait_other("the help question from the main window")
    check(c.x.title(box) == "Varnex", "F1 opened " + c.x.title(box))
    c.x.key("Escape")
    app.wait_only_main("the question to close")
    check(app.close() == 0, "exit status")


@both
def test_second_start_brings_the_first_window_forward(c):
    """With the launcher's activation token the first window gets the focus; without
    one it gets the focus or asks for attention."""
    app = c.start_active()
    other = DragSource(c, [])
    c.sources.append(other)
    other.wait_line("ready")
    other_window = other.window(c.x)
    for token in dict.fromkeys((c.x.activation_token(), "")):
        c.x.activate(other_window)
        wait_for(lambda: c.x.active_window() == other_window, "the other program to be active")
        second = c.start(env={"XDG_ACTIVATION_TOKEN": token, "DESKTOP_STARTUP_ID": token} if token else None)
        check(second.wait_exit("the second instance") == 0, "the second instance's exit status")
        wanted = (lambda: c.x.active_window() == app.main) if token else \
            (lambda: c.x.active_window() == app.main or c.x.urgent(app.main))
        wait_for(wanted, "the first window to come forward (token %r)" % token)
    check(not second.windows(), "the second instance left a window")
    c.x.activate(app.main)
    check(app.close() == 0, "exit status")


@both
def test_three_restarts_keep_left_and_top(c):
    """A stored position survives three sessions: used where the system places windows, kept where it cannot."""
    write_settings(c.folder, left=137, top=211, output_dir=c.out)
    for cycle in range(3):
        app = c.start_active()
        if c.x.can_place:
            wait_for(lambda: c.x.frame_rect(app.main)[:2] == (137, 211), "the frame at (137, 211)", timeout=10)
        check(app.close() == 0, "exit status")
        stored = (settings_value(c.folder, "Left"), settings_value(c.folder, "Top"))
        check(stored == ("137", "211"), "session %d stored %s" % (cycle + 1, stored))


def test_protected_folder_keeps_the_files_in_the_users_own_folders(c):
    """Installed by root where the user cannot write: the user converts and closes with
    Alt+F4; Settings.ini (carried over from the folder's) and Log.txt are in the
    user's XDG folders, private, and the program folder is untouched."""
    user = OtherUser()
    c.users.append(user)
    folder = user.install(c.build)
    portable = b"[MainForm]\r\nShadowColor=255\r\n"
    os.chmod(folder, 0o755)
    with open(os.path.join(folder, "Settings.ini"), "wb") as f:
        f.write(portable)
    read_only(folder)
    before = sorted(os.listdir(folder))
    work = user.folder("work", 0o755)
    write_glyph(os.path.join(work, "glyphs", "a.bmp"))
    app = Program(c.x, folder, work, user=user)
    c.programs.append(app)
    app.wait_main()
    app.wait_active(app.main, "the main window")
    output = os.path.join(work, "Varnex Output", "a.bmp")
    convert_through_dialog(c, app, os.path.join(work, "glyphs", "a.bmp"), output)
    check(app.close() == 0, "exit status")
    check(os.stat(output).st_uid == user.uid, "the glyph is not the user's")
    for base, name in ((user.state_home, "Log.txt"), (user.config_home, "Settings.ini")):
        own = os.path.join(base, "varnex")
        info = os.stat(own)
        check(info.st_uid == user.uid and info.st_mode & 0o777 == 0o700,
              "%s: owner %d, mode %o" % (own, info.st_uid, info.st_mode & 0o777))
        check(os.path.isfile(os.path.join(own, name)), "no %s in %s" % (name, own))
    with open(os.path.join(user.state_home, "varnex", "Log.txt"), "rb") as f:
        check(b"Converted: " in f.read(), "the log does not record the conversion")
    check(settings_value(os.path.join(user.config_home, "varnex"), "ShadowColor") == "255",
          "the folder's Settings.ini was not carried over")
    check(sorted(os.listdir(folder)) == before, "the program folder changed: %s" % os.listdir(folder))
    check(read_settings(folder) == portable, "the folder's Settings.ini was written")


TESTS = [v for k, v in list(globals().items()) if k.startswith("test_")]


def main():
    # A timeout's SIGTERM unwinds like an error, so the X server and the programs are ended.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--dragsource", required=True)
    parser.add_argument("--backend", choices=("x11", "wayland"), default="x11")
    parser.add_argument("--wlinput", help="the Wayland backend's input program")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    options = parser.parse_args()
    wayland = options.backend == "wayland"
    missing = [t for t in (WAYLAND_TOOLS if wayland else TOOLS) if shutil.which(t) is None]
    if wayland and not (options.wlinput and os.access(options.wlinput, os.X_OK)):
        missing.append("varnex_wlinput")
    if missing:
        message = "end-to-end tests need " + ", ".join(missing) + " (scripts/deps.sh test installs them)"
        if os.environ.get("CI") or os.environ.get("VARNEX_E2E_REQUIRED"):
            print(message, file=sys.stderr)
            return 1
        print("SKIPPED: " + message)
        return SKIP
    global OWNER
    root = tempfile.mkdtemp(prefix="varnex-e2e-")
    install = os.path.join(root, "install")
    subprocess.run(["cmake", "--install", options.build, "--prefix", install], check=True,
                   stdout=subprocess.DEVNULL)
    dragsource = options.dragsource
    if wayland:
        # Everything runs as another user, who must reach the folder, the program and the helpers.
        os.chmod(root, 0o755)
        dragsource = shutil.copy(dragsource, root)
    x = WaylandSession(root, options.wlinput) if wayland else XSession(root)
    if wayland:
        OWNER = lambda path: give_to(x.user, path)
    failed = []
    try:
        for test in TESTS:
            name = test.__name__[len("test_"):]
            if options.only and not any(o in name for o in options.only):
                continue
            if wayland and not getattr(test, "both", False):
                continue
            context = Context(x, install, root, name, dragsource, options.build)
            started = time.monotonic()
            try:
                test(context)
                print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            except Exception as error:  # report every test, then fail
                failed.append(name)
                print("FAIL %s: %s" % (name, error), flush=True)
                if not isinstance(error, Failure):
                    traceback.print_exc()
            finally:
                context.cleanup()
    finally:
        x.close()
        if not options.keep and not failed:
            shutil.rmtree(root, ignore_errors=True)
        elif failed:
            print("kept " + root)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
