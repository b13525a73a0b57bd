#!/usr/bin/python3
"""FTP server for the delivery tests, on 127.0.0.1 only (pyftpdlib).

  ftp_peer.py <dir> <user> <password>
The user may write into <dir>/home; the user "reader" (same password) may
only read, so its uploads are refused. Prints "READY <port>" when it
listens; ends when its standard input closes.
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer

folder, user, password = sys.argv[1:4]
home = os.path.join(folder, "home")
os.makedirs(os.path.join(home, "reports"), exist_ok=True)
logging.basicConfig(level=logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm="elradfmw")
authorizer.add_user("reader", password, home, perm="elr")
handler = FTPHandler
handler.authorizer = authorizer
handler.masquerade_address = None
handler.passive_ports = None
server = ThreadedFTPServer(("127.0.0.1", 0), handler)
threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2}, daemon=True).start()
print("READY", server.address[1], flush=True)
sys.stdin.read()
server.close_all()
