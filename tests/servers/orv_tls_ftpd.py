"""FTP servers over TLS for the tests: pyftpdlib's TLS handler with a
temporary root and one user, recording logins and commands like the plain
servers of orv_test_ftpd.py.

Usage: orv_tls_ftpd.py --root DIR --user U --password P --certfile PEM
                       --keyfile PEM [--host H] [--kind KIND]
                       [--logins FILE] [--commands FILE]

Kinds: explicit (AUTH TLS required before the login, PROT P before any data
connection), implicit (TLS from the first byte), explicit_no_prot (AUTH TLS,
but data connections are only offered in plain text), explicit_short_idle
(explicit, dropping sessions idle for a second).

Prints "PORT <n>" on standard output once the server listens.
"""

import sys

from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

from orv_test_ftpd import RecordingHandler, serve


class EarlyHandshakeDTPHandler(TLS_DTPHandler):
    """Lets a client start the data connection's TLS handshake before it
    sends the transfer command, as libcurl does. pyftpdlib 1.5.7 takes the
    waiting handshake for a connection that went away and resets it."""

    def readable(self):
        return self._ssl_accepting or super().readable()


class ExplicitTlsHandler(RecordingHandler, TLS_FTPHandler):
    """Refuses USER and PASS before AUTH TLS, and data connections before
    PROT P, so that nothing can pass in plain text."""

    tls_control_required = True
    tls_data_required = True
    dtp_handler = EarlyHandshakeDTPHandler


class ImplicitTlsHandler(ExplicitTlsHandler):
    """Starts TLS as soon as the connection is accepted; greets only over
    TLS."""

    def handle(self):
        self.secure_connection(self.ssl_context)

    def handle_ssl_established(self):
        super().handle()


class ShortIdleTlsHandler(ExplicitTlsHandler):
    """Drops a control connection that has been idle for a second."""

    timeout = 1


class NoProtHandler(RecordingHandler, TLS_FTPHandler):
    """Secures the control connection but refuses protected data
    connections."""

    tls_control_required = True
    dtp_handler = EarlyHandshakeDTPHandler

    def ftp_PROT(self, line):
        if line.upper() == "P":
            self.respond("534 Protected data connections are not available.")
        else:
            super().ftp_PROT(line)


KINDS = {
    "explicit": ExplicitTlsHandler,
    "implicit": ImplicitTlsHandler,
    "explicit_no_prot": NoProtHandler,
    "explicit_short_idle": ShortIdleTlsHandler,
}


def add_certificate_arguments(parser):
    parser.add_argument("--certfile", required=True)
    parser.add_argument("--keyfile", required=True)


def use_certificate(handler, args):
    handler.certfile = args.certfile
    handler.keyfile = args.keyfile


def main():
    serve(KINDS, "explicit", add_certificate_arguments, use_certificate)


if __name__ == "__main__":
    sys.exit(main())
