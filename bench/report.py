#!/usr/bin/env python3
"""Turns one run of bench/run.sh (Google Benchmark JSON, the load comparison's
JSON) into docs/performance.md and its two plots. Every table here is made
from that run; the tables measured by hand are committed files under
bench/results/, included with their commands and marked as such.
Usage: report.py RESULTS_DIR DOCS_DIR"""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
HAND = os.path.join(HERE, "results")
results, docs = sys.argv[1], sys.argv[2]

# Okabe and Ito's palette, told apart with the common colour-vision
# deficiencies; every series also differs in marker or dash.
BLUE, VERMILLION, GREEN, PURPLE, ORANGE, SKY, YELLOW, BLACK = (
    "#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#F0E442", "#000000")


def load_bench(name):
    with open(os.path.join(results, name)) as f:
        data = json.load(f)
    # Of the repetitions of each benchmark the fastest, least disturbed by
    # whatever else the machine was doing.
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        key = b.get("run_name", b["name"])
        if key not in runs or b["real_time"] < runs[key]["real_time"]:
            runs[key] = b
    return data["context"], runs


context, prim = load_bench("primitives.json")
_, prim_hw_off = load_bench("primitives_hw_off.json")
_, procs = load_bench("procedures.json")
compare_file = os.path.join(results, "compare.json")
load = json.load(open(compare_file)) if os.path.exists(compare_file) else None
ghz = float(context.get("core_ghz", "0"))


def us_per_call(name):
    return 1e6 / procs[name]["items_per_second"]


def mbps(runs, name):
    return runs[name]["bytes_per_second"] / 1e6


def cell(work, clients, mode):
    for c in load["cells"]:
        if (c["work"], c["clients"], c["mode"]) == (work, clients, mode):
            return c
    return None


def fmt(v, digits=1):
    return "%.*f" % (digits, v)


def count(v):
    return "{:,}".format(int(round(v)))


lines = []
out = lines.append

out("# Performance\n")
out("What a call costs, from one run of `bench/run.sh` on the machine named below; "
    "every table on this page comes from that run unless it says *measured by hand*. "
    "Reproduce with:\n")
out("    bench/run.sh [SECONDS_PER_LOAD_CELL]   # builds, runs everything, rewrites this page "
    "and its plots\n")
out("Context: %s, %s CPUs (shared with other work: single runs move by a third), core clock "
    "measured in the run %.2f GHz, Google Benchmark %s.%s\n" % (
        context.get("host_name", "?"), context.get("num_cpus", "?"), ghz,
        context.get("library_version", context.get("library_build_type", "?")),
        " Load average (1 and 5 minutes) %.1f and %.1f at the start of the load comparison, "
        "%.1f and %.1f at its end." % (load["load_start"][0], load["load_start"][1],
                                       load["load_end"][0], load["load_end"][1])
        if load else ""))

# -- What a call costs -------------------------------------------------------
out("## What a call costs\n")
out("### In-process (the `varrow` host, one thread)\n")
out("The call object built, the exported procedure run, its reply recorded, as the host does "
    "for every call; the fastest of five repetitions.\n")
out("| procedure | input (bytes) | µs per call | calls per second |")
out("|---|---:|---:|---:|")
typical = [
    ("xp_AES_Encrypt, AES-128 key", "xp_AES_Encrypt/bytes:%d/key:0", [16, 100, 1000, 7999]),
    ("xp_AES_Encrypt, AES-256 key", "xp_AES_Encrypt/bytes:%d/key:2", [100, 7999]),
    ("xp_AES_Decrypt, AES-128 key", "xp_AES_Decrypt/bytes:%d/key:0", [16, 112, 1008, 8000]),
    ("xp_MD5_Encrypt", "xp_MD5_Encrypt/%d", [16, 100, 1000, 8000]),
    ("xp_SHA1_Encrypt", "xp_SHA1_Encrypt/%d", [16, 100, 1000, 8000]),
    ("xp_hexstr", "xp_hexstr/%d", [16, 100, 1000, 4000]),
]
for label, pattern, sizes in typical:
    for size in sizes:
        name = pattern % size
        if name in procs:
            out("| %s | %d | %.2f | %s |" % (label, size, us_per_call(name),
                                             count(procs[name]["items_per_second"])))

if load:
    out("\n### Through varrowd, beside PostgreSQL with pgcrypto\n")
    out("The same work per call on both servers over loopback: AES-128-ECB of 100 bytes with a "
        "given key (PKCS#7 padding), and MD5 of 100 bytes. *µs per call* is the median latency "
        "of one client calling back to back; *calls per second* and *server CPU* are at 8 "
        "clients. Server CPU per call is the server's user and system time over the run "
        "divided by its calls: the figure that does not depend on the client. varrowd is "
        "driven by `varrow_rpc_load` (raw RPC requests; TLS as TDS 8.0, TLS 1.3), PostgreSQL "
        "by pgbench with prepared statements (TLS with `sslmode=require`, TLS 1.3).\n")
    if not load["postgres"]:
        out("PostgreSQL was not measured in this run: %s.\n" % load["postgres_skipped"])
    out("| work | server | clear: µs per call | clear: calls per second | clear: server CPU "
        "(µs per call) | TLS: µs per call | TLS: calls per second | TLS: server CPU "
        "(µs per call) |")
    out("|---|---|---:|---:|---:|---:|---:|---:|")
    servers = [("varrowd", "varrowd")] + ([("postgres", "PostgreSQL")] if load["postgres"] else [])
    for work, title in [("aes", "AES-128, 100 B"), ("md5", "MD5, 100 B")]:
        for key, name in servers:
            row = [title, name]
            for mode in ["clear", "tls"]:
                one, eight = cell(work, 1, mode)[key], cell(work, 8, mode)[key]
                row += [fmt(one["p50_us"]), count(eight["calls_per_second"]),
                        fmt(eight["server_cpu_us"])]
            out("| " + " | ".join(row) + " |")
    out("\n![Calls per second and server CPU per call against clients](performance-load.svg)\n")

# -- The load comparison in full ---------------------------------------------
if load:
    out("## varrowd and PostgreSQL under load\n")
    out("Every cell ran %g s; each client connects once. Generators: **lean** is "
        "`varrow_rpc_load`, raw TDS RPC requests built once and sent with one `send` per call "
        "(TLS: TDS 8.0, TLS 1.3 before any TDS packet); **db-lib** is FreeTDS's db-lib as "
        "applications use it (`bench/load/tds_load.cpp`; TLS: `encryption = require`, TDS 7.x, "
        "TLS 1.2 inside PRELOGIN); **pgbench** drives %s with pgcrypto (`-M prepared`; TLS: "
        "`ssl=on`, `sslmode=require`, TLS 1.3). The generator runs on the same two cores as the "
        "server, so its own CPU (last column) is taken from what the server could have had. "
        "Server CPU: varrowd's process; for PostgreSQL the postmaster, every process of the "
        "cluster and the backends that ended in the run (connection start-up included on "
        "both sides).\n" % (load["seconds"], load["postgres_version"] or "PostgreSQL"))
    generators = [("varrowd", "varrowd, lean"), ("varrowd_dblib", "varrowd, db-lib"),
                  ("varrowd_haproxy", "2 × varrowd via HAProxy, lean"),
                  ("postgres", "PostgreSQL, pgbench")]
    for work, title in [("aes", "AES-128-ECB of 100 bytes"), ("md5", "MD5 of 100 bytes")]:
        out("### %s\n" % title)
        out("| clients | TLS | server, generator | calls per second | p50 (µs) | p99 (µs) | "
            "server CPU (µs per call) | generator CPU (µs per call) |")
        out("|---:|---|---|---:|---:|---:|---:|---:|")
        for clients in sorted({c["clients"] for c in load["cells"]}):
            for mode in ["clear", "tls"]:
                c = cell(work, clients, mode)
                for key, name in generators:
                    if key not in c:
                        continue
                    r = c[key]
                    out("| %d | %s | %s | %s | %s | %s | %s | %s |" % (
                        clients, "yes" if mode == "tls" else "no", name,
                        count(r["calls_per_second"]), fmt(r["p50_us"]), fmt(r["p99_us"], 0),
                        fmt(r["server_cpu_us"]), fmt(r["client_cpu_us"])))
        out("")
    balanced = [c for c in load["cells"] if "varrowd_haproxy" in c]
    if balanced:
        out("### Through HAProxy\n")
        out("*2 × varrowd via HAProxy* calls through HAProxy in TCP mode (one thread, round "
            "robin, `send-proxy-v2`, TLS passed through) in front of two varrowd instances on the "
            "same machine (`docs/deploy.md`'s arrangement without its health checks); its server "
            "CPU is the two instances'. What the balancer costs per call, beside one instance "
            "called directly (lean generator):\n")
        out("| work | TLS | clients | p50 direct (µs) | p50 via HAProxy (µs) | calls per second "
            "direct | via HAProxy | HAProxy CPU (µs per call) |")
        out("|---|---|---:|---:|---:|---:|---:|---:|")
        for c in balanced:
            direct, via = c["varrowd"], c["varrowd_haproxy"]
            title = {"aes": "AES-128, 100 B", "md5": "MD5, 100 B"}[c["work"]]
            out("| %s | %s | %d | %s | %s | %s | %s | %s |" % (
                title, "yes" if c["mode"] == "tls" else "no", c["clients"],
                fmt(direct["p50_us"]), fmt(via["p50_us"]), count(direct["calls_per_second"]),
                count(via["calls_per_second"]), fmt(via["balancer_cpu_us"])))
        out("")
    if load["postgres"]:
        out("varrowd's server CPU per call against PostgreSQL's for the same work (lean "
            "generator; below 1 means varrowd spends less):\n")
        out("| work | TLS | " + " | ".join(("%d client" if n == 1 else "%d clients") % n for n in sorted(
            {c["clients"] for c in load["cells"]})) + " |")
        out("|---|---|" + "---:|" * len({c["clients"] for c in load["cells"]}))
        for work, title in [("aes", "AES-128, 100 B"), ("md5", "MD5, 100 B")]:
            for mode in ["clear", "tls"]:
                ratios = []
                for clients in sorted({c["clients"] for c in load["cells"]}):
                    c = cell(work, clients, mode)
                    ratios.append("%.2f×" % (c["varrowd"]["server_cpu_us"] /
                                             c["postgres"]["server_cpu_us"]))
                out("| %s | %s | %s |" % (title, "yes" if mode == "tls" else "no",
                                          " | ".join(ratios)))
        out("")

# -- Primitives --------------------------------------------------------------
def nominal_ghz():
    """The processor's rated clock from its model name ("... @ 2.80GHz"), or 0."""
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name") and "GHz" in line:
                return float(line.rsplit("@", 1)[1].strip().replace("GHz", ""))
    except (OSError, ValueError, IndexError):
        pass
    return 0.0


rated = nominal_ghz()
out("## Primitives\n")
out("8000-byte inputs unless the name gives a size. Cycles per byte = time per byte × the "
    "clock measured in the run (%.2f GHz); on a busy machine that measurement reads low, so "
    "the next column gives the same at the processor's rated clock (%.2f GHz). Targets are in "
    "cycles per byte.\n" % (ghz, rated))
out("| operation | MB/s | cycles per byte, measured clock | cycles per byte, rated clock | "
    "target (cycles per byte) |")
out("|---|---:|---:|---:|---:|")
targets = {"aes_ecb/bytes:8000/bits:128/encrypt:1": "≤ 55",
           "aes_ecb/bytes:8000/bits:128/encrypt:0": "≤ 80",
           "aes_ecb/bytes:8000/bits:256/encrypt:1": "≤ 75",
           "aes_ecb/bytes:8000/bits:256/encrypt:0": "≤ 110"}
for name in ["aes_encrypt_block/128", "aes_encrypt_block/192", "aes_encrypt_block/256",
             "aes_decrypt_block/128", "aes_decrypt_block/192", "aes_decrypt_block/256",
             "aes_ecb/bytes:8000/bits:128/encrypt:1", "aes_ecb/bytes:8000/bits:128/encrypt:0",
             "aes_ecb/bytes:8000/bits:256/encrypt:1", "aes_ecb/bytes:8000/bits:256/encrypt:0",
             "md5_digest/100", "md5_digest/8000", "sha1_digest/100", "sha1_digest/8000",
             "hex_key_decode"]:
    out("| `%s` | %.1f | %.1f | %s | %s |" % (
        name, mbps(prim, name), prim[name]["cycles/byte"],
        "%.1f" % (rated * 1e3 / mbps(prim, name)) if rated else "", targets.get(name, "")))

out("\n## Against OpenSSL, same run\n")
out("Ratio = Varrow's time ÷ OpenSSL's time for the same work (AES-ECB with PKCS#7 and a "
    "fresh key per call; one-shot digests), 8000 bytes. *Hardware paths off* is a second "
    "run with `OPENSSL_ia32cap=%s` (AES-NI, PCLMULQDQ, SHA extensions and AVX2 "
    "hidden from OpenSSL).\n" % open(os.path.join(results, "hw_off.txt")).read().strip())
out("| work | Varrow (MB/s) | OpenSSL (MB/s) | ratio (×) | OpenSSL, hardware off (MB/s) | "
    "ratio (×) | target (ratio) |")
out("|---|---:|---:|---:|---:|---:|---|")
pairs = [("AES-128 encrypt", "aes_ecb/bytes:8000/bits:128/encrypt:1",
          "openssl_aes_ecb/bytes:8000/bits:128/encrypt:1", ""),
         ("AES-128 decrypt", "aes_ecb/bytes:8000/bits:128/encrypt:0",
          "openssl_aes_ecb/bytes:8000/bits:128/encrypt:0", ""),
         ("AES-256 encrypt", "aes_ecb/bytes:8000/bits:256/encrypt:1",
          "openssl_aes_ecb/bytes:8000/bits:256/encrypt:1", ""),
         ("AES-256 decrypt", "aes_ecb/bytes:8000/bits:256/encrypt:0",
          "openssl_aes_ecb/bytes:8000/bits:256/encrypt:0", ""),
         ("MD5", "md5_digest/8000", "openssl_digest/bytes:8000/md:5", "≤ 1.15 (as it runs)"),
         ("SHA-1", "sha1_digest/8000", "openssl_digest/bytes:8000/md:1",
          "≤ 1.3 (hardware off)")]
for label, ours, theirs, target in pairs:
    o, t, h = mbps(prim, ours), mbps(prim, theirs), mbps(prim_hw_off, theirs)
    out("| %s | %.1f | %.1f | %.2f | %.1f | %.2f | %s |" % (label, o, t, t / o, h, h / o, target))

out("\n## Every procedure through the in-process host\n")
out("| procedure | input (bytes) | µs per call | calls per second | MB/s |")
out("|---|---:|---:|---:|---:|")
for name, b in procs.items():
    parts = name.split("/")
    size = parts[1].split(":")[-1] if len(parts) > 1 else "NULL"
    if "key:" in name:
        label = parts[0] + (" (AES-256)" if not name.endswith("key:0") else " (AES-128)")
    else:
        label = parts[0]
    out("| %s | %s | %.2f | %s | %.1f |" % (label, size, 1e6 / b["items_per_second"],
                                              count(b["items_per_second"]),
                                              b.get("bytes_per_second", 0) / 1e6))
out("\n![Throughput against input size](performance-throughput.svg)\n")

out("""## How the procedures work, and what limits them

The procedures run once per row of a query, so their cost multiplies. The
design fixes how they work: the AES key is expanded for every block, SubBytes
looks up the S-box, MixColumns multiplies through the log and exp tables with
a remainder by 255, there are no combined round tables; each digest makes one
heap working copy of the padded message and one pass over it. Within that, the
code is tuned: the tables are addressed directly, the key expansion is
specialised per key size, encryption keeps the state in four packed columns in
registers and takes a product by 3 as the product by 2 plus the byte, the
remainder by 255 is an end-around carry and a zero byte's products are masked
to zero instead of branched around, SHA-1 renames its five words instead of
moving them. MD5 runs at OpenSSL's speed; SHA-1 runs at about 20 instructions
per byte, against OpenSSL's SHA extensions or AVX code.

Through varrowd a call of 100 bytes is about one `recv` and one `send` on its
connection's thread; about half of the server CPU per call in the tables above
is the kernel's loopback TCP, the rest the procedure, the server's parsing and
reply and, in TLS, OpenSSL's record layer (see *Where varrowd's instructions
go per call* below).
""")

# -- Measured by hand ----------------------------------------------------------
out("## Measured by hand\n")
out("These tables are not rerun by `bench/run.sh`: each is a committed file under "
    "`bench/results/`, with the commands that measure it again.\n")
out("### AES instructions per block (callgrind)\n")
aes_file = os.path.join(HAND, "aes_instructions.md")
if os.path.exists(aes_file):
    out(open(aes_file).read().rstrip() + "\n")
else:
    out("*Not measured yet:* `bench/results/aes_instructions.md` appears here once committed.\n")
for name in ["varrowd_profile.md", "varrowd_before_after.md", "encryption_and_clearing.md",
             "varrowd_haproxy.md"]:
    path = os.path.join(HAND, name)
    if os.path.exists(path):
        out(open(path).read().rstrip() + "\n")

with open(os.path.join(docs, "performance.md"), "w") as f:
    f.write("\n".join(lines) + "\n")


# -- Plots, as SVG written here: no plotting program needed ----------------------
def svg_panel(x0, y0, w, h, title, xlabel, ylabel, series, logx=False, logy=False):
    """One panel: series is [(label, colour, dash, marker, [(x, y)...])]."""
    import math
    xs = [p[0] for s in series for p in s[4]]
    ys = [p[1] for s in series for p in s[4]]
    if not xs:
        return []
    tx = (lambda v: math.log10(v)) if logx else (lambda v: v)
    ty = (lambda v: math.log10(v)) if logy else (lambda v: v)
    xmin, xmax = tx(min(xs)), tx(max(xs))
    ymin = ty(min(ys)) if logy else 0.0
    ymax = ty(max(ys))
    if logy:
        ymin, ymax = math.floor(ymin), math.ceil(ymax)
    else:
        ymax *= 1.1
    xmin, xmax = (xmin - 0.05 * (xmax - xmin), xmax + 0.05 * (xmax - xmin)) if xmax > xmin \
        else (xmin - 1, xmax + 1)
    left, bottom = x0 + 70, y0 + h - 45
    pw, ph = w - 90, h - 80
    px = lambda v: left + (tx(v) - xmin) / (xmax - xmin) * pw  # noqa: E731
    py = lambda v: bottom - (ty(v) - ymin) / ((ymax - ymin) or 1) * ph  # noqa: E731
    e = ['<text x="%d" y="%d" font-size="14" font-weight="bold">%s</text>' % (left, y0 + 20,
                                                                              title),
         '<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#888"/>' % (
             left, bottom - ph, pw, ph)]
    # Axis ticks: the data's own x values; y in round steps.
    for v in sorted(set(xs)):
        e.append('<text x="%.1f" y="%d" font-size="11" text-anchor="middle">%g</text>' % (
            px(v), bottom + 16, v))
    if logy:
        ticks = [10 ** k for k in range(int(ymin), int(ymax) + 1)]
    else:
        step = 10 ** math.floor(math.log10(ymax / 4 or 1))
        for m in (1, 2, 5, 10):
            if ymax / (m * step) <= 6:
                step *= m
                break
        ticks = [k * step for k in range(0, int(ymax / step) + 1)]
    for v in ticks:
        y = bottom - (ty(v) - ymin) / ((ymax - ymin) or 1) * ph
        e.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ddd"/>' % (
            left, left + pw, y, y))
        e.append('<text x="%d" y="%.1f" font-size="11" text-anchor="end">%s</text>' % (
            left - 6, y + 4, "{:,}".format(v) if v >= 1 else "%g" % v))
    e.append('<text x="%d" y="%d" font-size="12" text-anchor="middle">%s</text>' % (
        left + pw / 2, bottom + 34, xlabel))
    e.append('<text transform="translate(%d,%d) rotate(-90)" font-size="12" '
             'text-anchor="middle">%s</text>' % (x0 + 16, bottom - ph / 2, ylabel))
    for label, colour, dash, marker, points in series:
        d = " ".join("%.1f,%.1f" % (px(x), py(y)) for x, y in points)
        e.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="2.5"%s/>' % (
            d, colour, ' stroke-dasharray="7,4"' if dash else ""))
        for x, y in points:
            if marker == "square":
                e.append('<rect x="%.1f" y="%.1f" width="9" height="9" fill="%s"/>' % (
                    px(x) - 4.5, py(y) - 4.5, colour))
            elif marker == "triangle":
                e.append('<polygon points="%.1f,%.1f %.1f,%.1f %.1f,%.1f" fill="%s"/>' % (
                    px(x), py(y) - 6, px(x) - 5.5, py(y) + 4, px(x) + 5.5, py(y) + 4, colour))
            else:
                e.append('<circle cx="%.1f" cy="%.1f" r="4.5" fill="%s"/>' % (px(x), py(y),
                                                                             colour))
    return e


def svg_legend(x, y, series):
    e = []
    for i, (label, colour, dash, marker, _) in enumerate(series):
        yy = y + 20 * i
        e.append('<line x1="%d" x2="%d" y1="%d" y2="%d" stroke="%s" stroke-width="2.5"%s/>' % (
            x, x + 34, yy, yy, colour, ' stroke-dasharray="7,4"' if dash else ""))
        e.append('<circle cx="%d" cy="%d" r="4.5" fill="%s"/>' % (x + 17, yy, colour)
                 if marker == "circle" else
                 '<rect x="%d" y="%d" width="9" height="9" fill="%s"/>' % (x + 12, yy - 4, colour)
                 if marker == "square" else
                 '<polygon points="%d,%d %d,%d %d,%d" fill="%s"/>' % (
                     x + 17, yy - 6, x + 12, yy + 4, x + 22, yy + 4, colour))
        e.append('<text x="%d" y="%d" font-size="12">%s</text>' % (x + 42, yy + 4, label))
    return e


def write_svg(path, width, height, elements):
    with open(path, "w") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'font-family="sans-serif">\n<rect width="100%%" height="100%%" fill="white"/>\n'
                % (width, height))
        f.write("\n".join(elements) + "\n</svg>\n")


if load:
    clients = sorted({c["clients"] for c in load["cells"]})
    styles = [("varrowd", "clear", "varrowd", BLUE, False, "circle"),
              ("varrowd", "tls", "varrowd, TLS", BLUE, True, "square"),
              ("postgres", "clear", "PostgreSQL", VERMILLION, False, "circle"),
              ("postgres", "tls", "PostgreSQL, TLS", VERMILLION, True, "square")]
    elements = []
    legend = []
    for row, (work, title) in enumerate([("aes", "AES-128 of 100 bytes"),
                                         ("md5", "MD5 of 100 bytes")]):
        for col, (metric, ylabel) in enumerate([("calls_per_second", "calls per second"),
                                                ("server_cpu_us", "server CPU, µs per call")]):
            series = []
            for key, mode, label, colour, dash, marker in styles:
                points = [(n, cell(work, n, mode)[key][metric]) for n in clients
                          if key in cell(work, n, mode)]
                if points:
                    series.append((label, colour, dash, marker, points))
            legend = legend or series
            elements += svg_panel(col * 450, row * 330, 450, 330, "%s: %s" % (title, ylabel),
                                  "clients (log scale)", ylabel, series, logx=True)
    elements += svg_legend(920, 40, legend)
    write_svg(os.path.join(docs, "performance-load.svg"), 1080, 660, elements)

# Throughput against input size: each procedure beside OpenSSL doing its work.
throughput = [
    ("xp_AES_Encrypt (AES-128)", BLUE, False, "circle", procs,
     "xp_AES_Encrypt/bytes:%d/key:0", [16, 100, 1000, 4000, 7999]),
    ("OpenSSL AES-128 ECB encrypt", BLUE, True, "square", prim,
     "openssl_aes_ecb/bytes:%d/bits:128/encrypt:1", [16, 100, 1000, 4000, 8000]),
    ("xp_AES_Decrypt (AES-128)", SKY, False, "circle", procs,
     "xp_AES_Decrypt/bytes:%d/key:0", [16, 112, 1008, 4000, 8000]),
    ("OpenSSL AES-128 ECB decrypt", SKY, True, "square", prim,
     "openssl_aes_ecb/bytes:%d/bits:128/encrypt:0", [16, 100, 1000, 4000, 8000]),
    ("xp_MD5_Encrypt", VERMILLION, False, "circle", procs, "xp_MD5_Encrypt/%d",
     [16, 100, 1000, 4000, 8000]),
    ("OpenSSL MD5", VERMILLION, True, "square", prim, "openssl_digest/bytes:%d/md:5",
     [16, 100, 1000, 4000, 8000]),
    ("xp_SHA1_Encrypt", GREEN, False, "circle", procs, "xp_SHA1_Encrypt/%d",
     [16, 100, 1000, 4000, 8000]),
    ("OpenSSL SHA-1", GREEN, True, "square", prim, "openssl_digest/bytes:%d/md:1",
     [16, 100, 1000, 4000, 8000]),
    ("xp_hexstr", BLACK, False, "triangle", procs, "xp_hexstr/%d", [16, 100, 1000, 4000]),
]
series = [(label, colour, dash, marker,
           [(size, runs[pattern % size]["bytes_per_second"] / 1e6) for size in sizes
            if pattern % size in runs])
          for label, colour, dash, marker, runs, pattern, sizes in throughput]
write_svg(os.path.join(docs, "performance-throughput.svg"), 1000, 520,
          svg_panel(0, 0, 720, 520, "Throughput against input size", "input bytes (log scale)",
                    "MB/s (log scale)", series, logx=True, logy=True) +
          svg_legend(730, 60, series))
