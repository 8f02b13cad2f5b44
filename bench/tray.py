"""The tray application's rows: idle cost, memory with the panel open and
closed, panel click to first frame, exec to the figures on the item.

The app runs under Xvfb with a private session bus. The panel is toggled by
the item's StatusNotifierItem Activate call (gdbus). The first frame is the
line "panel: first frame" the app writes to standard error when
VELMO_TRACE_FRAMES=1 is set; the item's figures are read from its ToolTip
property."""

import os
import re
import select
import shutil
import subprocess
import time

from velmo_bench import app_binary, idle_activity, memory_note, minmed, rss_kb, stop_process

ITEM_INTERFACE = "org.kde.StatusNotifierItem"


class Session:
    """Xvfb on a free display and a private session bus."""

    def __init__(self):
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.display = ":" + self.xvfb.stdout.readline().strip()
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, text=True)
        self.address = self.bus.stdout.readline().strip()
        # A tray host's watcher, so the app shows its item rather than a window.
        self.watcher = subprocess.Popen([os.path.join(os.path.dirname(os.path.abspath(__file__)), "sni-watcher")],
                                        env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address),
                                        stdout=subprocess.PIPE, text=True)
        self.watcher.stdout.readline()

    def env(self, base):
        return dict(base, DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.address, QT_QPA_PLATFORM="xcb",
                    VELMO_TRACE_FRAMES="1")

    def gdbus(self, *args):
        return subprocess.run(["gdbus", *args], env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address),
                              capture_output=True, text=True, timeout=10).stdout

    def item_name(self, deadline_s=5):
        end = time.monotonic() + deadline_s
        while time.monotonic() < end:
            names = self.gdbus("call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                               "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames")
            found = re.findall(r"'(org\.kde\.StatusNotifierItem-[^']+)'", names)
            if found:
                return found[0]
            time.sleep(0.002)
        return None

    def activate(self, name):
        self.gdbus("call", "--session", "--dest", name, "--object-path", "/StatusNotifierItem", "--method",
                   ITEM_INTERFACE + ".Activate", "0", "0")

    def tooltip(self, name):
        return self.gdbus("call", "--session", "--dest", name, "--object-path", "/StatusNotifierItem", "--method",
                          "org.freedesktop.DBus.Properties.Get", ITEM_INTERFACE, "ToolTip")

    def close(self):
        for process in (self.watcher, self.bus, self.xvfb):
            stop_process(process)


def start_tray(ctx, session, env=None):
    started = time.perf_counter()
    process = subprocess.Popen([app_binary(ctx.build)], env=env or session.env(ctx.env), stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True, bufsize=1)
    process.started = started
    return process


def wait_for_frame(process, deadline_s=5):
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        ready, _, _ = select.select([process.stderr], [], [], max(0, end - time.monotonic()))
        if ready and "panel: first frame" in process.stderr.readline():
            return time.perf_counter()
    return None


def measure(ctx, row):
    if not shutil.which("Xvfb") or not shutil.which("gdbus"):
        row("tray rows", "Xvfb and gdbus are needed", "", False)
        return
    session = Session()
    try:
        _measure(ctx, session, row)
    finally:
        session.close()


def _measure(ctx, session, row):
    from velmo_bench import Blackhole

    # exec → figures on the item, warm cache, network blackholed.
    subprocess.run([app_binary(ctx.build), "--once"], env=ctx.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    hole = Blackhole()
    times = []
    try:
        for _ in range(ctx.runs):
            process = start_tray(ctx, session, dict(session.env(ctx.env), VELMO_API_URL=hole.url))
            name = session.item_name()
            while name and time.perf_counter() - process.started < 5:
                if "$" in session.tooltip(name):
                    times.append((time.perf_counter() - process.started) * 1000)
                    break
            stop_process(process)
    finally:
        hole.close()
    if times:
        lo, med = minmed(times)
        row("exec → cached figures (tray item)", "min %.1f / median %.1f ms" % (lo, med), "≤ 100 ms", med <= 100)
    else:
        row("exec → cached figures (tray item)", "no figures on the item", "≤ 100 ms", False)

    process = start_tray(ctx, session)
    try:
        name = session.item_name()
        time.sleep(5)
        start = rss_kb(process.pid)
        row("RSS tray after start", "%.1f MB" % (start / 1024), "≤ 35 MB", start / 1024 <= 35,
            memory_note(process.pid))

        # Idle with the panel closed.
        switches, cpu = idle_activity(process.pid, ctx.idle_minutes * 60)
        wakeups, cpu_rate = switches / ctx.idle_minutes, cpu / ctx.idle_minutes
        row("tray idle %g min: wake-ups/min" % ctx.idle_minutes, "%.1f" % wakeups, "≤ 2", wakeups <= 2)
        row("tray idle %g min: CPU ms/min" % ctx.idle_minutes, "%.1f ms" % cpu_rate, "≤ 5 ms", cpu_rate <= 5)

        # Panel: first open, then later opens.
        opens = []
        for _ in range(ctx.runs + 1):
            clicked = time.perf_counter()
            session.activate(name)
            shown = wait_for_frame(process)
            opens.append(None if shown is None else (shown - clicked) * 1000)
            time.sleep(0.5)
            if len(opens) == 1:
                open_rss, open_note = rss_kb(process.pid), memory_note(process.pid)
            session.activate(name)  # closes it again
            time.sleep(0.5)
        first, later = opens[0], [t for t in opens[1:] if t is not None]
        row("panel click → first frame, first", "no frame" if first is None else "%.1f ms" % first, "≤ 250 ms",
            first is not None and first <= 250)
        if later:
            lo, med = minmed(later)
            row("panel click → first frame, later", "min %.1f / median %.1f ms" % (lo, med), "≤ 50 ms", med <= 50)
        else:
            row("panel click → first frame, later", "no frame", "≤ 50 ms", False)
        row("RSS panel open", "%.1f MB" % (open_rss / 1024), "≤ 70 MB", open_rss / 1024 <= 70, open_note)
        time.sleep(120)
        closed = rss_kb(process.pid)
        row("RSS panel closed 2 min", "%.1f MB" % (closed / 1024), "≤ 40 MB", closed / 1024 <= 40,
            memory_note(process.pid))
    finally:
        stop_process(process)
