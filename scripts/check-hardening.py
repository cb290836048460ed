#!/usr/bin/env python3
"""Checks the hardening of the Linux binaries.

readelf shows what the linker did: every binary has a GNU_RELRO segment and is
bound at load (BIND_NOW), so its relocations become read-only before any code
runs. The stack canaries and glibc's checked copies leave no mark of their
own in a binary that happens to have no function needing one, so the build's
compile commands are checked for their flags, and the binaries that keep
fixed-size buffers on the stack by design (--canary) must call
__stack_chk_fail.
"""
import argparse
import json
import os
import subprocess
import sys


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True,
                          text=True).stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--compile-commands", required=True)
    parser.add_argument("--sources", required=True, help="folders whose compile commands count")
    parser.add_argument("--fortify", choices=["ON", "OFF"], required=True)
    parser.add_argument("--canary", action="append", default=[])
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    failures = []

    for binary in args.binaries + args.canary:
        name = os.path.basename(binary)
        if "GNU_RELRO" not in readelf("-l", binary):
            failures.append(f"{name}: no GNU_RELRO segment")
        dynamic = readelf("-d", binary)
        if "BIND_NOW" not in dynamic and "Flags: NOW" not in dynamic:
            failures.append(f"{name}: not bound at load (no BIND_NOW)")
    for binary in args.canary:
        if "__stack_chk_fail" not in readelf("--dyn-syms", binary):
            failures.append(f"{os.path.basename(binary)}: no stack canary (__stack_chk_fail)")

    wanted = ["-fstack-protector-strong"]
    if args.fortify == "ON":
        wanted.append("-D_FORTIFY_SOURCE=2")
    folders = [os.path.join(os.path.abspath(f), "") for f in args.sources.split(";")]
    with open(args.compile_commands) as f:
        commands = [c for c in json.load(f)
                    if any(os.path.abspath(c["file"]).startswith(d) for d in folders)]
    if not commands:
        failures.append("no compile commands for " + args.sources)
    for c in commands:
        words = c.get("command", " ".join(c.get("arguments", []))).split()
        for flag in wanted:
            if flag not in words:
                failures.append(f"{c['file']}: compiled without {flag}")

    for failure in failures:
        print(failure)
    print(f"{len(args.binaries) + len(args.canary)} binaries, {len(commands)} sources checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
