# What one command costs the benchmarks' pyftpdlib server, in processor time: on loopback the
# server is the limit, so these costs decide how an upload sequence compares with another one.
# Starts bench/pyftpd_server.py on a scratch folder (under TMPDIR, best /dev/shm), sends each
# command COUNT times (default 3,000) over one connection and prints the server's processor
# time per command; folder listings are measured on a folder of 100 files.
#
#   TMPDIR=/dev/shm /usr/bin/python3 bench/pyftpd_command_cost.py [COUNT]
import ftplib
import os
import shutil
import subprocess
import sys
import tempfile
import time

count = int(sys.argv[1]) if len(sys.argv) > 1 else 3000
work = tempfile.mkdtemp(prefix="tarnwick-bench-")
server = None
try:
    folder = os.path.join(work, "server", "site", "pages")
    os.makedirs(folder)
    for i in range(100):
        with open(os.path.join(folder, "f%03d.html" % i), "wb") as out:
            out.write(b"x" * 2048)
    port_file = os.path.join(work, "port")
    server = subprocess.Popen(
        [sys.executable, os.path.join(os.path.dirname(__file__), "pyftpd_server.py"),
         os.path.join(work, "server"), "127.0.0.1", port_file])
    for _ in range(200):
        if os.path.exists(port_file):
            break
        time.sleep(0.05)
    else:
        sys.exit("the FTP server did not start")

    def server_seconds():
        with open("/proc/%d/stat" % server.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", int(open(port_file).read()))
    ftp.login("bench", "bench-password")
    ftp.voidcmd("TYPE I")
    name = "/site/pages/f001.html"
    for label, line in [("NOOP", "NOOP"), ("SIZE", "SIZE " + name), ("MDTM", "MDTM " + name),
                        ("MFMT", "MFMT 20200101000000 " + name), ("MLST", "MLST " + name),
                        ("SITE CHMOD", "SITE CHMOD 644 " + name)]:
        before = server_seconds()
        for _ in range(count):
            ftp.sendcmd(line)
        print("%-22s %7.0f us" % (label, (server_seconds() - before) * 1e6 / count))
    listings = max(count // 100, 10)
    for verb in ["MLSD", "NLST"]:
        before = server_seconds()
        for _ in range(listings):
            ftp.retrlines(verb + " /site/pages", lambda line: None)
        print("%-22s %7.0f us" % (verb + " of 100 files", (server_seconds() - before) * 1e6 / listings))
    ftp.quit()
finally:
    if server:
        server.terminate()
        server.wait()
    shutil.rmtree(work)
