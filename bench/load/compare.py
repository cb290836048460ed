#!/usr/bin/env python3
"""varrowd beside PostgreSQL with pgcrypto, doing the same work per call
(AES-128-ECB of 100 bytes with a given key; MD5 of 100 bytes), both on
loopback, at 1, 8 and 32 concurrent clients, in clear and in TLS. Starts and
stops the servers.

varrowd is driven by two generators: rpc_load, raw RPC requests through the
server's own wire layer (TLS as TDS 8.0: TLS 1.3 first, then TDS), and
tds_load, FreeTDS's db-lib as applications use it (TLS as TDS 7.x negotiates
it: TLS 1.2 inside PRELOGIN). PostgreSQL is driven by pgbench with prepared
statements (TLS: ssl=on, sslmode=require, TLS 1.3).

For every cell it records calls per second, p50 and p99 latency, the server's
CPU time per call (user and system time from /proc: varrowd's process; for
PostgreSQL the postmaster, every process of the cluster and the backends that
ended during the run, which the postmaster has reaped into its children's
times) and the generator's own CPU time per call.

At 8 and 32 clients rpc_load also calls through HAProxy (Debian's haproxy, TCP
mode, one thread, round robin, send-proxy-v2) in front of two varrowd
instances, with TLS passed through; server CPU is then the two instances',
and the balancer's own CPU per call is kept beside it.

PostgreSQL is found through pg_config; without it, or without pgbench and
pgcrypto, its columns are skipped with a message; without haproxy, its
column. Run as root, PostgreSQL
runs as the postgres user; otherwise as the current user.

Usage: compare.py BUILD_BIN_DIR OUT.json [SECONDS]"""
import json
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "tds"))
import tls_certs  # noqa: E402 - the certificates the TLS tests make

BIN = os.path.abspath(sys.argv[1])
OUT = sys.argv[2]
SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 4
CLIENTS = [1, 8, 32]
BALANCED_CLIENTS = [8, 32]
HAPROXY_CONFIG = """global
  nbthread 1
defaults
  mode tcp
  timeout connect 2s
  timeout client 60s
  timeout server 60s
frontend tds
  bind 127.0.0.1:%d
  default_backend varrowd
backend varrowd
  balance roundrobin
  server a 127.0.0.1:%d send-proxy-v2
  server b 127.0.0.1:%d send-proxy-v2
"""
WORKS = ["aes", "md5"]
MODES = ["clear", "tls"]
PG_PORT = "54329"
PG_SCRIPTS = {
    "aes": "\\set r random(1, 1000000)\n"
           "SELECT encrypt(convert_to(lpad(CAST(:r AS text), 100, 'x'), 'SQL_ASCII'), "
           "decode('000102030405060708090a0b0c0d0e0f', 'hex'), 'aes-ecb');  -- PKCS padding is the default\n",
    "md5": "\\set r random(1, 1000000)\n"
           "SELECT digest(lpad(CAST(:r AS text), 100, 'x'), 'md5');\n",
}
TICK = os.sysconf("SC_CLK_TCK")


def log(text):
    print("compare: " + text, file=sys.stderr, flush=True)


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p * len(values)))] if values else 0


def stat_fields(pid):
    """utime, stime, cutime, cstime and ppid of a process, in ticks."""
    with open("/proc/%d/stat" % pid) as f:
        rest = f.read().rsplit(")", 1)[1].split()
    # After the command: state (field 3), ppid (4), ... utime (14) to cstime (17).
    return [int(rest[i]) for i in (11, 12, 13, 14)], int(rest[1])


def cpu_of(pid):
    (utime, stime, _, _), _ = stat_fields(pid)
    return (utime + stime) / TICK


def cluster_cpu(postmaster):
    """The CPU seconds of a PostgreSQL cluster so far: the postmaster, its
    living children, and the children it has reaped."""
    (utime, stime, cutime, cstime), _ = stat_fields(postmaster)
    total = utime + stime + cutime + cstime
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            (u, s, _, _), ppid = stat_fields(int(name))
        except (OSError, IndexError):
            continue
        if ppid == postmaster:
            total += u + s
    return total / TICK


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measured(run, server_cpu, balancer_cpu=None):
    """Runs one cell; adds the server's, the generator's and the balancer's
    (when there is one) CPU per call."""
    balancer_before = balancer_cpu() if balancer_cpu else 0
    server_before, client_before = server_cpu(), children_cpu()
    result = run()
    time.sleep(0.3)  # backends that ended are reaped by now
    calls = max(result["calls"], 1)
    result["server_cpu_us"] = (server_cpu() - server_before) * 1e6 / calls
    result["client_cpu_us"] = (children_cpu() - client_before) * 1e6 / calls
    if balancer_cpu:
        result["balancer_cpu_us"] = (balancer_cpu() - balancer_before) * 1e6 / calls
    return result


def start_varrowd(*args):
    """A varrowd on a free loopback port, and that port."""
    server = subprocess.Popen([os.path.join(BIN, "varrowd"), "--listen", "127.0.0.1:0", *args],
                              stdout=subprocess.PIPE, text=True)
    return server, int(server.stdout.readline().rsplit(":", 1)[1])


def start_haproxy(scratch, mode, tls_args):
    """Two varrowd instances behind haproxy; the processes and the front port."""
    (a, a_port), (b, b_port) = (start_varrowd("--proxy-protocol-from", "127.0.0.1/32", *tls_args)
                                for _ in range(2))
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        front = s.getsockname()[1]
    config = os.path.join(scratch, "haproxy-%s.cfg" % mode)
    with open(config, "w") as f:
        f.write(HAPROXY_CONFIG % (front, a_port, b_port))
    haproxy = subprocess.Popen([shutil.which("haproxy"), "-db", "-f", config],
                               stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    return [a, b, haproxy], front


def key_values(out):
    return {k: float(v) for k, v in (item.split("=") for item in out.split())}


def run_generator(command, env=None):
    out = subprocess.run(command, capture_output=True, text=True, timeout=SECONDS + 60,
                         env={**os.environ, **(env or {})})
    fields = key_values(out.stdout)
    if out.returncode != 0 or fields.get("failures", 1) != 0:
        raise RuntimeError("%s failed: %s %s" % (command[0], out.stdout, out.stderr))
    return {"calls": fields["calls"], "calls_per_second": fields["calls_per_second"],
            "p50_us": fields["p50_us"], "p99_us": fields["p99_us"]}


class Postgres:
    """A throwaway cluster with pgcrypto and TLS, or None with the reason."""

    @staticmethod
    def find():
        pg_config = shutil.which("pg_config")
        if not pg_config:
            return None, "pg_config not found"
        bindir = subprocess.run([pg_config, "--bindir"], capture_output=True,
                                text=True).stdout.strip()
        for tool in ["initdb", "pg_ctl", "pgbench", "psql"]:
            if not os.access(os.path.join(bindir, tool), os.X_OK):
                return None, "%s not in %s" % (tool, bindir)
        return bindir, ""

    def __init__(self, bindir, scratch, certs):
        self.bin = bindir
        self.scratch = scratch
        self.data = os.path.join(scratch, "pg")
        self.as_user = []
        owner = None
        if os.geteuid() == 0:  # initdb refuses root: run as the postgres user
            self.as_user = ["runuser", "-u", "postgres", "--"]
            owner = "postgres"
            os.chmod(scratch, 0o777)
        # PostgreSQL reads its key only when its own user owns it alone.
        tls = os.path.join(scratch, "pg-tls")
        os.makedirs(tls)
        for name in ["server.pem", "server.key"]:
            shutil.copy(certs[name], tls)
            if owner:
                shutil.chown(os.path.join(tls, name), owner)
            os.chmod(os.path.join(tls, name), 0o600)
        subprocess.run(self.as_user + [self.tool("initdb"), "-D", self.data, "-A", "trust",
                                       "-U", "postgres", "--no-sync"],
                       check=True, capture_output=True)
        subprocess.run(self.as_user + [self.tool("pg_ctl"), "-D", self.data, "-w", "-l",
                                       os.path.join(scratch, "pg.log"), "-o",
                                       "-p %s -k %s -c listen_addresses=127.0.0.1 "
                                       "-c max_connections=100 -c fsync=off -c ssl=on "
                                       "-c ssl_cert_file=%s/server.pem -c ssl_key_file=%s/server.key"
                                       % (PG_PORT, scratch, tls, tls), "start"],
                       check=True, capture_output=True)
        with open(os.path.join(self.data, "postmaster.pid")) as f:
            self.postmaster = int(f.readline())
        subprocess.run([self.tool("psql"), "-h", "127.0.0.1", "-p", PG_PORT, "-U", "postgres",
                        "-q", "-c", "CREATE EXTENSION IF NOT EXISTS pgcrypto", "postgres"],
                       check=True, capture_output=True)

    def tool(self, name):
        return os.path.join(self.bin, name)

    def stop(self):
        subprocess.run(self.as_user + [self.tool("pg_ctl"), "-D", self.data, "-m", "fast",
                                       "stop"], capture_output=True)

    def cpu(self):
        return cluster_cpu(self.postmaster)

    def pgbench(self, work, clients, mode):
        script = os.path.join(self.scratch, work + ".sql")
        with open(script, "w") as f:
            f.write(PG_SCRIPTS[work])
        logs = tempfile.mkdtemp(dir=self.scratch)
        out = subprocess.run([self.tool("pgbench"), "-n", "-M", "prepared", "-h", "127.0.0.1",
                              "-p", PG_PORT, "-U", "postgres", "-c", str(clients), "-j",
                              str(clients), "-T", str(max(1, round(SECONDS))), "-f", script,
                              "-l", "--log-prefix=" + os.path.join(logs, "tx"), "postgres"],
                             capture_output=True, text=True, timeout=SECONDS + 60,
                             env={**os.environ,
                                  "PGSSLMODE": "require" if mode == "tls" else "disable"})
        if out.returncode != 0:
            raise RuntimeError("pgbench failed: " + out.stderr)
        calls = int(re.search(r"number of transactions actually processed: (\d+)",
                              out.stdout).group(1))
        tps = float(re.search(r"tps = ([0-9.]+)", out.stdout).group(1))
        latencies = []
        for name in os.listdir(logs):
            with open(os.path.join(logs, name)) as f:
                latencies += [float(line.split()[2]) for line in f if line.strip()]
        shutil.rmtree(logs)
        return {"calls": calls, "calls_per_second": tps, "p50_us": percentile(latencies, 0.50),
                "p99_us": percentile(latencies, 0.99)}


def main():
    scratch = tempfile.mkdtemp(prefix="varrow-load-")
    certs = tls_certs.make(os.path.join(scratch, "tls"))
    conf = {}
    for mode, lines in [("clear", ""), ("tls", "    encryption = require\n")]:
        conf[mode] = os.path.join(scratch, "freetds-%s.conf" % mode)
        with open(conf[mode], "w") as f:
            f.write("[global]\n    tds version = 7.4\n" + lines)
    servers, ports, balanced, fronts = {}, {}, {}, {}
    for mode, args in [("clear", []),
                       ("tls", ["--tls-cert", certs["server.pem"], "--tls-key",
                                certs["server.key"]])]:
        servers[mode], ports[mode] = start_varrowd(*args)
        if shutil.which("haproxy"):
            balanced[mode], fronts[mode] = start_haproxy(scratch, mode, args)
    if not balanced:
        log("haproxy not found: no column through a balancer (Debian: haproxy)")
    dblib = os.path.join(BIN, "varrow_tds_load")
    if not os.access(dblib, os.X_OK):
        log("varrow_tds_load not built (FreeTDS's db-lib missing): no db-lib column")
        dblib = None
    bindir, why = Postgres.find()
    pg = None
    try:
        if bindir:
            try:
                pg = Postgres(bindir, scratch, certs)
            except (subprocess.CalledProcessError, OSError) as e:
                why = "cannot start a cluster with pgcrypto (%s)" % e
        if not pg:
            log("PostgreSQL comparison skipped: " + why)
        load_start = os.getloadavg()
        cells = []
        for work in WORKS:
            for clients in CLIENTS:
                for mode in MODES:
                    varrowd_cpu = (lambda pid: lambda: cpu_of(pid))(servers[mode].pid)
                    address = "127.0.0.1:%d" % ports[mode]
                    cell = {"work": work, "clients": clients, "mode": mode}
                    cell["varrowd"] = measured(lambda: run_generator(
                        [os.path.join(BIN, "varrow_rpc_load"), address, str(clients),
                         str(SECONDS), work, mode]), varrowd_cpu)
                    if mode in balanced and clients in BALANCED_CLIENTS:
                        a, b, haproxy = balanced[mode]
                        cell["varrowd_haproxy"] = measured(lambda: run_generator(
                            [os.path.join(BIN, "varrow_rpc_load"), "127.0.0.1:%d" % fronts[mode],
                             str(clients), str(SECONDS), work, mode]),
                            lambda: cpu_of(a.pid) + cpu_of(b.pid), lambda: cpu_of(haproxy.pid))
                    if dblib:
                        cell["varrowd_dblib"] = measured(lambda: run_generator(
                            [dblib, address, str(clients), str(SECONDS), work],
                            {"FREETDSCONF": conf[mode]}), varrowd_cpu)
                    if pg:
                        cell["postgres"] = measured(lambda: pg.pgbench(work, clients, mode),
                                                    pg.cpu)
                    log("%s %s %d clients: %s" % (work, mode, clients, ", ".join(
                        "%s %.0f calls/s %.1f µs CPU" % (k, v["calls_per_second"],
                                                         v["server_cpu_us"])
                        for k, v in cell.items() if isinstance(v, dict))))
                    cells.append(cell)
        with open(OUT, "w") as f:
            json.dump({"seconds": SECONDS, "cores": os.cpu_count(),
                       "load_start": load_start, "load_end": os.getloadavg(),
                       "postgres": bool(pg), "postgres_skipped": "" if pg else why,
                       "postgres_version": subprocess.run(
                           [os.path.join(bindir, "postgres"), "--version"], capture_output=True,
                           text=True).stdout.strip() if pg else "",
                       "cells": cells}, f, indent=1)
    finally:
        if pg:
            pg.stop()
        for server in list(servers.values()) + sum(balanced.values(), []):
            server.terminate()
            server.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
