#!/usr/bin/python3
"""Soak: many consecutive unattended alarm runs against one FTP server.

Each run delivers a message and a local file with content of its own; every
delivered file is checked on the server. Between runs the script watches for
leaks: the server's open descriptors, the program's descriptors during a run,
the size of the settings file, and one log file per run.

    bench/soak.py [--runs N] [--streams S] [--program build/OrvFtpUploader]

The streams run side by side, each one run after another in its own program
folder; all of them talk to the same server. Results go to standard output
and, as a table, to bench/SOAK.md.
"""
import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "servers"))
import orv_test_ftpd  # noqa: E402  (the project's loopback FTP server)

USER, PASSWORD = "soak", "soak-pass"


def fd_count(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None


class Stream:
    def __init__(self, index, work, program, port, root):
        self.index = index
        self.folder = os.path.join(work, f"stream{index}")
        self.remote = os.path.join(root, f"s{index}")
        os.makedirs(self.folder)
        os.makedirs(self.remote)
        shutil.copy2(program, self.folder)
        open(os.path.join(self.folder, "OrvFtpUploader.cfg"), "wb").close()
        self.port = port
        self.failures = []
        self.durations = []
        self.fds = []
        self.cfg_sizes = set()

    def run_once(self, n):
        local = os.path.join(self.folder, f"file{n}.txt")
        content = f"stream {self.index} run {n}\n".encode() * 50
        with open(local, "wb") as f:
            f.write(content)
        cmd = [os.path.join(self.folder, "OrvFtpUploader"), f"ftpurl=127.0.0.1:{self.port}",
               f"ftpusr={USER}", f"ftppwd={PASSWORD}", f"ftppath=s{self.index}",
               f"msg=soak {self.index}/{n}", f"localpath={local}"]
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        logs_before = set(os.listdir(os.path.join(self.folder, "log"))) if n else set()
        t0 = time.monotonic()
        proc = subprocess.Popen(cmd, cwd=self.folder, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(3)  # inside the long wait after the last upload
        self.fds.append(fd_count(proc.pid))
        status = proc.wait(timeout=120)
        self.durations.append(time.monotonic() - t0)
        os.remove(local)

        problems = []
        if status != 0:
            problems.append(f"exit status {status}")
        new_logs = set(os.listdir(os.path.join(self.folder, "log"))) - logs_before
        if len(new_logs) != 1:
            problems.append(f"{len(new_logs)} new log files")
        else:
            stamp = next(iter(new_logs))[:-4]
            with open(os.path.join(self.folder, "log", stamp + ".log"), "rb") as f:
                if not f.read().endswith(b"terminated normally\r\n"):
                    problems.append("log does not end normally")
            msg_path = os.path.join(self.remote, stamp + ".msg")
            try:
                with open(msg_path, "rb") as f:
                    if not f.read().startswith(f"soak {self.index}/{n}\r\nZeit ".encode()):
                        problems.append("message file content")
                os.remove(msg_path)
            except OSError:
                problems.append("message file missing")
        remote_file = os.path.join(self.remote, f"file{n}.txt")
        try:
            with open(remote_file, "rb") as f:
                if f.read() != content:
                    problems.append("uploaded file differs")
            os.remove(remote_file)
        except OSError:
            problems.append("uploaded file missing")
        self.cfg_sizes.add(os.path.getsize(os.path.join(self.folder, "OrvFtpUploader.cfg")))
        if problems:
            self.failures.append((n, problems))

    def run(self, count):
        for n in range(count):
            self.run_once(n)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--streams", type=int, default=4)
    parser.add_argument("--program", default="build/OrvFtpUploader")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="orvsoak.")
    root = os.path.join(work, "ftproot")
    os.makedirs(root)
    try:
        server, port = orv_test_ftpd.launch(root, USER, PASSWORD)
    except RuntimeError as e:
        sys.exit(str(e))
    server_fds_before = fd_count(server.pid)
    streams = [Stream(i, work, args.program, port, root) for i in range(args.streams)]
    per_stream = [args.runs // args.streams + (1 if i < args.runs % args.streams else 0) for i in range(args.streams)]
    started = time.monotonic()
    threads = [threading.Thread(target=s.run, args=(c,)) for s, c in zip(streams, per_stream)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - started
    time.sleep(1)
    server_fds_after = fd_count(server.pid)
    server.terminate()
    server.wait()

    runs = sum(len(s.durations) for s in streams)
    failures = [(s.index, n, p) for s in streams for n, p in s.failures]
    durations = [d for s in streams for d in s.durations]
    fds = [f for s in streams for f in s.fds if f is not None]
    cfg_sizes = sorted(set().union(*(s.cfg_sizes for s in streams)))
    leftovers = sum(len(files) for _, _, files in os.walk(root))
    lines = [
        f"# Soak of unattended runs, {datetime.date.today().isoformat()}",
        "",
        f"Machine: {platform.node()}, {os.cpu_count()} cores, {platform.platform()}",
        f"{runs} runs in {args.streams} streams against one pyftpdlib server, {elapsed / 60:.1f} min in all.",
        "",
        "| figure | value |",
        "| --- | --- |",
        f"| runs that failed a check | {len(failures)} |",
        f"| run time median / min / max (s) | {statistics.median(durations):.2f} / {min(durations):.2f} / {max(durations):.2f} |",
        f"| program descriptors during a run, min / max | {min(fds)} / {max(fds)} |",
        f"| server descriptors before / after | {server_fds_before} / {server_fds_after} |",
        f"| settings file sizes seen (bytes) | {', '.join(map(str, cfg_sizes))} |",
        f"| files left on the server (all checked and removed) | {leftovers} |",
    ]
    for index, n, problems in failures[:20]:
        lines.append(f"- stream {index} run {n}: {', '.join(problems)}")
    report = "\n".join(lines) + "\n"
    print(report)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "SOAK.md"), "w") as f:
        f.write(report)
    shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
