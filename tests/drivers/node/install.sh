#!/bin/sh
# Installs the Node packages the lock file pins into DEST (a build folder),
# again only when the lock file changed. npm's cache makes reinstalls work
# offline once the packages were fetched.
set -eu
src=$(cd "$(dirname "$0")" && pwd)
dest=$1
mkdir -p "$dest"
if ! cmp -s "$src/package-lock.json" "$dest/node_modules/.varrow-lock" 2>/dev/null; then
  cp "$src/package.json" "$src/package-lock.json" "$dest/"
  npm ci --prefix "$dest" --prefer-offline --no-audit --no-fund --loglevel=error
  cp "$src/package-lock.json" "$dest/node_modules/.varrow-lock"
fi
