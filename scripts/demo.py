#!/usr/bin/python3
"""Shows the program's main job: an unattended alarm delivery.

Starts an FTP server on a loopback port (pyftpdlib, a temporary root, a demo
user), draws an alarm image, and starts the program twice the way an alarm
system would: once with a message and the image, once with a local file.
Then prints where each file landed, each run's log and its exit status.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "servers"))
import orv_test_ftpd  # noqa: E402  (the project's loopback FTP server)

USER, PASSWORD = "alarm", "demo-pass"


def draw_alarm_png(path, size=64):
    """A red warning triangle with a black exclamation mark on white."""
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter type 0
        for x in range(size):
            half = (y * 0.5) + 1
            inside = y >= 6 and abs(x - size / 2) <= half * 0.9 and y <= size - 6
            mark = inside and abs(x - size / 2) < 3 and (20 <= y <= 42 or 47 <= y <= 52)
            row += bytes((0, 0, 0) if mark else (220, 20, 20) if inside else (255, 255, 255))
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def run_alarm(program_folder, port, args, title):
    print(f"\n=== {title}")
    cmd = [os.path.join(program_folder, "OrvFtpUploader"),
           f"ftpurl=127.0.0.1:{port}", f"ftpusr={USER}", f"ftppwd={PASSWORD}"] + args
    shown = " ".join(a if " " not in a else f'"{a}"' for a in cmd).replace(PASSWORD, "***")
    print("$", shown)
    log_folder = os.path.join(program_folder, "log")
    before = set(os.listdir(log_folder)) if os.path.isdir(log_folder) else set()
    status = subprocess.run(cmd, cwd=program_folder, stderr=subprocess.DEVNULL).returncode
    new_logs = sorted(set(os.listdir(log_folder)) - before)
    if new_logs:
        print(f"--- log {os.path.join(log_folder, new_logs[-1])}")
        with open(os.path.join(log_folder, new_logs[-1]), "rb") as f:
            for line in f.read().decode("utf-8", "replace").split("\r\n"):
                if line:
                    print("   ", line.replace("\r", " | "))
    print(f"--- exit status {status}")
    return status


def main():
    build_program = sys.argv[1] if len(sys.argv) > 1 else "build/OrvFtpUploader"
    work = tempfile.mkdtemp(prefix="orvdemo.")
    root = os.path.join(work, "ftproot")
    program_folder = os.path.join(work, "program")
    os.makedirs(os.path.join(root, "alarms"))
    os.makedirs(program_folder)
    shutil.copy2(build_program, program_folder)
    open(os.path.join(program_folder, "OrvFtpUploader.cfg"), "wb").close()
    image = os.path.join(work, "camera1.png")
    draw_alarm_png(image)
    report = os.path.join(work, "report.txt")
    with open(report, "w") as f:
        f.write("Hall 2: smoke detector 7 triggered\n")

    try:
        server, port = orv_test_ftpd.launch(root, USER, PASSWORD)
    except RuntimeError as e:
        sys.exit(str(e))
    print(f"Demo FTP server on 127.0.0.1:{port}, root {root}, user {USER}")
    if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        print("No display: the runs go out headless (with a display you would see the window work).")
    try:
        statuses = [
            run_alarm(program_folder, port,
                      ["ftppath=alarms", "msg=Fire in hall 2\\nSmoke detector 7", f"alarmimg={image}"],
                      "Alarm run: message and image"),
            run_alarm(program_folder, port, ["ftppath=alarms", f"localpath={report}"],
                      "Alarm run: a local file"),
        ]
    finally:
        server.terminate()
        server.wait()

    print("\n=== Files on the FTP server")
    for folder, _, files in os.walk(root):
        for name in sorted(files):
            path = os.path.join(folder, name)
            print(f"  /{os.path.relpath(path, root)}  ({os.path.getsize(path)} bytes)")
    msgs = [n for n in os.listdir(os.path.join(root, "alarms")) if n.endswith(".msg")]
    for name in msgs:
        with open(os.path.join(root, "alarms", name), "rb") as f:
            print(f"\n--- /alarms/{name}:\n" + f.read().decode("utf-8", "replace").replace("\r\n", "\n"))
    print(f"\nEverything of this demo is in {work}")
    return 0 if statuses == [0, 0] else 1


if __name__ == "__main__":
    sys.exit(main())
