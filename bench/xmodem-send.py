#!/usr/bin/python3
"""Sends a file with the XModem sender of python3-xmodem (a Debian package),
over the terminal on its standard input and output: one of the peers the
transfer benchmark measures the tool beside. Exits 0 when the receiver took
the whole file."""
import os
import select
import sys
import tty

from xmodem import XMODEM

FD = 0


def getc(size, timeout=1):
    data = b""
    while len(data) < size:
        ready, _, _ = select.select([FD], [], [], timeout)
        if not ready:
            return None
        chunk = os.read(FD, size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def putc(data, timeout=1):
    view = memoryview(data)
    while view:
        view = view[os.write(FD, view):]
    return len(data)


def main():
    tty.setraw(FD)
    with open(sys.argv[1], "rb") as stream:
        sent = XMODEM(getc, putc).send(stream, quiet=True)
    return 0 if sent else 1


if __name__ == "__main__":
    sys.exit(main())
