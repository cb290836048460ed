#!/usr/bin/env python3
"""varrowd beside PostgreSQL 15 with pgcrypto, doing the same work per call
(AES-128-ECB of 100 bytes with a given key; MD5 of 100 bytes), both on
loopback, at 1, 8 and 32 concurrent clients, in clear and in TLS (varrowd
with a certificate and FreeTDS's `encryption = require`, PostgreSQL with
ssl=on and sslmode=require). Starts and stops the servers.

Usage: compare.py BUILD_BIN_DIR [SECONDS]    (run as root: PostgreSQL runs as
the postgres user). Prints a Markdown table and writes compare.json beside
the build."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "tds"))
import tls_certs  # noqa: E402 - the certificates the TLS tests make

BIN = os.path.abspath(sys.argv[1])
SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
CLIENTS = [1, 8, 32]
PG_BIN = "/usr/lib/postgresql/15/bin"
PG_PORT = "54329"
PG_SCRIPTS = {
    "aes": "\\set r random(1, 1000000)\n"
           "SELECT encrypt(convert_to(lpad(CAST(:r AS text), 100, 'x'), 'SQL_ASCII'), "
           "decode('000102030405060708090a0b0c0d0e0f', 'hex'), 'aes-ecb');  -- PKCS padding is the default\n",
    "md5": "\\set r random(1, 1000000)\n"
           "SELECT digest(lpad(CAST(:r AS text), 100, 'x'), 'md5');\n",
}


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p * len(values)))] if values else 0


def run_varrowd(port, work, clients, freetds_conf):
    out = subprocess.run([os.path.join(BIN, "varrow_tds_load"), "127.0.0.1:%d" % port,
                          str(clients), str(SECONDS), work],
                         capture_output=True, text=True, timeout=SECONDS + 60,
                         env={**os.environ, "FREETDSCONF": freetds_conf}).stdout
    fields = dict(item.split("=") for item in out.split())
    if fields["failures"] != "0":
        raise RuntimeError("varrowd calls failed: " + out)
    return (float(fields["calls_per_second"]), float(fields["p50_us"]), float(fields["p99_us"]))


def run_pgbench(work, clients, scratch, sslmode):
    script = os.path.join(scratch, work + ".sql")
    with open(script, "w") as f:
        f.write(PG_SCRIPTS[work])
    logs = os.path.join(scratch, "log-%s-%d-%s" % (work, clients, sslmode))
    os.makedirs(logs, exist_ok=True)
    out = subprocess.run([PG_BIN + "/pgbench", "-n", "-M", "prepared", "-h", "127.0.0.1", "-p", PG_PORT,
                          "-U", "postgres", "-c", str(clients), "-j", str(clients),
                          "-T", str(SECONDS), "-f", script, "-l",
                          "--log-prefix=" + os.path.join(logs, "tx"), "postgres"],
                         capture_output=True, text=True, timeout=SECONDS + 60,
                         env={**os.environ, "PGSSLMODE": sslmode})
    if out.returncode != 0:
        raise RuntimeError("pgbench failed: " + out.stderr)
    tps = float(re.search(r"tps = ([0-9.]+)", out.stdout).group(1))
    latencies = []
    for name in os.listdir(logs):
        with open(os.path.join(logs, name)) as f:
            latencies += [float(line.split()[2]) for line in f if line.strip()]
    return tps, percentile(latencies, 0.50), percentile(latencies, 0.99)


def main():
    scratch = tempfile.mkdtemp(prefix="varrow-load-")
    os.chmod(scratch, 0o777)
    certs = tls_certs.make(os.path.join(scratch, "tls"))
    conf = {}
    for name, lines in [("clear", ""), ("tls", "    encryption = require\n")]:
        conf[name] = os.path.join(scratch, "freetds-%s.conf" % name)
        with open(conf[name], "w") as f:
            f.write("[global]\n    tds version = 7.4\n" + lines)
    servers, ports = [], {}
    for name, args in [("clear", []),
                       ("tls", ["--tls-cert", certs["server.pem"], "--tls-key", certs["server.key"]])]:
        servers.append(subprocess.Popen([os.path.join(BIN, "varrowd"), "--listen", "127.0.0.1:0",
                                         *args], stdout=subprocess.PIPE, text=True))
        ports[name] = int(servers[-1].stdout.readline().rsplit(":", 1)[1])
    # PostgreSQL reads its key only when the postgres user owns it alone.
    pg_tls = os.path.join(scratch, "pg-tls")
    os.makedirs(pg_tls)
    for name in ["server.pem", "server.key"]:
        shutil.copy(certs[name], pg_tls)
        shutil.chown(os.path.join(pg_tls, name), "postgres")
        os.chmod(os.path.join(pg_tls, name), 0o600)
    data = os.path.join(scratch, "pg")
    as_postgres = ["runuser", "-u", "postgres", "--"]
    try:
        subprocess.run(as_postgres + [PG_BIN + "/initdb", "-D", data, "-A", "trust",
                                      "--no-sync"], check=True, capture_output=True)
        subprocess.run(as_postgres + [PG_BIN + "/pg_ctl", "-D", data, "-w", "-l",
                                      os.path.join(scratch, "pg.log"), "-o",
                                      "-p %s -k %s -c listen_addresses=127.0.0.1 "
                                      "-c max_connections=100 -c fsync=off -c ssl=on "
                                      "-c ssl_cert_file=%s/server.pem -c ssl_key_file=%s/server.key"
                                      % (PG_PORT, scratch, pg_tls, pg_tls),
                                      "start"], check=True, capture_output=True)
        subprocess.run([PG_BIN + "/psql", "-h", "127.0.0.1", "-p", PG_PORT, "-U", "postgres", "-q", "-c",
                        "CREATE EXTENSION IF NOT EXISTS pgcrypto"], check=True)
        results = []
        for work in ["aes", "md5"]:
            for clients in CLIENTS:
                row = {"work": work, "clients": clients}
                for mode, sslmode in [("clear", "disable"), ("tls", "require")]:
                    v = run_varrowd(ports[mode], work, clients, conf[mode])
                    p = run_pgbench(work, clients, scratch, sslmode)
                    for server, r in [("varrowd", v), ("postgres", p)]:
                        row[server + ("_tls" if mode == "tls" else "")] = {
                            "calls_per_second": r[0], "p50_us": r[1], "p99_us": r[2]}
                results.append(row)
        columns = [("varrowd", "varrowd"), ("varrowd_tls", "varrowd TLS"),
                   ("postgres", "PostgreSQL"), ("postgres_tls", "PostgreSQL TLS")]
        works = {"aes": "AES-128-ECB, 100 B", "md5": "MD5, 100 B"}
        print("Calls per second (TLS: varrowd with a certificate, db-lib with `encryption = "
              "require`, TLS 1.2 as TDS 7.x negotiates it; PostgreSQL with `ssl=on` and "
              "`sslmode=require`, TLS 1.3; each client connects once):\n")
        print("| work | clients | " + " | ".join(title for _, title in columns) + " |")
        print("|---|---|" + "---|" * len(columns))
        for r in results:
            print("| %s | %d | " % (works[r["work"]], r["clients"]) +
                  " | ".join("%.0f" % r[key]["calls_per_second"] for key, _ in columns) + " |")
        print("\nLatency, p50 / p99 (µs):\n")
        print("| work | clients | " + " | ".join(title for _, title in columns) + " |")
        print("|---|---|" + "---|" * len(columns))
        for r in results:
            print("| %s | %d | " % (works[r["work"]], r["clients"]) +
                  " | ".join("%.0f / %.0f" % (r[key]["p50_us"], r[key]["p99_us"])
                             for key, _ in columns) + " |")
        print("\nLoad average (5 minutes) at the end of the run: %.1f on %d cores; the "
              "machine is shared, so single runs move by a third or more." %
              (os.getloadavg()[1], os.cpu_count()))
        with open(os.path.join(BIN, "compare.json"), "w") as f:
            json.dump(results, f, indent=1)
    finally:
        subprocess.run(as_postgres + [PG_BIN + "/pg_ctl", "-D", data, "-m", "fast", "stop"],
                       capture_output=True)
        for server in servers:
            server.terminate()
            server.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
