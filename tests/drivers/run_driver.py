"""Runs one driver's test program against varrowd.

usage: run_driver.py DRIVER [--encryption off|require|strict] [--cafile FILE]
                            [--server-arg ARG]...

Unless VARROW_TEST_PORT is set (a server already running), it starts varrowd
(VARROWD, VARROW_LIBRARY) on a free loopback port with a login of its own,
passing each --server-arg on (a certificate, say), and checks that the server
stops cleanly afterwards. The driver program reads its connection settings
from the environment only, so that every driver test runs unchanged with or
without encryption:

  VARROW_TEST_HOST, VARROW_TEST_PORT, VARROW_TEST_USER, VARROW_TEST_PASSWORD
  VARROW_TEST_ENCRYPTION  off, require (TLS after PRELOGIN) or strict (TDS 8.0)
  VARROW_TEST_CAFILE      the CA certificate to trust, when encrypting
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"  # Debian's, which has the driver packages

# Each driver's test program, run from this folder.
DRIVERS = {
    "pytds": [PYTHON, "python/pytds_test.py"],
    "pymssql": [PYTHON, "python/pymssql_test.py"],
    "tsql": [PYTHON, "python/tsql_test.py"],
    "pyodbc": [PYTHON, "python/pyodbc_test.py"],
    "sqlalchemy": [PYTHON, "python/sqlalchemy_test.py"],
    "php_odbc": [PYTHON, "python/php_odbc_test.py"],
    "tedious": ["node", "--test", "--test-reporter=tap", "node/tedious_test.js"],
    "mssql": ["node", "--test", "--test-reporter=tap", "node/mssql_test.js"],
    "jtds": ["java", "-cp", "/usr/share/java/jtds.jar", "java/JtdsTest.java"],
}


def start_server(server_args, user, password):
    command = [os.environ["VARROWD"], "--listen", "127.0.0.1:0",
               "--library", os.environ["VARROW_LIBRARY"], "--user", user,
               "--key-dir", tempfile.gettempdir(), *server_args]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True,
                               env={**os.environ, "VARROW_PASSWORD": password})
    line = process.stdout.readline()
    if "listening on" not in line:
        process.kill()
        raise SystemExit("varrowd did not start: " + line)
    return process, int(line.rsplit(":", 1)[1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("driver", choices=sorted(DRIVERS))
    parser.add_argument("--encryption", choices=["off", "require", "strict"], default="off")
    parser.add_argument("--cafile", default="")
    parser.add_argument("--server-arg", action="append", default=[])
    args = parser.parse_args()

    env = dict(os.environ)
    env.setdefault("VARROW_TEST_HOST", "127.0.0.1")
    env.setdefault("VARROW_TEST_USER", "varrow")
    env.setdefault("VARROW_TEST_PASSWORD", "s3cret pass")
    env["VARROW_TEST_ENCRYPTION"] = args.encryption
    env["VARROW_TEST_CAFILE"] = args.cafile
    server = None
    if "VARROW_TEST_PORT" not in env:
        server, port = start_server(args.server_arg, env["VARROW_TEST_USER"],
                                    env["VARROW_TEST_PASSWORD"])
        env["VARROW_TEST_PORT"] = str(port)
    try:
        result = subprocess.run(DRIVERS[args.driver], cwd=HERE, env=env, timeout=240)
    finally:
        if server is not None:
            server.terminate()
            server.wait(timeout=10)
            server.stdout.close()
    if server is not None and server.returncode != 0:
        print("varrowd did not stop cleanly: exit", server.returncode)
        return 1
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
