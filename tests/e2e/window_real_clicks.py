#!/usr/bin/python3
"""The window as a user drives it: the real program on a virtual X screen
(Xvfb), clicked and typed at through the X server (xdotool), against a real
pyftpdlib server on loopback.

    window_real_clicks.py --program PATH [--shots DIR]

Tries a wrong password first (the box tells the server's reply), then
connects, makes a folder, renames and sizes a file, and deletes one: first
answering the question with Return (No, the default: nothing is sent), then
with Alt+Y. Last it closes the window while a slow upload runs, as a window
manager's close button does (WM_DELETE_WINDOW): No carries on, Yes ends the
program and leaves nothing of the upload on the server. Checks the server's
files and the commands it received. With --shots and xwd at hand,
screenshots of the window, the questions and the failed login go into DIR.
Exits 0 when every step did what it should.
"""
import argparse
import ctypes
import ctypes.util
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FTPD = os.path.join(HERE, "..", "servers", "orv_test_ftpd.py")
USER, PASSWORD = "clicker", "click-pass"

# Where the controls are in the window at its first size (804 x 431), as
# the window places them.
SPOTS = {
    "tbFtpUrl": (200, 11), "tbFtpUsr": (200, 30), "tbFtpPwd": (200, 48), "tbFtpText": (540, 49),
    "cbConnect": (154, 70), "cbDisconnect": (254, 70), "cbMkDir": (384, 70), "cbReName": (484, 70), "cbSize": (584, 70),
    "cbDelete": (690, 70), "tbFtpPath": (560, 402), "tbLocalPath": (175, 402), "cbPut": (365, 263),
    # the first row of the local file list
    "lbLocalFiles.0": (262, 114),
    # the folder /pub/made in the remote tree, once /pub is open
    "tvFtpDirs.made": (482, 148),
}


class Failure(Exception):
    pass


def xdo(*args, display):
    r = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True, timeout=30)
    if r.returncode != 0:
        raise Failure(f"xdotool {' '.join(args)}: {r.stderr.strip()}")
    return r.stdout.strip()


def ask_to_close(display, window):
    """Sends the window WM_DELETE_WINDOW, as a window manager's close button
    does (the virtual screen has no window manager)."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    d = x11.XOpenDisplay(display.encode())
    if not d:
        raise Failure(f"cannot open display {display}")
    try:
        e = Event()
        e.xclient.type = 33  # ClientMessage
        e.xclient.window = int(window)
        e.xclient.message_type = x11.XInternAtom(d, b"WM_PROTOCOLS", 0)
        e.xclient.format = 32
        e.xclient.l[0] = x11.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
        if not x11.XSendEvent(d, int(window), 0, 0, ctypes.byref(e)):
            raise Failure("XSendEvent failed")
        x11.XFlush(d)
    finally:
        x11.XCloseDisplay(d)


def wait_for(what, check, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if check():
            return
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what}")


class Session:
    def __init__(self, display, window, log_folder, shots):
        self.display = display
        self.window = window
        self.log_folder = log_folder
        self.shots = shots

    def click(self, control, button="1"):
        x, y = SPOTS[control]
        xdo("mousemove", "--window", self.window, str(x), str(y), "click", button, display=self.display)
        time.sleep(0.1)

    def type_into(self, control, text):
        # Keys go to the window under the pointer: there is no window manager.
        self.click(control)
        xdo("key", "ctrl+a", "BackSpace", display=self.display)
        xdo("type", "--delay", "5", text, display=self.display)

    def drag(self, source, target, shot=None):
        """A real drag with the left button, in small steps, as a hand
        moves the mouse; shot is taken just before the button goes up."""
        (x0, y0), (x1, y1) = SPOTS[source], SPOTS[target]
        xdo("mousemove", "--window", self.window, str(x0), str(y0), "mousedown", "1", display=self.display)
        for step in range(1, 21):
            time.sleep(0.05)
            x, y = x0 + (x1 - x0) * step // 20, y0 + (y1 - y0) * step // 20
            xdo("mousemove", "--window", self.window, str(x), str(y), display=self.display)
        time.sleep(0.3)
        if shot:
            self.shot(shot)
        xdo("mouseup", "1", display=self.display)
        time.sleep(0.2)

    def key(self, *keys):
        xdo("key", *keys, display=self.display)

    def log(self):
        files = glob.glob(os.path.join(self.log_folder, "*.log"))
        return open(files[0], encoding="utf-8", errors="replace").read() if files else ""

    def wait_for_log(self, text, count=1):
        wait_for(f"{text!r} in the log", lambda: self.log().count(text) >= count)

    def shot(self, name, window=None):
        if not self.shots or not all(shutil.which(t) for t in ("xwd", "xwdtopnm", "pnmtopng")):
            return
        os.makedirs(self.shots, exist_ok=True)
        # A window just mapped is painted a moment later.
        time.sleep(0.7)
        env = dict(os.environ, DISPLAY=self.display)
        path = os.path.join(self.shots, name)
        with open(path, "wb") as out:
            subprocess.run(f"xwd {'-id ' + window if window else '-root'} -silent | xwdtopnm 2>/dev/null | pnmtopng",
                           shell=True, env=env, stdout=out, check=True)
        print(f"screenshot {path}")

    def question(self, name="Delete"):
        """The question or message box's window (its title holds name), once
        it is shown."""
        found = []

        def shown():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               env=dict(os.environ, DISPLAY=self.display), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
            found[:] = [w for w in r.stdout.split() if w != self.window]
            return bool(found)

        wait_for("the question", shown)
        return found[0]

    def answer(self, keys, name="Delete"):
        box = self.question(name)
        # The pointer over the box gives it the keys.
        xdo("mousemove", "--window", box, "20", "20", display=self.display)
        time.sleep(0.2)
        self.key(*keys)
        wait_for("the question to close", lambda: not subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", name], env=dict(os.environ, DISPLAY=self.display),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split())


def start_xvfb():
    for number in range(90 + os.getpid() % 50, 200):
        if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1600x900x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{number}") or xvfb.poll() is not None, 10)
        except Failure:
            xvfb.kill()
            raise
        if xvfb.poll() is None:
            return xvfb, f":{number}"
    raise Failure("no free X display")


def run(program, shots):
    work = tempfile.mkdtemp(prefix="orv-clicks.")
    processes = []
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pub"))
        with open(os.path.join(root, "pub", "old.txt"), "w") as f:
            f.write("old")
        with open(os.path.join(root, "pub", "size.bin"), "wb") as f:
            f.write(b"x" * 12345)
        # Names that byte order sorts apart from where people look for them.
        for name, size in (("Stra\u00dfe.csv", 2048), ("big 50MB.iso", 3 << 20), ("\u00fcber uns.html", 900),
                           ("file10.txt", 10), ("file2.txt", 2), ("Umbau.txt", 77)):
            with open(os.path.join(root, "pub", name), "wb") as f:
                f.write(b"n" * size)
        commands = os.path.join(work, "commands")
        ftpd = subprocess.Popen(["/usr/bin/python3", FTPD, "--root", root, "--user", USER, "--password", PASSWORD,
                                 "--commands", commands, "--kind", "slow_upload"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        processes.append(ftpd)
        line = ftpd.stdout.readline()
        if not line.startswith("PORT "):
            raise Failure("the FTP server did not start")
        port = int(line.split()[1])

        xvfb, display = start_xvfb()
        processes.append(xvfb)

        folder = os.path.join(work, "program")
        os.makedirs(folder)
        shutil.copy(program, os.path.join(folder, "OrvFtpUploader"))
        open(os.path.join(folder, "OrvFtpUploader.cfg"), "w").close()
        local = os.path.join(work, "local")
        os.makedirs(local)
        with open(os.path.join(local, "pick.txt"), "w") as f:
            f.write("picked")
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
        app = subprocess.Popen([os.path.join(folder, "OrvFtpUploader")], cwd=local, env=env,
                               stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "program.err"), "w"))
        processes.append(app)
        window = xdo("search", "--sync", "--onlyvisible", "--name", "Orv FTP-Uploader", display=display).split()[0]
        s = Session(display, window, os.path.join(folder, "log"), shots)

        def sent(prefix):
            return any(c.startswith(prefix) for c in open(commands).read().splitlines()) \
                if os.path.exists(commands) else False

        s.type_into("tbFtpUrl", f"127.0.0.1:{port}")
        s.type_into("tbFtpUsr", USER)
        s.type_into("tbFtpPwd", "not-the-password")
        s.click("cbConnect")
        # The box of the refused login tells the server's reply under its text.
        s.shot("window-login-failed.png", s.question("FTP-DIR failed"))
        s.wait_for_log("FTP-DIR failed")
        # The message is one log entry; its parts are parted by CR.
        log = s.log()
        at = log.find("Modul 'FTP-DIR failed'")
        message = log[at:log.find("\n", at)] if at >= 0 else ""
        if "530" not in message.split("\r", 1)[-1] or "not-the-password" in log:
            raise Failure(f"the failed login's message: {message!r}")
        s.answer(["Return"], "FTP-DIR failed")
        s.click("cbDisconnect")

        # The password field takes no Ctrl+A: it is emptied key by key.
        s.click("tbFtpPwd")
        s.key("End", *["BackSpace"] * len("not-the-password"))
        s.type_into("tbFtpPwd", PASSWORD)
        s.click("cbConnect")
        s.wait_for_log("FTP-DIR OK")

        # Enter in the remote path lists the folder: sorted as people sort,
        # each file with its size and date.
        s.type_into("tbFtpPath", "/pub/")
        s.key("Return")
        s.wait_for_log("FTP-DIR OK", 2)
        # Wider, the lists show the dates after the sizes too.
        xdo("windowsize", window, "1500", "600", display=display)
        s.shot("window-sorted-lists.png")
        xdo("windowsize", window, "804", "431", display=display)

        s.type_into("tbFtpPath", "/pub/")
        s.type_into("tbFtpText", "made")
        s.click("cbMkDir")
        wait_for("the new folder", lambda: os.path.isdir(os.path.join(root, "pub", "made")))

        s.type_into("tbFtpPath", "/pub/size.bin")
        s.click("cbSize")
        s.wait_for_log("12345")

        s.type_into("tbFtpPath", "/pub/old.txt")
        s.type_into("tbFtpText", "renamed.txt")
        s.click("cbReName")
        wait_for("the renamed file", lambda: os.path.isfile(os.path.join(root, "pub", "renamed.txt")))
        if os.path.exists(os.path.join(root, "pub", "old.txt")):
            raise Failure("the old name is still there")
        s.shot("window-commands.png")

        s.type_into("tbFtpPath", "/pub/renamed.txt")
        s.click("cbDelete")
        s.shot("window-delete-question.png", s.question())
        s.answer(["Return"])
        time.sleep(1.0)
        if not os.path.isfile(os.path.join(root, "pub", "renamed.txt")) or sent("DELE"):
            raise Failure("No deleted the file")

        s.click("cbDelete")
        s.answer(["alt+y"])
        wait_for("the deleted file", lambda: not os.path.exists(os.path.join(root, "pub", "renamed.txt")))
        if not sent("DELE"):
            raise Failure("the server never saw DELE")

        # A right-click on a local file picks it, as a left click does: the
        # put sends it.
        s.type_into("tbFtpPath", "/pub/")
        s.click("lbLocalFiles.0", "3")
        s.click("cbPut")
        s.wait_for_log("FTP-PUT OK")
        if "FTP Put " + os.path.join(local, "pick.txt") not in s.log() or \
                open(os.path.join(root, "pub", "pick.txt")).read() != "picked":
            raise Failure("the right-click did not pick the file")

        # The listed file is not replaced without a question; No sends
        # nothing.
        def stors():
            return sum(c.startswith("STOR") for c in open(commands).read().splitlines())
        before = stors()
        time.sleep(0.5)
        s.click("lbLocalFiles.0")
        s.click("cbPut")
        s.shot("window-replace-question.png", s.question("Put file to FTP server"))
        s.answer(["Return"], "Put file to FTP server")
        time.sleep(1.0)
        if stors() != before:
            raise Failure("No to the replace question still sent the file")

        # A local file dragged onto a folder of the remote tree goes into
        # that folder.
        s.drag("lbLocalFiles.0", "tvFtpDirs.made", "window-drag-onto-tree.png")
        s.wait_for_log("FTP-PUT 1 of 1 OK")
        if open(os.path.join(root, "pub", "made", "pick.txt")).read() != "picked":
            raise Failure("the dragged file did not arrive in the folder it was dropped on")

        # The tree's context menu fetches a folder whole into the local
        # folder shown: a right-click on the folder, then its one entry.
        s.click("tvFtpDirs.made", button="3")
        time.sleep(0.5)
        x, y = SPOTS["tvFtpDirs.made"]
        xdo("mousemove", "--window", s.window, str(x + 30), str(y + 12), "click", "1", display=s.display)
        s.wait_for_log("FTP-GET 1 of 1 OK")
        if open(os.path.join(local, "made", "pick.txt")).read() != "picked":
            raise Failure("the folder fetched by the tree's menu did not arrive whole")

        # A close while an upload runs asks; No carries on, Yes cancels the
        # upload, removes what arrived of it and ends the program.
        with open(os.path.join(local, "big.bin"), "wb") as f:
            f.write(b"b" * (64 << 20))
        s.type_into("tbLocalPath", os.path.join(local, "big.bin"))
        s.type_into("tbFtpPath", "/pub/")
        s.click("cbPut")
        s.wait_for_log("FTP Put ")
        wait_for("the upload to start", lambda: any(n.endswith(".part") for n in os.listdir(os.path.join(root, "pub"))))
        ask_to_close(display, window)
        s.shot("window-close-question.png", s.question("Close"))
        s.answer(["Return"], "Close")
        time.sleep(1.0)
        if app.poll() is not None or "Close answered No" not in s.log():
            raise Failure("No did not carry on")
        ask_to_close(display, window)
        s.answer(["alt+y"], "Close")
        started = time.monotonic()
        if app.wait(timeout=20) != 0:
            raise Failure(f"the program ended with {app.returncode}")
        if time.monotonic() - started > 5:
            raise Failure("Yes took longer than 5 s to end the program")
        left = os.listdir(os.path.join(root, "pub"))
        if any(n == "big.bin" or n.endswith(".part") for n in left):
            raise Failure(f"the upload left {left} on the server")
        if "Closing while a transfer runs" not in s.log():
            raise Failure("the close did not cancel the transfer")
        print("window_real_clicks: every step did what it should")
        return 0
    except Failure as e:
        print(f"window_real_clicks: {e}", file=sys.stderr)
        for name in ("program.err", "commands"):
            path = os.path.join(work, name)
            if os.path.exists(path):
                print(f"--- {name}\n{open(path, errors='replace').read()}", file=sys.stderr)
        logs = glob.glob(os.path.join(work, "program", "log", "*.log"))
        if logs:
            print(f"--- log\n{open(logs[0], errors='replace').read()}", file=sys.stderr)
        return 1
    finally:
        for p in reversed(processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--shots")
    args = parser.parse_args()
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            print(f"window_real_clicks: {tool} is missing (scripts/install-deps.sh installs it)", file=sys.stderr)
            return 1
    return run(args.program, args.shots)


if __name__ == "__main__":
    sys.exit(main())
