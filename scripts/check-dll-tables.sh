#!/usr/bin/env bash
# Reads Varrow.dll's export and import tables and fails on any difference from
# what the server expects: exactly the five procedures exported, undecorated;
# the eight Open Data Services functions imported from opends60.dll by
# ordinal only; no DLL besides opends60.dll, KERNEL32.dll and msvcrt.dll.
set -euo pipefail
dll=${1:?usage: check-dll-tables.sh Varrow.dll}
tables=$(i686-w64-mingw32-objdump -p "$dll")
fail=0

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' \
  <<<"$tables" | sort | tr '\n' ' ')
expected="xp_AES_Decrypt xp_AES_Encrypt xp_MD5_Encrypt xp_SHA1_Encrypt xp_hexstr "
if [[ "$exports" != "$expected" ]]; then
  echo "exports: [$exports], expected [$expected]"; fail=1
fi

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$tables" | sort | tr '\n' ' ')
if [[ "$dlls" != "KERNEL32.dll msvcrt.dll opends60.dll " ]]; then
  echo "imported DLLs: [$dlls], expected [KERNEL32.dll msvcrt.dll opends60.dll]"; fail=1
fi

# The opends60.dll block: every entry must be an ordinal without a name.
ods=$(awk '/DLL Name: opends60.dll/ {on=1; next} on && /DLL Name:/ {on=0} on' <<<"$tables")
ordinals=$(awk '/<none>/ {print $2}' <<<"$ods" | sort -n | tr '\n' ' ')
named=$(grep -cE '^\s+[0-9a-f]+\s+[0-9]+\s+srv_' <<<"$ods" || true)
if [[ "$ordinals" != "31 32 40 41 42 44 98 101 " || "$named" != 0 ]]; then
  echo "opends60.dll imports: ordinals [$ordinals], by name: $named"
  echo "$ods"; fail=1
fi

if ((fail)); then exit 1; fi
echo "Varrow.dll: 5 exports, 8 ordinal imports from opends60.dll, system DLLs only"
