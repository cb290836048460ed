"""varrowd behind haproxy as docs/deploy.md sets it up: balancer 127.0.0.4, clients .1 to .3."""
import contextlib, os, re, shutil, socket, ssl, subprocess, tempfile, time, unittest

import pytds

import tls_certs
from test_server import PASSWORD, Server, connect, raw_login
from tds_wire import PRELOGIN, login7, packet, reply

HAPROXY = shutil.which("haproxy") or "/usr/sbin/haproxy"
DOC = open(os.path.join(os.path.dirname(__file__), "../../docs/deploy.md")).read()


@unittest.skipUnless(os.path.exists(HAPROXY), "haproxy is not installed")
class BalancerTest(unittest.TestCase):
    def start(self, *args):
        server = Server("--user", "varrow", "--proxy-protocol-from", "127.0.0.4/32", "--reuse-port",
                        *args, env={"VARROW_PASSWORD": PASSWORD})
        self.addCleanup(server.stop)
        return server

    def call(self, pool, i):  # xp_hexstr on pool[i % 4], reconnecting it while the call fails
        for _ in range(20):
            with contextlib.suppress(pytds.Error, OSError), pool[i % 4].cursor() as cur:
                out = pytds.output(param_type="VARCHAR(2)")
                return cur.callproc("xp_hexstr", [bytes([i]), out])[1]
            time.sleep(0.1)
            self.reconnects += 1
            with contextlib.suppress(pytds.Error, OSError):
                pool[i % 4] = connect(self.front, "varrow", PASSWORD)

    def test_two_instances_behind_haproxy(self):
        certs = tls_certs.make(tempfile.mkdtemp(prefix="varrow-balancer-"))
        a, b = (self.start("--tls-cert", certs["server.pem"], "--tls-key", certs["server.key"],
                           "--encryption", "optional") for _ in range(2))
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.front, self.reconnects = s.getsockname()[1], 0
        config = re.search(r"```\n(defaults\n.*?)```", DOC, re.S).group(1)
        for doc, test in [("bind :1433", "bind 127.0.0.1:%d" % self.front),
                          ("10.0.0.5", "127.0.0.4"), ("inter 2s fall 2", "inter 300ms fall 1"),
                          ("10.0.1.11:1433", "127.0.0.1:%d" % a.port),
                          ("10.0.1.12:1433", "127.0.0.1:%d" % b.port)]:
            self.assertIn(doc, config)
            config = config.replace(doc, test)
        haproxy = subprocess.Popen([HAPROXY, "-db", "-f", "/dev/stdin"], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, text=True)
        haproxy.stdin.write(config)
        haproxy.stdin.close()
        self.addCleanup(haproxy.wait, 10)
        self.addCleanup(haproxy.terminate)
        time.sleep(2)  # both instances checked up
        for _ in range(6):  # until each instance has logged a failed login of 127.0.0.3's
            if "127.0.0.3" not in a.stderr() or "127.0.0.3" not in b.stderr():
                raw_login(self.front, "varrow", "wrong", "127.0.0.3")[1].close()
        ctx = ssl.create_default_context(cafile=certs["ca.pem"])  # TDS 8.0, passed through
        ctx.set_alpn_protocols(["tds/8.0"])
        with ctx.wrap_socket(socket.create_connection(("127.0.0.1", self.front)),
                             server_hostname="localhost") as tls:
            tls.sendall(packet(0x12, PRELOGIN))
            self.assertIsNotNone(reply(tls))
            tls.sendall(packet(0x10, login7("varrow", PASSWORD)))
            self.assertIn(b"\xad", reply(tls))
        pool = [connect(self.front, "varrow", PASSWORD) for _ in range(4)]  # on b once a is killed
        for i in range(80):
            if i == 20:
                a.process.kill()
            self.assertEqual(self.call(pool, i), b"%02X" % i)
        self.assertGreaterEqual(self.reconnects, 2, "a served half the pool")

        for i in range(5):  # guesses lock out their client's address, not another's
            raw_login(self.front, "varrow", "guess%d" % i, "127.0.0.2")[1].close()
        self.assertIsNone(raw_login(self.front, "varrow", PASSWORD, "127.0.0.2")[0])
        self.assertIn(b"\xad", raw_login(self.front, "varrow", PASSWORD, "127.0.0.3")[0])
        socket.create_connection(("127.0.0.1", b.port), source_address=("127.0.0.4", 0)).close()
        time.sleep(0.2)  # a TCP check from the balancer, which must leave no line either
        self.assertIn("login failed for user 'varrow' from 127.0.0.2", b.stderr())
        self.assertIn("login failed for user 'varrow' from 127.0.0.3", a.stderr())
        for absent in ["127.0.0.4", "closed"]:  # the balancer's address; lines of checks
            self.assertNotIn(absent, a.stderr() + b.stderr())
        self.start("--listen", "127.0.0.1:%d" % b.port)  # b restarts: its successor shares the port
        b.stop()
        # A check that met b as it stopped may mark the server down until its
        # next `rise` checks pass: logins go on once they have.
        for _ in range(20):
            login, sock = raw_login(self.front, "varrow", PASSWORD, "127.0.0.3")
            sock.close()
            if login is not None:
                break
            time.sleep(0.2)
        self.assertIn(b"\xad", login)


if __name__ == "__main__":
    unittest.main()
