# The pyftpdlib server of the upload benchmarks: one account "bench" / "bench-password" on ROOT,
# listening on ADDRESS and a port of its own choosing, which it writes to PORT_FILE once it
# listens. With LOG_FILE every command line it receives is logged there (DEBUG: "<- CMD"), for
# counting; without it only warnings go to standard error.
#
#   python3 bench/pyftpd_server.py ROOT ADDRESS PORT_FILE [LOG_FILE]
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, address, port_file = sys.argv[1:4]
log_file = sys.argv[4] if len(sys.argv) > 4 else None
if log_file:
    logging.basicConfig(filename=log_file, level=logging.DEBUG, format="%(message)s")
else:
    logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user("bench", "bench-password", root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
server = FTPServer((address, 0), FTPHandler)
server.max_cons = 256
server.max_cons_per_ip = 0
with open(port_file + ".tmp", "w") as out:
    out.write("%d\n" % server.socket.getsockname()[1])
os.rename(port_file + ".tmp", port_file)
server.serve_forever(handle_exit=True)
