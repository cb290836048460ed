#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing. Usage: scripts/install-deps.sh [--minimal] [extra package...]
# --minimal: only what building the varrow command takes (scripts/demo.sh).
set -euo pipefail

minimal=false
if [[ "${1:-}" == --minimal ]]; then
  minimal=true
  shift
fi

packages=(
  cmake make g++ pkg-config
  libedit-dev                   # line editing at varrow's prompt
  libgtest-dev googletest libbenchmark-dev
  libssl-dev                    # OpenSSL: test-only reference implementation
  python3-cryptography-vectors  # NIST and RFC known-answer files
  clang libclang-rt-14-dev      # libFuzzer and sanitizer runtimes
  clang-format git              # the formatting check of .ci/run
  g++-mingw-w64-i686 wine wine32:i386  # Varrow.dll and its tests under Wine
  g++-mingw-w64-x86-64 wine64          # the same for the 64-bit Varrow.dll
  python3-tds python3-pymssql freetds-bin  # real client drivers for varrowd
  python3-pyodbc tdsodbc unixodbc          # pyodbc over FreeTDS ODBC
  python3-sqlalchemy php-cli php-odbc     # toolkits over those drivers
  libjtds-java default-jdk-headless        # jTDS
  nodejs python3-cryptography              # tedious and mssql; independent AES in tests
  freetds-dev                   # the load generator of the benchmarks
  libcli11-dev libcpp-httplib-dev  # varrowd's options and its metrics endpoint
  libsystemd-dev                # sd_notify, for varrowd under systemd
  prometheus                    # promtool checks varrowd's /metrics
  lintian dpkg-dev              # the Debian package's check
  haproxy                       # varrowd behind a load balancer (tests/tds/test_balancer.py)
  "$@"
)
# npm comes with NodeSource's nodejs and separately with Debian's.
command -v npm >/dev/null || packages+=(npm)
if $minimal; then
  packages=(cmake make g++ "$@")
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -q i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails an index or two; the lists already here
  # usually still hold every package.
  apt-get update -qq || echo "apt-get update failed; going on with the package lists already here"
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
