#!/usr/bin/env bash
# Checks that every #include "folder/..." in the library and its modules runs
# down the layers, never up:
#
#   platform -> log -> core -> dib -> fileio -> upload -> print -> engines -> ui -> twain -> app
#
# A folder may include its own files and those of any folder before it.
# codecs/, dsm/, sources/ and the engine modules engines/symbol/ and
# engines/ocr/ are modules loaded at run time: they may include platform/, the
# public headers and their own folder only. The public headers
# (include/, written "orivane/...") may be included from anywhere and include
# only each other. tools/ is a program over the library: everything but app/.
# The contracts between separately built pieces (a module's ABI header) may be
# included from any folder, like the public headers.
# tests/ and bench/ reach into internals on purpose and are not checked.
#
# Usage: scripts/check_layers.sh [--counts] [--root DIR]
#   (no option)  fails (exit 1) listing file:line and the include for every
#                include of a higher layer, of a folder a module may not
#                reach, or that climbs with "../"; also for a folder with
#                sources that has no place in the order (give it one here)
#   --counts     prints the includes between top-level folders, one line per
#                pair ("twain -> core 57"), and checks nothing
#   --root DIR   the tree to check (default: the one holding this script)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
mode=check
while [ $# -gt 0 ]; do
  case "$1" in
    --counts) mode=counts ;;
    --root) root="${2:?--root needs a folder}"; shift ;;
    *) echo "usage: $0 [--counts] [--root DIR]" >&2; exit 2 ;;
  esac
  shift
done
cd "$root"

chain="platform log core dib fileio upload print engines ui twain app"
modules="codecs dsm sources engines/symbol engines/ocr"
unchecked="tests bench scripts"
contracts="codecs/codec_abi.h dsm/manager_protocol.h dsm/source_protocol.h engines/symbol_abi.h engines/ocr/ocr_abi.h"

# The top-level folders of the tree (an include of any of them is ours, not
# an outside library's), then every source file outside hidden and build
# folders, as a path from the root.
folders="$(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' ! -name 'build*' -printf '%f ')"
find . -mindepth 1 \( -name '.*' -o -path './build*' \) -prune -o -path './*/*' -type f \
    \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \
       -o -name '*.inc' \) -print | sed 's|^\./||' | sort |
  awk -v mode="$mode" -v chain="$chain" -v modules="$modules" -v unchecked="$unchecked" \
      -v contracts="$contracts" -v folders="$folders" '
    BEGIN {
      n = split(chain, c, " ")
      for (i = 1; i <= n; i++) { rank[c[i]] = i; known[c[i]] = 1 }
      split(modules, m, " "); for (i in m) { module[m[i]] = 1; known[m[i]] = 1 }
      split(unchecked, u, " "); for (i in u) skip[u[i]] = 1
      split(contracts, k, " "); for (i in k) contract[k[i]] = 1
      known["include"] = 1; known["tools"] = 1
      split(folders, f, " "); for (i in f) ours[f[i]] = 1
      bad = 0
    }
    # The folder a path belongs to: its top-level folder, or the module
    # folder one level down that holds it (engines/symbol).
    function folder_of(path,   parts) {
      split(path, parts, "/")
      if ((parts[1] "/" parts[2]) in module) return parts[1] "/" parts[2]
      return parts[1]
    }
    # Whether folder `from` may include folder `to`.
    function allowed(from, to) {
      if (from == to || to == "include") return 1
      if (from == "include") return 0
      if (from in module) return to == "platform"
      if (from == "tools") return (to in rank) && to != "app"
      return (to in rank) && rank[to] < rank[from]
    }
    function why(from, to) {
      if (from in module) return from " is a module: platform/, the public headers and its own folder only"
      if (from == "include") return "the public headers include only each other"
      if (from == "tools") return "tools/ is a program over the library, not over app/"
      if (to in module) return to " is a module, not a layer"
      if (!(to in rank)) return to " has no place in the layer order"
      return to " is above " from
    }
    {
      file = $0
      folder = folder_of(file)
      if (folder in skip) next
      if (!(folder in known) && mode == "check") {
        if (!(folder in reported)) {
          printf "%s/: has no place in the layer order (scripts/check_layers.sh)\n", folder
          reported[folder] = 1; bad++
        }
        next
      }
      line = 0
      while ((getline text < file) > 0) {
        line++
        if (text !~ /^[ \t]*#[ \t]*include[ \t]*"/) continue
        target = text
        sub(/^[^"]*"/, "", target); sub(/".*$/, "", target)
        if (target ~ /^\.\.\//) {
          if (mode == "check") { printf "%s:%d: includes \"%s\": climbs out of its folder\n", file, line, target; bad++ }
          continue
        }
        slash = index(target, "/")
        if (slash == 0) continue
        to = folder_of(target)
        if (to == "orivane") to = "include"
        if (!(to in known) && !(to in ours)) continue   # an outside library
        if (to != folder) count[folder " -> " to]++
        if (mode == "check" && !allowed(folder, to) && !(target in contract)) {
          printf "%s:%d: includes \"%s\": %s\n", file, line, target, why(folder, to)
          bad++
        }
      }
      close(file)
    }
    END {
      if (mode == "counts") {
        for (pair in count) print pair, count[pair] | "sort"
        exit 0
      }
      if (bad > 0) { printf "%d include(s) against the layer order\n", bad; exit 1 }
    }'
