#!/usr/bin/env python3
"""A TLS flood: COUNT connections from as many loopback addresses (127.0.x.y, 60 a /24, so that
the per-source limit does not cut them), each sending its ClientHello and then nothing, as a
client that never finishes its handshake. After SETTLE seconds prints the program's resident
memory (VmRSS, VmHWM of /proc/PID/status) in kB as "FLOOD rss=... peak=... connections=...".
    flood.py PORT COUNT PID [SETTLE]"""
import socket
import ssl
import sys
import time

port, count, pid = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
settle = float(sys.argv[4]) if len(sys.argv) > 4 else 3.0
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.check_hostname = False
context.verify_mode = ssl.CERT_NONE
held = []
for i in range(count):
    raw = socket.socket()
    raw.bind((f"127.0.{1 + i // 60}.{1 + i % 60}", 0))
    raw.connect(("127.0.0.1", port))
    raw.setblocking(False)
    tls = context.wrap_socket(raw, do_handshake_on_connect=False, server_hostname="bench.example")
    try:
        tls.do_handshake()  # sends the ClientHello; the server's answer is never read
    except ssl.SSLWantReadError:
        pass
    held.append(tls)
time.sleep(settle)
status = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status") if ":" in line)
kb = lambda key: status[key].strip().split()[0]
print(f"FLOOD rss={kb('VmRSS')} peak={kb('VmHWM')} connections={len(held)}")
