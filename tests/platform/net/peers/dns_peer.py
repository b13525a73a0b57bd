#!/usr/bin/python3
"""Name servers for the delivery tests, on 127.0.0.1 only.

  dns_peer.py dnsmasq
      dnsmasq on a free port answering for test domains:
        test.invalid   MX 20 far.test.invalid, MX 5 localhost (the lower wins)
        nomx.invalid   an A record and no MX record
        gone.invalid   no such name (NXDOMAIN)
  dns_peer.py <mode>
      a scripted server: wrong-id, truncated (reply cut short), tc (the
      truncation flag), oversized (4000 bytes of noise after the header),
      loop (a compression pointer to itself), not-mx (a CNAME answer only),
      silent (never answers), good (MX 10 localhost).
Prints "READY <port>" when it answers; ends when its standard input closes.
"""
import socket
import struct
import subprocess
import sys
import threading
import time


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def query(name, port, qid=0x2222):
    pkt = struct.pack(">HHHHHH", qid, 0x100, 1, 0, 0, 0)
    pkt += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"
    pkt += struct.pack(">HH", 15, 1)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(0.2)
    try:
        s.sendto(pkt, ("127.0.0.1", port))
        return s.recv(4096)
    except OSError:
        return None
    finally:
        s.close()


def run_dnsmasq():
    for _ in range(20):
        port = free_port()
        proc = subprocess.Popen(
            ["dnsmasq", "--no-daemon", "--no-resolv", "--no-hosts", "--bind-interfaces",
             "--listen-address=127.0.0.1", "--port=%d" % port, "--pid-file=", "--user=root",
             "--log-facility=/dev/null", "--cache-size=0",
             "--mx-host=test.invalid,far.test.invalid,20", "--mx-host=test.invalid,localhost,5",
             "--local=/test.invalid/",
             "--host-record=nomx.invalid,127.0.0.1", "--local=/nomx.invalid/",
             "--local=/gone.invalid/"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 5
        while time.time() < deadline and proc.poll() is None:
            if query("test.invalid", port):
                print("READY", port, flush=True)
                sys.stdin.read()
                proc.terminate()
                proc.wait(5)
                return
            time.sleep(0.05)
        proc.kill()
        proc.wait()
    sys.exit("dnsmasq did not start")


def name_bytes(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"


def reply_for(mode, data):
    qid = struct.unpack(">H", data[:2])[0]
    # The question as it came: header is 12 bytes, then the name, type, class.
    end = 12
    while data[end] != 0:
        end += data[end] + 1
    question = data[12:end + 5]
    mx = struct.pack(">HHHIH", 0xC00C, 15, 1, 60, 2 + len(name_bytes("localhost"))) + \
        struct.pack(">H", 10) + name_bytes("localhost")
    good = struct.pack(">HHHHHH", qid, 0x8180, 1, 1, 0, 0) + question + mx
    if mode == "good":
        return good
    if mode == "wrong-id":
        return struct.pack(">H", (qid + 1) & 0xFFFF) + good[2:]
    if mode == "truncated":
        return good[:len(good) - 7]
    if mode == "tc":
        return struct.pack(">HHHHHH", qid, 0x8380, 1, 0, 0, 0) + question
    if mode == "oversized":
        return struct.pack(">HHHHHH", qid, 0x8180, 1, 40, 0, 0) + question + bytes((i * 7 + 3) % 256 for i in range(4000))
    if mode == "loop":
        at = 12 + len(question)
        rr = struct.pack(">HHHIH", 0xC00C, 15, 1, 60, 4) + struct.pack(">H", 10) + \
            struct.pack(">H", 0xC000 | (at + 14))
        return struct.pack(">HHHHHH", qid, 0x8180, 1, 1, 0, 0) + question + rr
    if mode == "not-mx":
        cname = name_bytes("other.invalid")
        rr = struct.pack(">HHHIH", 0xC00C, 5, 1, 60, len(cname)) + cname
        return struct.pack(">HHHHHH", qid, 0x8180, 1, 1, 0, 0) + question + rr
    return None


def run_scripted(mode):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    print("READY", s.getsockname()[1], flush=True)

    def serve():
        while True:
            try:
                data, peer = s.recvfrom(4096)
            except OSError:
                return
            answer = reply_for(mode, data)
            if answer is not None:
                s.sendto(answer, peer)

    threading.Thread(target=serve, daemon=True).start()
    sys.stdin.read()
    s.close()


if __name__ == "__main__":
    if sys.argv[1] == "dnsmasq":
        run_dnsmasq()
    else:
        run_scripted(sys.argv[1])
