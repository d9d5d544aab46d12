#!/usr/bin/python3
"""Twisted's FTP server (twisted.protocols.ftp) for one test, on loopback only.

    orv_twisted_ftpd.py --root DIR --user NAME --password PASS

Serves DIR as "/" to one account and prints "PORT <n>" once it listens on
127.0.0.1. The control port and every passive data port are bound to
127.0.0.1 (the server's own command-line form binds every interface).
"""
import argparse
import sys

from twisted.cred.checkers import InMemoryUsernamePasswordDatabaseDontUse
from twisted.cred.portal import IRealm, Portal
from twisted.internet import reactor
from twisted.protocols.ftp import FTP, FTPFactory, FTPShell, IFTPShell
from twisted.python.filepath import FilePath
from zope.interface import implementer

LOOPBACK = "127.0.0.1"


@implementer(IRealm)
class OneRootRealm:
    def __init__(self, root):
        self.root = FilePath(root)

    def requestAvatar(self, avatarId, mind, *interfaces):
        for interface in interfaces:
            if interface is IFTPShell:
                return IFTPShell, FTPShell(self.root), lambda: None
        raise NotImplementedError("only FTP shells")


class LoopbackFTP(FTP):
    def listenFactory(self, port, factory):
        return reactor.listenTCP(port, factory, interface=LOOPBACK)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    args = parser.parse_args()
    checker = InMemoryUsernamePasswordDatabaseDontUse()
    # The protocol hands the checker the user's texts as it read them.
    checker.addUser(args.user, args.password)
    checker.addUser(args.user.encode(), args.password.encode())
    factory = FTPFactory(Portal(OneRootRealm(args.root), [checker]))
    factory.allowAnonymous = False
    factory.protocol = LoopbackFTP
    port = reactor.listenTCP(0, factory, interface=LOOPBACK)
    print(f"PORT {port.getHost().port}", flush=True)
    reactor.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
