#!/usr/bin/python3
# An SFTP server (protocol version 3) on standard input and output for tests, run by sshd in
# place of its own: it serves the folder named first well enough for uploads, and misbehaves
# as the second argument names, in ways no real server shows on demand.
#
# Faults against an upload's batched requests (the first WRITE, or the first OPEN):
#   unknown-id      the WRITE answered under an id nobody asked for
#   duplicate-id    the WRITE answered twice
#   cut-short       an answer begun, then the channel closed
#   huge-length     an answer announcing 4 GiB, then silence
#   unknown-type    an answer of a type the protocol does not have
#   short-status    a STATUS without its code
#   handle-for-write  the WRITE answered with a handle, as if it were an OPEN
#   garbage         a sound STATUS, then bytes that are no packet, then silence
#   silent          no answer at all
#   long-handle     the OPEN answered with a handle longer than its packet
# Refusals of a continued upload:
#   no-keeping-open   an OPEN for writing without truncation is refused
#   no-keeping-write  writes into a file opened without truncation are refused

import os
import struct
import sys

ROOT = sys.argv[1]
FAULT = sys.argv[2] if len(sys.argv) > 2 else ""

INIT, VERSION, OPEN, CLOSE, WRITE, LSTAT, SETSTAT, FSETSTAT = 1, 2, 3, 4, 6, 7, 9, 10
REMOVE, REALPATH, STAT, EXTENDED = 13, 16, 17, 200
STATUS, HANDLE, NAME, ATTRS = 101, 102, 104, 105
OK, NO_SUCH_FILE, PERMISSION_DENIED, FAILURE, UNSUPPORTED = 0, 2, 3, 4, 8
F_WRITE, F_CREAT, F_TRUNC = 2, 8, 0x10
A_SIZE, A_UIDGID, A_PERMISSIONS, A_ACMODTIME, A_EXTENDED = 1, 2, 4, 8, 0x80000000

source = sys.stdin.buffer
sink = sys.stdout.buffer


def read_exact(count):
    data = b""
    while len(data) < count:
        piece = source.read(count - len(data))
        if not piece:
            sys.exit(0)
        data += piece
    return data


def send(data):
    sink.write(data)
    sink.flush()


def packet(kind, body):
    return struct.pack(">IB", len(body) + 1, kind) + body


def text(value):
    return struct.pack(">I", len(value)) + value


def status(ident, code):
    return packet(STATUS, struct.pack(">II", ident, code) + text(b"scripted") + text(b""))


def wait_for_the_end():
    # The client gives up and closes; sshd then closes this end.
    while source.read(65536):
        pass
    sys.exit(0)


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def number(self):
        self.at += 4
        return struct.unpack(">I", self.data[self.at - 4:self.at])[0]

    def number64(self):
        self.at += 8
        return struct.unpack(">Q", self.data[self.at - 8:self.at])[0]

    def text(self):
        size = self.number()
        self.at += size
        return self.data[self.at - size:self.at]

    def attributes(self):
        flags = self.number()
        found = {}
        if flags & A_SIZE:
            found["size"] = self.number64()
        if flags & A_UIDGID:
            self.number(), self.number()
        if flags & A_PERMISSIONS:
            found["permissions"] = self.number()
        if flags & A_ACMODTIME:
            found["times"] = (self.number(), self.number())
        if flags & A_EXTENDED:
            for _ in range(self.number()):
                self.text(), self.text()
        return found


def attributes_of(info):
    return struct.pack(">IQII", A_SIZE | A_PERMISSIONS | A_ACMODTIME, info.st_size, 0, info.st_mode) + struct.pack(
        ">II", int(info.st_atime), int(info.st_mtime))


def failure_code(error):
    if isinstance(error, FileNotFoundError):
        return NO_SUCH_FILE
    if isinstance(error, PermissionError):
        return PERMISSION_DENIED
    return FAILURE


handles = {}  # handle -> (descriptor, opened with truncation)
counter = [0]
misbehaved = [False]


def misbehave(kind, ident):
    # Answers the request itself; false where the fault is not for this request.
    if misbehaved[0] or kind != (OPEN if FAULT == "long-handle" else WRITE):
        return False
    if FAULT == "unknown-id":
        send(status(ident + 1000, OK))
    elif FAULT == "duplicate-id":
        send(status(ident, OK) + status(ident, OK))
    elif FAULT == "cut-short":
        send(struct.pack(">IBI", 100, STATUS, ident) + b"\0\0")
        sys.exit(0)
    elif FAULT == "huge-length":
        send(struct.pack(">IBI", 0xFFFFFFF0, STATUS, ident))
        wait_for_the_end()
    elif FAULT == "unknown-type":
        send(packet(250, struct.pack(">II", ident, OK)))
    elif FAULT == "short-status":
        send(packet(STATUS, struct.pack(">I", ident)))
    elif FAULT == "handle-for-write":
        send(packet(HANDLE, struct.pack(">I", ident) + text(b"h1")))
    elif FAULT == "garbage":
        send(status(ident, OK) + b"this is no SFTP packet at all\n" * 3)
        wait_for_the_end()
    elif FAULT == "silent":
        wait_for_the_end()
    elif FAULT == "long-handle":
        send(packet(HANDLE, struct.pack(">II", ident, 1000) + b"abcd"))
    else:
        return False
    misbehaved[0] = True
    return True


def answer(kind, ident, request):
    if misbehave(kind, ident):
        return
    try:
        if kind == REALPATH:
            path = request.text().decode()
            path = ROOT if path in ("", ".") else os.path.normpath(os.path.join(ROOT, path))
            send(packet(NAME, struct.pack(">II", ident, 1) + text(path.encode()) + text(b"") + struct.pack(">I", 0)))
        elif kind in (STAT, LSTAT):
            path = request.text()
            info = os.stat(path) if kind == STAT else os.lstat(path)
            send(packet(ATTRS, struct.pack(">I", ident) + attributes_of(info)))
        elif kind == OPEN:
            path, flags = request.text(), request.number()
            mode = request.attributes().get("permissions", 0o644) & 0o7777 or 0o644
            truncating = bool(flags & F_TRUNC)
            if FAULT == "no-keeping-open" and flags & F_WRITE and not truncating:
                send(status(ident, PERMISSION_DENIED))
                return
            system = os.O_WRONLY if flags & F_WRITE else os.O_RDONLY
            system |= (os.O_CREAT if flags & F_CREAT else 0) | (os.O_TRUNC if truncating else 0)
            descriptor = os.open(path, system, mode)
            counter[0] += 1
            handle = b"h%d" % counter[0]
            handles[handle] = (descriptor, truncating)
            send(packet(HANDLE, struct.pack(">I", ident) + text(handle)))
        elif kind == WRITE:
            descriptor, truncating = handles[request.text()]
            offset, data = request.number64(), request.text()
            if FAULT == "no-keeping-write" and not truncating:
                send(status(ident, FAILURE))
                return
            os.pwrite(descriptor, data, offset)
            send(status(ident, OK))
        elif kind == CLOSE:
            os.close(handles.pop(request.text())[0])
            send(status(ident, OK))
        elif kind in (SETSTAT, FSETSTAT):
            target = request.text()
            times = request.attributes().get("times")
            if times:
                os.utime(handles[target][0] if kind == FSETSTAT else target, times)
            send(status(ident, OK))
        elif kind == REMOVE:
            os.unlink(request.text())
            send(status(ident, OK))
        elif kind == EXTENDED and request.text() == b"posix-rename@openssh.com":
            os.rename(request.text(), request.text())
            send(status(ident, OK))
        else:
            send(status(ident, UNSUPPORTED))
    except (OSError, KeyError) as error:
        send(status(ident, failure_code(error)))


def main():
    length, kind = struct.unpack(">IB", read_exact(5))
    read_exact(length - 1)
    if kind != INIT:
        sys.exit(1)
    send(packet(VERSION, struct.pack(">I", 3) + text(b"posix-rename@openssh.com") + text(b"1")))
    while True:
        length, kind = struct.unpack(">IB", read_exact(5))
        body = read_exact(length - 1)
        ident = struct.unpack(">I", body[:4])[0]
        answer(kind, ident, Reader(body[4:]))


main()
