#!/usr/bin/env python3
"""varrowd beside PostgreSQL 15 with pgcrypto, doing the same work per call
(AES-128-ECB of 100 bytes with a given key; MD5 of 100 bytes), both on
loopback, at 1, 8 and 32 concurrent clients. Starts and stops both servers.

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


def run_varrowd(port, work, clients):
    out = subprocess.run([os.path.join(BIN, "varrow_tds_load"), "127.0.0.1:%d" % port,
                          str(clients), str(SECONDS), work],
                         capture_output=True, text=True, timeout=SECONDS + 60).stdout
    fields = dict(item.split("=") for item in out.split())
    if fields["failures"] != "0":
        raise RuntimeError("varrowd calls failed: " + out)
    return (float(fields["calls_per_second"]), float(fields["p50_us"]), float(fields["p99_us"]))


def run_pgbench(work, clients, scratch):
    script = os.path.join(scratch, work + ".sql")
    with open(script, "w") as f:
        f.write(PG_SCRIPTS[work])
    logs = os.path.join(scratch, "log-%s-%d" % (work, clients))
    os.makedirs(logs, exist_ok=True)
    out = subprocess.run([PG_BIN + "/pgbench", "-n", "-M", "prepared", "-h", "127.0.0.1", "-p", PG_PORT,
                          "-U", "postgres", "-c", str(clients), "-j", str(clients),
                          "-T", str(SECONDS), "-f", script, "-l",
                          "--log-prefix=" + os.path.join(logs, "tx"), "postgres"],
                         capture_output=True, text=True, timeout=SECONDS + 60)
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
    varrowd = subprocess.Popen([os.path.join(BIN, "varrowd"), "--listen", "127.0.0.1:0"],
                               stdout=subprocess.PIPE, text=True)
    port = int(varrowd.stdout.readline().rsplit(":", 1)[1])
    data = os.path.join(scratch, "pg")
    as_postgres = ["runuser", "-u", "postgres", "--"]
    try:
        subprocess.run(as_postgres + [PG_BIN + "/initdb", "-D", data, "-A", "trust",
                                      "--no-sync"], check=True, capture_output=True)
        subprocess.run(as_postgres + [PG_BIN + "/pg_ctl", "-D", data, "-w", "-l",
                                      os.path.join(scratch, "pg.log"), "-o",
                                      "-p %s -k %s -c listen_addresses=127.0.0.1 "
                                      "-c max_connections=100 -c fsync=off" % (PG_PORT, scratch),
                                      "start"], check=True, capture_output=True)
        subprocess.run([PG_BIN + "/psql", "-h", "127.0.0.1", "-p", PG_PORT, "-U", "postgres", "-q", "-c",
                        "CREATE EXTENSION IF NOT EXISTS pgcrypto"], check=True)
        results = []
        for work in ["aes", "md5"]:
            for clients in CLIENTS:
                v = run_varrowd(port, work, clients)
                p = run_pgbench(work, clients, scratch)
                results.append({"work": work, "clients": clients,
                                "varrowd": {"calls_per_second": v[0], "p50_us": v[1], "p99_us": v[2]},
                                "postgres": {"calls_per_second": p[0], "p50_us": p[1], "p99_us": p[2]}})
        print("| work | clients | varrowd calls/s | PostgreSQL calls/s | varrowd p50 / p99 (µs) "
              "| PostgreSQL p50 / p99 (µs) |")
        print("|---|---|---|---|---|---|")
        for r in results:
            v, p = r["varrowd"], r["postgres"]
            print("| %s | %d | %.0f | %.0f | %.0f / %.0f | %.0f / %.0f |" % (
                "AES-128-ECB, 100 B" if r["work"] == "aes" else "MD5, 100 B", r["clients"],
                v["calls_per_second"], p["calls_per_second"], v["p50_us"], v["p99_us"],
                p["p50_us"], p["p99_us"]))
        with open(os.path.join(BIN, "compare.json"), "w") as f:
            json.dump(results, f, indent=1)
    finally:
        subprocess.run(as_postgres + [PG_BIN + "/pg_ctl", "-D", data, "-m", "fast", "stop"],
                       capture_output=True)
        varrowd.terminate()
        varrowd.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
