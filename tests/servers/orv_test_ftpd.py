"""FTP servers for the tests: pyftpdlib with a temporary root and one user,
plus handler variants that misbehave in the ways real servers do.

Usage: orv_test_ftpd.py --root DIR --user U --password P [--host H]
                        [--kind KIND] [--logins FILE] [--commands FILE]

Prints "PORT <n>" on standard output once the server listens.
"""

import argparse
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import BufferedIteratorProducer, DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.log import logger
from pyftpdlib.servers import FTPServer


class RecordingHandler(FTPHandler):
    """Counts logins and records the commands it receives (passwords
    masked) in files the test can read."""

    logins_file = None
    commands_file = None
    auth_failed_timeout = 0.05
    # Names are bytes: a name that is not UTF-8 reaches the file system and
    # goes back into listings as the bytes the client sent, as on servers
    # that take no notice of encodings.
    unicode_errors = "surrogateescape"

    def push(self, s):
        # Replies name paths too; they go out in the bytes that came in.
        super(FTPHandler, self).push(s.encode("utf8", self.unicode_errors))

    def on_login(self, username):
        if self.logins_file:
            with open(self.logins_file, "a", encoding="utf-8") as f:
                f.write(username + "\n")

    def pre_process_command(self, line, cmd, arg):
        if self.commands_file:
            shown = "PASS ***" if cmd == "PASS" else line
            with open(self.commands_file, "a", encoding="utf-8",
                      errors="replace") as f:
                f.write(shown + "\n")
        return super().pre_process_command(line, cmd, arg)


class RefuseLoginHandler(RecordingHandler):
    """Turns every session away before login."""

    def handle(self):
        self.respond("421 Service not available, closing control connection.")
        self.close_when_done()


class Stor552Handler(RecordingHandler):
    def ftp_STOR(self, file, mode="w"):
        self.respond("552 Requested file action aborted. Exceeded storage allocation.")


class Stor553Handler(RecordingHandler):
    def ftp_STOR(self, file, mode="w"):
        self.respond("553 Requested action not taken. File name not allowed.")


class NeverAnswerHandler(RecordingHandler):
    """Accepts the connection and then says nothing at all."""

    def handle(self):
        pass

    def found_terminator(self):
        self._in_buffer = []
        self._in_buffer_len = 0


class MuteAfterLoginHandler(RecordingHandler):
    """Logs the client in, then leaves every further command unanswered."""

    def pre_process_command(self, line, cmd, arg):
        if self.authenticated and cmd not in ("TYPE", "PWD"):
            return None
        return super().pre_process_command(line, cmd, arg)


class NoQuitReplyHandler(RecordingHandler):
    """Serves as usual but leaves QUIT unanswered and the session open."""

    def ftp_QUIT(self, line):
        pass


class DroppingDTPHandler(DTPHandler):
    """Sends the first part of a file, then drops the data connection.
    Kinds that drop only some downloads, or end them otherwise, say so in
    dropping() and stop()."""

    drop_after = 65536

    def use_sendfile(self):
        return False

    def dropping(self):
        return True

    def stop(self):
        self.handle_close()

    def send(self, data):
        if not self.dropping():
            return super().send(data)
        room = self.drop_after - self.tot_bytes_sent
        if room <= 0:
            self.stop()
            return 0
        return super().send(data[:room])


class DropDataHandler(RecordingHandler):
    dtp_handler = DroppingDTPHandler


class DropFirstUploadDTPHandler(DTPHandler):
    """Breaks off the server's first upload after 64 KiB with a 426; later
    uploads go through."""

    dropped = False

    def handle_read(self):
        super().handle_read()
        cls = DropFirstUploadDTPHandler
        if self.receive and not cls.dropped and self.tot_bytes_received > 65536:
            cls.dropped = True
            self.transfer_finished = False
            self._resp = ("426 Connection closed; transfer aborted.", logger.debug)
            self.close()

    # The base class reads through this name directly.
    handle_read_event = handle_read


class DropFirstUploadHandler(RecordingHandler):
    dtp_handler = DropFirstUploadDTPHandler


class BreakFirstTransfersDTPHandler(DropFirstUploadDTPHandler, DroppingDTPHandler):
    """Breaks off the server's first upload as drop_first_upload does, and
    drops its first download after 64 KiB as drop_data does; later
    transfers go through."""

    download_dropped = False

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        self.drops = None

    def dropping(self):
        cls = BreakFirstTransfersDTPHandler
        if self.drops is None:
            self.drops = not cls.download_dropped
            cls.download_dropped = True
        return self.drops


class DropSecondDownloadDTPHandler(DroppingDTPHandler):
    """Ends the server's second download after 64 KiB and calls it
    complete (226); the others go through."""

    downloads = 0

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        self.drops = None

    def dropping(self):
        cls = DropSecondDownloadDTPHandler
        if self.drops is None:
            cls.downloads += 1
            self.drops = cls.downloads == 2
        return self.drops

    def stop(self):
        self.transfer_finished = True
        self._resp = ("226 Transfer complete.", logger.debug)
        self.close()


class AnnounceSizeHandler(RecordingHandler):
    """Tells a download's size in the reply that opens it, as vsftpd and
    ProFTPD do ("150 ... (1234 bytes)."), and sends only 64 KiB of its
    second download, which it calls complete."""

    dtp_handler = DropSecondDownloadDTPHandler

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if file is None:
            return super().push_dtp_data(data, isproducer, file, cmd)
        size = os.fstat(file.fileno()).st_size
        respond = self.respond
        self.respond = lambda text, *a, **k: respond(text.rstrip(".") + " (%d bytes)." % size, *a, **k)
        try:
            return super().push_dtp_data(data, isproducer, file, cmd)
        finally:
            self.respond = respond


class NoResumeHandler(RecordingHandler):
    """Breaks off its first upload and its first download, and refuses to
    go on with a file from any byte: REST and APPE are answered with 502."""

    dtp_handler = BreakFirstTransfersDTPHandler

    def ftp_REST(self, line):
        self.respond("502 REST not implemented.")

    def ftp_APPE(self, file):
        self.respond("502 APPE not implemented.")


class NoMkdHandler(RecordingHandler):
    def ftp_MKD(self, path):
        self.respond("550 Creating folders is not allowed.")


class NoRenameHandler(RecordingHandler):
    def ftp_RNFR(self, path):
        self.respond("550 Renaming is not allowed.")


class WrongSizeHandler(RecordingHandler):
    """Stores uploads whole but tells a size of one byte."""

    def ftp_SIZE(self, path):
        self.respond("213 1")


class NoConfirmDTPHandler(DTPHandler):
    """Completes the data transfer but never sends the final reply."""

    def handle_close(self):
        if not self._closed:
            self.transfer_finished = True
            self.close()


class NoConfirmHandler(RecordingHandler):
    dtp_handler = NoConfirmDTPHandler


class ShortIdleHandler(RecordingHandler):
    """Drops a control connection that has been idle for a second, as
    servers do after their idle time-out."""

    timeout = 1


class TrickleDTPHandler(DTPHandler):
    """Sends small pieces with pauses between them, never stopping long."""

    piece = 1024
    pause = 0.15

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        self._resume = None

    def use_sendfile(self):
        return False

    def send(self, data):
        sent = super().send(data[:self.piece])
        if sent:
            self.del_channel()
            self._resume = self.ioloop.call_later(
                self.pause, self._continue, _errback=self.handle_error)
        return sent

    def _continue(self):
        self.add_channel(events=self.ioloop.WRITE)

    def close(self):
        if self._resume is not None and not self._resume.cancelled:
            self._resume.cancel()
        super().close()


class TrickleHandler(RecordingHandler):
    dtp_handler = TrickleDTPHandler


class SlowUploadDTPHandler(ThrottledDTPHandler):
    """Takes uploads in at 256 KiB a second."""

    read_limit = 256 * 1024


class SlowUploadHandler(RecordingHandler):
    dtp_handler = SlowUploadDTPHandler


class CloseControlHandler(RecordingHandler):
    """Accepts an upload, then closes the control connection while the data
    still flows."""

    def ftp_STOR(self, file, mode="w"):
        result = super().ftp_STOR(file, mode)
        self.ioloop.call_later(0, self.close, _errback=self.handle_error)
        return result


class CloseControlOnBrokenHandler(RecordingHandler):
    """As close_control, for uploads whose name holds "broken" only."""

    def ftp_STOR(self, file, mode="w"):
        result = super().ftp_STOR(file, mode)
        if "broken" in os.path.basename(file):
            self.ioloop.call_later(0, self.close, _errback=self.handle_error)
        return result


def without_mlsd(handler):
    cmds = dict(handler.proto_cmds)
    cmds.pop("MLSD", None)
    cmds.pop("MLST", None)
    return cmds


class UnixListHandler(RecordingHandler):
    """A server that only knows LIST, in the Unix "ls -l" form."""

    proto_cmds = without_mlsd(RecordingHandler)


class DosListFS(AbstractedFS):
    """Lists folders the way Windows (IIS) FTP servers do."""

    def format_list(self, basedir, listing, ignore_err=True):
        for name in listing:
            path = os.path.join(basedir, name)
            try:
                st = self.lstat(path)
            except OSError:
                if ignore_err:
                    continue
                raise
            stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
            if self.isdir(path):
                line = "%s       <DIR>          %s\r\n" % (stamp, name)
            else:
                line = "%s %20d %s\r\n" % (stamp, st.st_size, name)
            yield line.encode("utf8", self.cmd_channel.unicode_errors)


class DosListHandler(RecordingHandler):
    proto_cmds = without_mlsd(RecordingHandler)
    abstracted_fs = DosListFS


# Hostile servers: each sends what no real server does, without end where
# it can, to show that the client's memory and time stay bounded.

class EndlessListingHandler(RecordingHandler):
    """Answers MLSD with data that never ends, made by listing_chunks: a
    generator of byte strings."""

    @staticmethod
    def listing_chunks():
        while True:
            yield b"x" * 65536

    def ftp_MLSD(self, path):
        self.push_dtp_data(BufferedIteratorProducer(self.listing_chunks()), isproducer=True, cmd="MLSD")
        return path


class EndlessLineHandler(EndlessListingHandler):
    """One MLSD line that never ends: no line break ever comes."""


def endless_lines():
    n = 0
    while True:
        chunk = []
        for _ in range(1000):
            chunk.append(b"type=file;size=1; f%d\r\n" % n)
            n += 1
        yield b"".join(chunk)


class EndlessEntriesHandler(EndlessListingHandler):
    """An endless MLSD listing of short lines."""

    listing_chunks = staticmethod(endless_lines)


class PacedDTPHandler(TrickleDTPHandler):
    """Sends one piece of an endless listing, then pauses."""

    def use_sendfile(self):
        return False


class TrickleListingDTPHandler(PacedDTPHandler):
    piece = 1
    pause = 1.0


class TrickleListingHandler(EndlessEntriesHandler):
    """An endless listing at one byte a second."""

    dtp_handler = TrickleListingDTPHandler


class DripLinesDTPHandler(PacedDTPHandler):
    piece = len(b"type=file;size=1; f100000\r\n")
    pause = 0.01


class DripLinesHandler(EndlessEntriesHandler):
    """An endless listing at about a hundred lines a second."""

    dtp_handler = DripLinesDTPHandler


class EndlessProducer(object):
    def __init__(self, chunk):
        self.chunk = chunk

    def more(self):
        return self.chunk


class EndlessReplyHandler(RecordingHandler):
    """Answers PWD with a multi-line reply whose lines never end."""

    reply_chunk = b"257-still talking\r\n" * 4096

    def ftp_PWD(self, line):
        self.push_with_producer(EndlessProducer(self.reply_chunk))


class EndlessReplyLineHandler(EndlessReplyHandler):
    """Answers PWD with one reply line that never ends."""

    reply_chunk = b"7" * 65536


class DripReplyHandler(RecordingHandler):
    """Answers PWD with a multi-line reply of one line a second, without
    end."""

    _drip = None

    def ftp_PWD(self, line):
        self._drip_line()

    def _drip_line(self):
        if not self.connected:
            return
        self.push("257-still talking\r\n")
        self._drip = self.ioloop.call_later(1.0, self._drip_line, _errback=self.handle_error)

    def close(self):
        if self._drip is not None and not self._drip.cancelled:
            self._drip.cancel()
        super().close()


class LyingSizeHandler(RecordingHandler):
    """Tells a size beyond any file."""

    def ftp_SIZE(self, path):
        self.respond("213 99999999999999999999999999")


class BadPasvHandler(RecordingHandler):
    """Refuses EPSV and answers PASV with numbers that are no address."""

    def ftp_EPSV(self, line):
        self.respond("500 EPSV not understood.")

    def ftp_PASV(self, line):
        self.respond("227 Entering Passive Mode (999,0,0,1,999,999).")


# Names that are no plain names, each after the facts of a file or folder,
# and two plain ones.
HOSTILE_NAMES = [
    b"type=file;size=1; ../../evil.txt",
    b"type=file;size=1; /etc/evil",
    b"type=dir; a/b",
    b"type=file;size=1; back\\..\\..\\evilbs",
    b"type=file;size=1; cr\rname.txt",
    b"type=file;size=1; nul\0name.txt",
    b"type=file;size=1; ..",
    b"type=file;size=1; .",
    b"type=file;size=1; good.txt",
    b"type=dir; goodfolder",
]


class HostileNamesHandler(EndlessListingHandler):
    """Lists names holding "/", "\\", CR and NUL, and files "." and ".."."""

    @staticmethod
    def listing_chunks():
        yield b"".join(line + b"\r\n" for line in HOSTILE_NAMES)


KINDS = {
    "normal": RecordingHandler,
    "refuse_login": RefuseLoginHandler,
    "stor_552": Stor552Handler,
    "stor_553": Stor553Handler,
    "never_answer": NeverAnswerHandler,
    "mute_after_login": MuteAfterLoginHandler,
    "no_quit_reply": NoQuitReplyHandler,
    "drop_first_upload": DropFirstUploadHandler,
    "no_mkd": NoMkdHandler,
    "no_rename": NoRenameHandler,
    "wrong_size": WrongSizeHandler,
    "starts_late": RecordingHandler,
    "drop_data": DropDataHandler,
    "no_resume": NoResumeHandler,
    "announce_size": AnnounceSizeHandler,
    "trickle": TrickleHandler,
    "slow_upload": SlowUploadHandler,
    "close_control": CloseControlHandler,
    "close_control_on_broken": CloseControlOnBrokenHandler,
    "no_confirm": NoConfirmHandler,
    "short_idle": ShortIdleHandler,
    "unix_list": UnixListHandler,
    "dos_list": DosListHandler,
    "endless_line": EndlessLineHandler,
    "endless_listing": EndlessEntriesHandler,
    "trickle_listing": TrickleListingHandler,
    "drip_lines": DripLinesHandler,
    "endless_reply": EndlessReplyHandler,
    "endless_reply_line": EndlessReplyLineHandler,
    "drip_reply": DripReplyHandler,
    "lying_size": LyingSizeHandler,
    "bad_pasv": BadPasvHandler,
    "hostile_names": HostileNamesHandler,
}


def end_with_parent():
    """Ends this server when the test that started it ends, however it ends."""
    import ctypes
    import signal
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def serve(kinds, default_kind, add_arguments=None, configure=None):
    """Runs the server of the kind the command line names until it is ended;
    the first line on standard output is "PORT <port>"."""
    end_with_parent()
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--kind", default=default_kind, choices=sorted(kinds))
    parser.add_argument("--logins")
    parser.add_argument("--commands")
    if add_arguments:
        add_arguments(parser)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = kinds[args.kind]
    handler.authorizer = authorizer
    handler.logins_file = args.logins
    handler.commands_file = args.commands
    if configure:
        configure(handler, args)

    if args.kind == "starts_late":
        # The port is taken but refuses connections for three seconds, as
        # a router that is still booting does.
        import socket
        family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
        sock = socket.socket(family, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((args.host, 0))
        print("PORT %d" % sock.getsockname()[1], flush=True)
        time.sleep(3)
        sock.listen(5)
        server = FTPServer(sock, handler)
    else:
        server = FTPServer((args.host, 0), handler)
        print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever()


def launch(root, user, password, kind="normal"):
    """Starts this server in a process of its own, for scripts that need an
    FTP server on loopback; returns the process and its port. The server
    ends with the process that started it."""
    import subprocess
    server = subprocess.Popen(["/usr/bin/python3", os.path.abspath(__file__), "--root", root, "--user", user,
                               "--password", password, "--kind", kind],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if not line.startswith("PORT "):
        server.kill()
        server.wait()
        raise RuntimeError("the FTP server did not start")
    return server, int(line.split()[1])


def main():
    serve(KINDS, "normal")


if __name__ == "__main__":
    sys.exit(main())
