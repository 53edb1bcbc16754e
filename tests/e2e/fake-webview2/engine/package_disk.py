#!/usr/bin/python3
"""The file system the fake's browser sees as its root, in browser mode.

Chromium reads some file: addresses itself, past every request interception
of its DevTools protocol: a dedicated worker's scripts, with their
importScripts and module imports. WebView2 raises WebResourceRequested for
those too. So the browser runs chrooted into this FUSE file system, and every
file it opens here is asked of the fake over a local socket, which raises
WebResourceRequested for file://PATH and hands back the runtime's answer.

The top-level names of the real root that a browser needs (/usr, /proc,
/tmp, ...) are directories or symbolic links here, as on the real root; the
launcher binds the real ones over the directories. Any other name is the
package's: a path the runtime answers 200 is a read-only file of that body;
one it answers 404 is a directory that cannot be listed when its name has no
extension (so that deeper paths can still be looked up), else a missing
file, as is any path it leaves unanswered.

    package_disk.py launch PORT -- BROWSER [ARGUMENTS...]

runs BROWSER in a mount namespace of its own, chrooted into the file system,
which a process of its own serves; where that cannot be (no FUSE, no right to
mount), it runs BROWSER as it is. Either way it says which on standard error
("package disk: mounted" or "package disk: unavailable: WHY").

Protocol, one connection per thread of this process: the request is the path
(UTF-8) and a newline; the answer is "STATUS LENGTH" and a newline, then
LENGTH bytes of body. Status 0 means unanswered.
"""

import ctypes
import errno
import os
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time

try:
    from fusepy import FUSE, FuseOSError, Operations
except ImportError as missing:
    FUSE = None
    MISSING = missing

    class Operations:  # lets the module load; launch() runs the browser as it is
        pass

# Top-level names of the real root that stay the system's.
SYSTEM = ("bin", "dev", "etc", "home", "lib", "lib32", "lib64", "libx32", "opt", "proc", "root", "run", "sbin",
          "sys", "tmp", "usr", "var")
KEEP_SECONDS = 5.0


class PackageDisk(Operations):
    def __init__(self, port, names):
        self.port = port
        self.local = threading.local()
        self.guard = threading.Lock()
        self.answers = {}  # path -> (time, status, body)
        self.system = {}
        for name in names:
            try:
                st = os.lstat("/" + name)
            except OSError:
                continue
            self.system[name] = os.readlink("/" + name) if stat.S_ISLNK(st.st_mode) else None
        self.started = time.time()

    def ask(self, path):
        with self.guard:
            kept = self.answers.get(path)
            if kept and time.monotonic() - kept[0] < KEEP_SECONDS:
                return kept[1], kept[2]
        for attempt in range(2):
            try:
                sock = getattr(self.local, "sock", None)
                if sock is None:
                    sock = socket.create_connection(("127.0.0.1", self.port), timeout=60)
                    self.local.sock = sock
                    self.local.reader = sock.makefile("rb")
                sock.sendall(path.encode("utf-8", "surrogateescape") + b"\n")
                head = self.local.reader.readline().split()
                status, length = int(head[0]), int(head[1])
                body = self.local.reader.read(length)
                if len(body) != length:
                    raise OSError("short answer")
                break
            except (OSError, ValueError, IndexError):
                self.local.sock = None
                if attempt:
                    raise FuseOSError(errno.EIO)
        with self.guard:
            self.answers[path] = (time.monotonic(), status, body)
        return status, body

    def top(self, path):
        parts = path.strip("/").split("/")
        return parts[0] if len(parts) == 1 and parts[0] in self.system else None

    def getattr(self, path, fh=None):
        base = {"st_uid": 0, "st_gid": 0, "st_nlink": 1, "st_atime": self.started, "st_mtime": self.started,
                "st_ctime": self.started}
        directory = dict(base, st_mode=stat.S_IFDIR | 0o555, st_nlink=2, st_size=0)
        if path == "/":
            return directory
        name = self.top(path)
        if name is not None:
            target = self.system[name]
            if target is not None:
                return dict(base, st_mode=stat.S_IFLNK | 0o777, st_size=len(target))
            return directory
        status, body = self.ask(path)
        if status == 200:
            return dict(base, st_mode=stat.S_IFREG | 0o444, st_size=len(body))
        # The package has no directories of its own: a name the runtime
        # answered 404 that has no extension may be a folder on the way; a
        # name with one is a missing file, and so is any name not answered
        # at all (before the first page, or outside the package).
        if status != 404 or "." in path.rsplit("/", 1)[-1]:
            raise FuseOSError(errno.ENOENT)
        return directory

    def readlink(self, path):
        name = self.top(path)
        if name is None or self.system[name] is None:
            raise FuseOSError(errno.EINVAL)
        return self.system[name]

    def opendir(self, path):
        if path == "/" or self.top(path) is not None:
            return 0
        raise FuseOSError(errno.EACCES)

    def readdir(self, path, fh):
        return [".", ".."] + (sorted(self.system) if path == "/" else [])

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        status, _ = self.ask(path)
        if status != 200:
            raise FuseOSError(errno.EISDIR)
        return 0

    def read(self, path, size, offset, fh):
        status, body = self.ask(path)
        if status != 200:
            raise FuseOSError(errno.EIO)
        return body[offset:offset + size]

    def statfs(self, path):
        return {"f_bsize": 4096, "f_frsize": 4096, "f_blocks": 0, "f_bfree": 0, "f_bavail": 0, "f_namemax": 255}


def system_names(browser_arguments):
    """The real root's names the browser keeps: SYSTEM and the first name of
    its profile's path."""
    names = set(SYSTEM)
    for argument in browser_arguments:
        if argument.startswith("--user-data-dir=/"):
            names.add(argument[len("--user-data-dir=/"):].split("/")[0])
    return sorted(name for name in names if name and os.path.lexists("/" + name))


def launch(port, browser):
    names = system_names(browser)
    try:
        if FUSE is None:
            raise OSError("no fusepy: %s" % MISSING)
        if not os.path.exists("/dev/fuse"):
            raise OSError("no /dev/fuse")
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS
            raise OSError(ctypes.get_errno(), "unshare: " + os.strerror(ctypes.get_errno()))
        subprocess.run(["mount", "--make-rprivate", "/"], check=True, stderr=subprocess.DEVNULL)
        # One folder serves every launch: each mounts in its own namespace.
        root = os.path.join(tempfile.gettempdir(), "vtl-package-disk")
        os.makedirs(root, exist_ok=True)
        # The file system runs in a grandchild, until the browser's group is
        # ended: no child of the browser's own, which watches its children.
        child = os.fork()
        if child == 0:
            if os.fork() == 0:
                try:
                    FUSE(PackageDisk(port, names), root, foreground=True, nothreads=False, ro=True,
                         default_permissions=False)
                finally:
                    os._exit(0)
            os._exit(0)
        os.waitpid(child, 0)
        deadline = time.monotonic() + 10
        while not os.path.ismount(root):
            if time.monotonic() > deadline:
                raise OSError("the file system was not mounted within 10 s")
            time.sleep(0.02)
        for name in names:
            if not os.path.islink("/" + name):
                subprocess.run(["mount", "--rbind", "/" + name, os.path.join(root, name)], check=True)
        os.chroot(root)
        os.chdir("/")
        sys.stderr.write("package disk: mounted\n")
    except (OSError, subprocess.CalledProcessError) as e:
        sys.stderr.write("package disk: unavailable: %s\n" % e)
    sys.stderr.flush()
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    os.execv(browser[0], browser)


def main():
    arguments = sys.argv[1:]
    if len(arguments) >= 4 and arguments[0] == "launch" and arguments[2] == "--":
        launch(int(arguments[1]), arguments[3:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
