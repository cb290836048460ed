"""varrowd behind Debian's haproxy in TCP mode, as docs/deploy.md sets it up:
two instances, send-proxy-v2 from the balancer's own address (127.0.0.4),
health checks by PRELOGIN. Clients come from 127.0.0.1 to .3."""
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

import pytds

import tls_certs
from test_server import PASSWORD, Server, connect, raw_login
from tds_wire import PRELOGIN, RawConnection, login7, packet

HAPROXY = shutil.which("haproxy") or "/usr/sbin/haproxy"
CONFIG = """global
  nbthread 1
defaults
  mode tcp
  timeout connect 1s
  timeout client 30s
  timeout server 30s
  retries 2
  option redispatch
frontend tds
  bind 127.0.0.1:{front}
  default_backend varrowd
backend varrowd
  source 127.0.0.4
  option tcp-check
  tcp-check send-binary {prelogin}
  tcp-check expect rbinary ^0401
  default-server send-proxy-v2 check check-send-proxy inter 300ms fall 1 rise 1
  server a 127.0.0.1:{a}
  server b 127.0.0.1:{b}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def hexstr(conn, data):
    with conn.cursor() as cur:
        return cur.callproc("xp_hexstr", [data, pytds.output(param_type="VARCHAR(8)")])[1]


@unittest.skipUnless(os.path.exists(HAPROXY), "haproxy is not installed")
class BalancerTest(unittest.TestCase):
    def start(self, *args):
        server = Server("--user", "varrow", "--proxy-protocol-from", "127.0.0.4/32", *args,
                        env={"VARROW_PASSWORD": PASSWORD})
        self.addCleanup(server.stop)
        return server

    def test_two_instances_behind_haproxy(self):
        certs = tls_certs.make(tempfile.mkdtemp(prefix="varrow-balancer-"))
        tls = ("--tls-cert", certs["server.pem"], "--tls-key", certs["server.key"],
               "--encryption", "optional")
        a, b = self.start(*tls), self.start(*tls)
        front = free_port()
        with tempfile.NamedTemporaryFile("w", suffix=".cfg") as config:
            config.write(CONFIG.format(front=front, a=a.port, b=b.port,
                                       prelogin=packet(0x12, PRELOGIN).hex()))
            config.flush()
            haproxy = subprocess.Popen([HAPROXY, "-db", "-f", config.name],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.addCleanup(haproxy.wait, 10)
            self.addCleanup(haproxy.terminate)
            time.sleep(1)  # both servers checked up

            # Each instance logs the client's address, never the balancer's.
            for _ in range(6):
                if "127.0.0.3" in a.stderr() and "127.0.0.3" in b.stderr():
                    break
                raw_login(front, "varrow", "wrong", "127.0.0.3")[1].close()

            # TDS 8.0's TLS passes through: the certificate is varrowd's.
            ctx = ssl.create_default_context(cafile=certs["ca.pem"])
            ctx.set_alpn_protocols(["tds/8.0"])
            with ctx.wrap_socket(socket.create_connection(("127.0.0.1", front), timeout=10),
                                 server_hostname="localhost") as sock:
                raw = RawConnection.__new__(RawConnection)
                raw.sock = sock
                raw.send(packet(0x12, PRELOGIN))
                self.assertIsNotNone(raw.reply())
                raw.send(packet(0x10, login7("varrow", PASSWORD)))
                self.assertIn(b"\xad", raw.reply())

            # A pool of four connections goes on through b after a is killed.
            pool = [connect(front, "varrow", PASSWORD) for _ in range(4)]
            reconnects = 0
            for i in range(80):
                if i == 20:
                    a.process.kill()
                for attempt in range(20):
                    try:
                        self.assertEqual(hexstr(pool[i % 4], bytes([i])), b"%02X" % i)
                        break
                    except (pytds.Error, OSError):
                        reconnects += 1
                        time.sleep(0.1)
                        try:
                            pool[i % 4] = connect(front, "varrow", PASSWORD)
                        except (pytds.Error, OSError):
                            pass
                else:
                    self.fail("call %d never answered" % i)
            self.assertGreaterEqual(reconnects, 2, "a served half the pool")

            # Five guesses lock out their client's address, not another's.
            for i in range(5):
                raw_login(front, "varrow", "guess%d" % i, "127.0.0.2")[1].close()
            self.assertIsNone(raw_login(front, "varrow", PASSWORD, "127.0.0.2")[0])
            self.assertIn(b"\xad", raw_login(front, "varrow", PASSWORD, "127.0.0.3")[0])
        logs = a.stderr() + b.stderr()
        self.assertIn("login failed for user 'varrow' from 127.0.0.2", b.stderr())
        self.assertIn("login failed for user 'varrow' from 127.0.0.3", a.stderr())
        self.assertNotIn("127.0.0.4", logs)
        self.assertNotIn("closed", logs, "health checks and passthrough leave no line")

    def test_instances_share_a_port_with_reuse_port(self):
        first = self.start("--reuse-port")
        second = self.start("--reuse-port", "--listen", "127.0.0.1:%d" % first.port)
        first.stop()
        for _ in range(4):  # whichever the kernel picks answers
            self.assertIn(b"\xad", raw_login(second.port, "varrow", PASSWORD)[0])


if __name__ == "__main__":
    unittest.main()
