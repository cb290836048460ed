"""Makes the certificates of the TLS tests with the openssl command, as an
operator would: a CA, a server certificate it signs for localhost and
127.0.0.1, a second CA that trusts nothing of the server's, and an expired
server certificate.

usage: tls_certs.py FOLDER   (writes ca.pem, server.pem, server.key,
                              other-ca.pem, expired.pem, expired.key)
"""
import os
import subprocess
import sys

EC_KEY = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make(folder):
    os.makedirs(folder, exist_ok=True)
    for ca in ["ca", "other-ca"]:
        openssl("req", "-x509", *EC_KEY, "-keyout", ca + ".key", "-out", ca + ".pem",
                "-subj", "/CN=Varrow test " + ca, "-days", "2",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                "extendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n")
    for name in ["server", "expired"]:
        openssl("req", *EC_KEY, "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/CN=localhost", cwd=folder)
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.pem",
            cwd=folder)
    # Only `openssl ca` sets dates in the past: a throwaway CA database.
    with open(os.path.join(folder, "index.txt"), "w"):
        pass
    with open(os.path.join(folder, "expired.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\n"
                "serial = expired.srl\ndefault_md = sha256\npolicy = any\n"
                "[any]\ncommonName = supplied\n")
    with open(os.path.join(folder, "expired.srl"), "w") as f:
        f.write("01\n")
    openssl("ca", "-batch", "-config", "expired.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
            "-in", "expired.csr", "-out", "expired.pem", "-notext",
            "-startdate", "20200101000000Z", "-enddate", "20200102000000Z", cwd=folder)
    for key in ["ca.key", "other-ca.key", "server.key", "expired.key"]:  # as OpenSSL 3 makes them
        os.chmod(os.path.join(folder, key), 0o600)
    return {name: os.path.join(folder, name) for name in
            ["ca.pem", "server.pem", "server.key", "other-ca.pem", "expired.pem", "expired.key"]}


if __name__ == "__main__":
    make(sys.argv[1])
