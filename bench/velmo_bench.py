"""Shared pieces of the benchmark and soak scripts: a scratch home, the
devserver and its admin API, the app's processes and what /proc says about
them. Standard library only."""

import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import time
import urllib.request


class Scratch:
    """A HOME of its own, so nothing of the user's session, settings or
    cache is touched; removed at the end."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="velmo-bench-")
        self.home = os.path.join(self.root, "home")
        os.makedirs(os.path.join(self.home, ".velmo"))

    @property
    def tokens_file(self):
        return os.path.join(self.home, ".velmo", "tokens.json")

    @property
    def cache_file(self):
        return os.path.join(self.root, "data", "VelmoUsage", "snapshot.json")

    def env(self, api_url):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("DBUS_", "VELMO_", "XDG_"))}
        env.update(
            HOME=self.home,
            XDG_CONFIG_HOME=os.path.join(self.root, "config"),
            XDG_DATA_HOME=os.path.join(self.root, "data"),
            XDG_CACHE_HOME=os.path.join(self.root, "cache"),
            XDG_RUNTIME_DIR=self.root,
            VELMO_API_URL=api_url,
            VELMO_AUTH_URL=api_url,
            # No session bus: sessions come from the CLI token file, never the
            # user's keyring.
            DBUS_SESSION_BUS_ADDRESS="disabled:",
        )
        return env

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


class DevServer:
    def __init__(self, build, scratch, *extra):
        binary = os.path.join(build, "tools", "devserver", "velmo-devserver")
        self.process = subprocess.Popen(
            [binary, "--port", "0", "--quiet", "--write-cli-tokens", scratch.tokens_file, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.process.stdout.readline())
        self.url = "http://127.0.0.1:%d" % self.port
        self.scratch = scratch

    def admin(self, path, body=None, method=None):
        data = None if body is None else json.dumps(body).encode()
        method = method or ("GET" if body is None and path in ("/admin/counters", "/admin/state") else "POST")
        request = urllib.request.Request(self.url + path, data=data if method == "POST" else None, method=method)
        if method == "POST":
            request.add_header("Content-Type", "application/json")
            if data is None:
                request.data = b"{}"
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.loads(answer.read())

    def requests(self, endpoint):
        return self.admin("/admin/counters")["requests"].get(endpoint, 0)

    def latency(self, ms, endpoint="*"):
        self.admin("/admin/latency", {"ms": ms, "endpoint": endpoint})

    def new_session(self):
        """A fresh session written as the CLI token file (after a reset)."""
        tokens = self.admin("/admin/session", {})["cli_tokens"]
        with open(self.scratch.tokens_file, "w") as f:
            json.dump(tokens, f)
            f.write("\n")
        os.chmod(self.scratch.tokens_file, 0o600)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class Blackhole:
    """A port that takes connections and never answers: a network that
    swallows every request."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(512)
        self.url = "http://127.0.0.1:%d" % self.socket.getsockname()[1]

    def close(self):
        self.socket.close()


def app_binary(build):
    return os.path.join(build, "src", "velmo-usage")


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def memory_note(pid):
    """Where resident memory lives: the process's own (anonymous) pages versus
    library pages that every Qt process on the desktop shares (PSS splits them)."""
    fields = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("Pss", "Anonymous"):
                fields[key] = int(value.split()[0]) / 1024
    return "anonymous %.1f MB, PSS %.1f MB" % (fields.get("Anonymous", 0), fields.get("Pss", 0))


def thread_activity(pid):
    """Per thread id: (switches, CPU ns). Switches are voluntary plus
    involuntary, each one a wake-up; CPU comes from schedstat, which counts
    nanoseconds where utime/stime charge whole clock ticks to whoever runs
    when one fires."""
    out = {}
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, task)) as f:
                switches = sum(int(line.split()[1]) for line in f
                               if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")))
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                cpu = int(f.read().split()[0])
            out[task] = (switches, cpu)
        except (FileNotFoundError, ProcessLookupError):
            pass
    return out


def idle_activity(pid, seconds):
    """Wake-ups and CPU ms of every thread over `seconds`, sampled each second
    so that a thread which ends meanwhile (Qt's pooled threads expire when
    idle) still counts up to its last sample instead of taking its count with
    it. Threads born during the window count from zero."""
    first = thread_activity(pid)
    last = dict(first)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        time.sleep(min(1.0, max(0.0, deadline - time.monotonic())))
        last.update(thread_activity(pid))
    switches = sum(s - first.get(tid, (0, 0))[0] for tid, (s, _) in last.items())
    cpu_ns = sum(c - first.get(tid, (0, 0))[1] for tid, (_, c) in last.items())
    return switches, cpu_ns / 1e6


def stop_process(process, timeout=12):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


def minmed(values):
    return min(values), statistics.median(values)
