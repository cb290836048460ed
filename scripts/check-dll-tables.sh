#!/usr/bin/env bash
# Reads the tables of one or more Varrow.dll files, 32-bit or 64-bit, and
# fails on any difference from what the server expects: exactly the five
# procedures exported, undecorated; the eight Open Data Services functions
# imported from opends60.dll, by ordinal only in the 32-bit DLL (the ordinals
# of the 32-bit opends60.dll) and by name in the 64-bit one; no DLL besides
# opends60.dll, KERNEL32.dll and msvcrt.dll; loadable at any address with
# non-executable data (and anywhere in the 64-bit address space for 64-bit).
# The x86_64 objdump reads both formats.
set -euo pipefail
(($#)) || { echo "usage: check-dll-tables.sh Varrow.dll..."; exit 2; }

check() {
  local dll=$1 tables fail=0
  tables=$(x86_64-w64-mingw32-objdump -p "$dll")

  local format bits flags_needed
  format=$(awk '/file format/ {print $NF; exit}' <<<"$tables")
  case $format in
    pei-i386) bits=32 flags_needed=$((0x40 | 0x100)) ;;             # dynamic base, NX
    pei-x86-64) bits=64 flags_needed=$((0x20 | 0x40 | 0x100)) ;;    # and high-entropy VA
    *) echo "$dll: machine type $format, expected pei-i386 or pei-x86-64"; return 1 ;;
  esac

  local exports expected="xp_AES_Decrypt xp_AES_Encrypt xp_MD5_Encrypt xp_SHA1_Encrypt xp_hexstr "
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' \
    <<<"$tables" | sort | tr '\n' ' ')
  if [[ "$exports" != "$expected" ]]; then
    echo "exports: [$exports], expected [$expected]"; fail=1
  fi

  local dlls
  dlls=$(awk '/DLL Name:/ {print $3}' <<<"$tables" | sort | tr '\n' ' ')
  if [[ "$dlls" != "KERNEL32.dll msvcrt.dll opends60.dll " ]]; then
    echo "imported DLLs: [$dlls], expected [KERNEL32.dll msvcrt.dll opends60.dll]"; fail=1
  fi

  # The opends60.dll block: "<none>" marks an entry imported by ordinal only.
  local ods ordinals names
  ods=$(awk '/DLL Name: opends60.dll/ {on=1; next} on && /DLL Name:/ {on=0} on' <<<"$tables")
  ordinals=$(awk '/<none>/ {print $2}' <<<"$ods" | sort -n | tr '\n' ' ')
  names=$(awk '$3 ~ /^srv_/ {print $3}' <<<"$ods" | sort | tr '\n' ' ')
  if ((bits == 32)); then
    if [[ "$ordinals" != "31 32 40 41 42 44 98 101 " || -n "$names" ]]; then
      echo "opends60.dll imports: ordinals [$ordinals], by name [$names]"; echo "$ods"; fail=1
    fi
  else
    local expected_names="srv_paraminfo srv_paramsetoutput srv_paramstatus srv_paramtype"
    expected_names+=" srv_rpcparams srv_senddone srv_sendmsg srv_sendstatus "
    if [[ "$names" != "$expected_names" || -n "$ordinals" ]]; then
      echo "opends60.dll imports: by name [$names], ordinals [$ordinals]"; echo "$ods"; fail=1
    fi
  fi

  local flags
  flags=$(awk '/^DllCharacteristics/ {print $2; exit}' <<<"$tables")
  if (((0x$flags & flags_needed) != flags_needed)); then
    printf 'DllCharacteristics 0x%s, expected the bits 0x%x\n' "$flags" "$flags_needed"; fail=1
  fi

  if ((fail)); then return 1; fi
  if ((bits == 32)); then
    echo "$dll: 32-bit, 5 exports, 8 ordinal imports from opends60.dll, system DLLs only, ASLR and DEP"
  else
    echo "$dll: 64-bit, 5 exports, 8 imports by name from opends60.dll, system DLLs only, ASLR and DEP"
  fi
}

status=0
for dll in "$@"; do
  check "$dll" || status=1
done
exit $status
