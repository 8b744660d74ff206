#!/usr/bin/env bash
# Checks the Windows build against the Linux build of the same sources:
#
#   bash tests/windows/run-tests.sh [ROOT]       (default: build-windows-tests)
#
# Needs the MinGW-w64 cross compiler and Wine (.ci/windows-tests.sh installs
# them). Builds ROOT/windows (the release folder, as tests/windows/build.sh
# makes it) and ROOT/linux, then
#   - reads the DLL's export table: exactly the two functions, ordinals 1 and 2;
#   - reads the DLL's and the CLI's imports: no MinGW runtime DLL;
#   - runs the C host (tests/windows/host.c) under Wine and natively, in two
#     identically prepared folders whose paths hold spaces and non-ASCII letters;
#   - runs the CLI stlrefine.exe under Wine and natively on examples/torus.stl;
#   - compares: transcripts and exit codes equal once CRs are dropped, the same
#     files created, every written file equal to the Linux one with LF -> CR LF;
#   - runs the cases of tests/golden/ through the DLL under Wine (host.c, one
#     call each): result, transcript without CRs, output with LF -> CR LF.
# Wine runs with a private prefix under ROOT, no display and no debug output.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
root="$(mkdir -p "${1:-$repo/build-windows-tests}" && cd "${1:-$repo/build-windows-tests}" && pwd)"
triple=x86_64-w64-mingw32
start=$SECONDS

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok    $1"; }
fail() { failed=$((failed + 1)); echo "FAIL  $1"; }
check() {  # check NAME COMMAND...: one check, passed when COMMAND succeeds
  local name="$1"
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

for tool in "$triple-gcc-posix" "$triple-objdump" wine cc cmake; do
  command -v "$tool" >/dev/null || { echo "missing $tool (see .ci/windows-tests.sh)" >&2; exit 1; }
done

# --- Builds: the Windows release folder and a Linux reference.
echo "--- building (Windows, then Linux)"
bash "$repo/tests/windows/build.sh" "$root/windows" >"$root/build-windows.log" 2>&1 ||
  { cat "$root/build-windows.log"; exit 1; }
release="$root/windows/release"
{
  cmake -S "$repo" -B "$root/linux" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON \
    -DBUILD_TESTING=OFF &&
    cmake --build "$root/linux" -j2 --target stlrefine stlrefine_cli
} >"$root/build-linux.log" 2>&1 || { cat "$root/build-linux.log"; exit 1; }

hostFlags=(-std=c11 -O2 -Wall -Wextra -Wpedantic -Werror -I"$repo/include")
"$triple-gcc-posix" "${hostFlags[@]}" -municode -static "$repo/tests/windows/host.c" -o "$root/windows/host.exe"
cc "${hostFlags[@]}" "$repo/tests/windows/host.c" -o "$root/linux/host" -ldl
echo "    built in $((SECONDS - start)) s"

# --- The DLL's tables.
echo "--- export and import tables"
objdump="$triple-objdump"
"$objdump" -p "$release/stlrefine.dll" >"$root/dll-tables.txt"

# "ordinal name" for every named export, the ordinal base added, and the
# number of entries of the export address table (named or not).
exportsOf() {
  awk '
    /^Ordinal Base/ { base = $3 }
    /^\tExport Address Table[ \t]+[0-9a-fA-F]+$/ && addresses == "" { addresses = $4 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^\t\[/ { gsub(/[][]/, " "); print $1 + base, $2; next }
    names { names = 0 }
    END { print "entries", addresses }
  ' "$1"
}
expectedExports=$'1 subdivision_noWeight\n2 subdivision_noWeight_heightDetect\nentries 00000002'
actualExports="$(exportsOf "$root/dll-tables.txt")"
if [ "$actualExports" = "$expectedExports" ]; then
  pass "DLL exports exactly subdivision_noWeight @1 and subdivision_noWeight_heightDetect @2"
else
  fail "DLL export table"
  printf 'expected:\n%s\nfound:\n%s\n' "$expectedExports" "$actualExports"
fi

runtimeImports() {  # the MinGW runtime DLLs that a PE file imports, if any
  "$objdump" -p "$1" | awk '/DLL Name:/ { print $3 }' |
    grep -iE '^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic|libquadmath)' || true
}
for binary in stlrefine.dll stlrefine.exe; do
  imports="$("$objdump" -p "$release/$binary" | awk '/DLL Name:/ { printf "%s ", $3 }')"
  found="$(runtimeImports "$release/$binary")"
  if [ -z "$found" ] && [ -n "$imports" ]; then
    pass "$binary imports only system DLLs: $imports"
  else
    fail "$binary imports MinGW runtime DLLs: $found"
  fi
done

# --- Wine, private and quiet.
export WINEPREFIX="$root/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8 HOME="${HOME:-$root}"
unset DISPLAY WAYLAND_DISPLAY
stopWine() { wineserver -k >/dev/null 2>&1 || true; }
trap stopWine EXIT
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  echo "--- creating the Wine prefix"
  wine wineboot --init >"$root/wineboot.log" 2>&1 || { cat "$root/wineboot.log"; exit 1; }
fi
exampleWindows="$(wine winepath -w "$repo/examples/torus.stl" 2>/dev/null | tr -d '\r')"

# --- The folders the hosts run in: the same inputs on both sides.
inputs="entrée ü"
outputs="sortie 日本"
libraryDir="bibliothèque ü"
longName="a very long directory name with spaces and accents éè to pass the classic limit of two hundred and sixty characters 0123456789"
longDir="$longName/$longName/$longName"

prepare() {
  local dir="$1"
  rm -rf "$dir"
  mkdir -p "$dir/$inputs/$longDir" "$dir/$outputs/$longDir" "$dir/$libraryDir"
  cp "$repo/examples/torus.stl" "$dir/$inputs/tore à trous.stl"
  cp "$repo/examples/torus.stl" "$dir/$inputs/$longDir/tore.stl"
  cp "$repo/examples/torus.stl" "$dir/tore à trous.stl"
  local tetrahedron='solid tétraèdre
facet normal 0 0 -1
outer loop
vertex 0 0 0
vertex 0 1 0
vertex 1 0 0
endloop
endfacet
facet normal 0 -1 0
outer loop
vertex 0 0 0
vertex 1 0 0
vertex 0 0 1
endloop
endfacet
facet normal -1 0 0
outer loop
vertex 0 0 0
vertex 0 0 1
vertex 0 1 0
endloop
endfacet
facet normal 1 1 1
outer loop
vertex 1 0 0
vertex 0 1 0
vertex 0 0 1
endloop
endfacet
endsolid tétraèdre'
  printf '%s\n' "$tetrahedron" | sed 's/$/\r/' >"$dir/$inputs/crlf ñ.stl"
  printf '%s' "${tetrahedron//0 0 1/0 0 1.5e-3}" >"$dir/$inputs/sans fin.stl"
  printf 'solid plat\n  facet normal 0 0 1\n    outer loop\n      vertex 0 0 0\n      vertex 1 1 1\n      vertex 2 2 2\n    endloop\n  endfacet\n  facet normal 0 0 1\n    outer loop\n      vertex 5 5 5\n      vertex 5 5 5\n      vertex 5 5 5\n    endloop\n  endfacet\nendsolid\n' >"$dir/$inputs/plat 平.stl"
  printf 'solid extremes\nfacet normal 0 0 0\nouter loop\nvertex 1e30 -3.4e38 1e-40\nvertex -1e-7 123456789 0.000123456\nvertex 7e-46 -0 65504.5\nendloop\nendfacet\nendsolid\n' >"$dir/$inputs/extrêmes.stl"
  printf 'not a mesh, only text\n' >"$dir/$inputs/texte.txt"
  head -c 3000000 /dev/zero | tr '\0' 'x' >"$dir/$outputs/existant.stl"
}

runLinux="$root/run-linux"
runWindows="$root/run-windows"
prepare "$runLinux"
prepare "$runWindows"
cp "$root/linux/libstlrefine.so" "$runLinux/$libraryDir/"
cp "$release/stlrefine.dll" "$runWindows/$libraryDir/"

# run SIDE NAME COMMAND...: runs in that side's folder, keeps stdout, stderr
# and the exit status as NAME.out, NAME.err and NAME.rc in ROOT/SIDE.
run() {
  local side="$1" name="$2"
  shift 2
  local dir="$root/run-$side" logs="$root/logs-$side"
  mkdir -p "$logs"
  local rc=0
  # A hang fails the check instead of blocking the run.
  (cd "$dir" && timeout -k 10 300 "$@") >"$logs/$name.out" 2>"$logs/$name.err" || rc=$?
  echo "$rc" >"$logs/$name.rc"
}

echo "--- running the host and the CLI (Linux, then Wine)"
rm -rf "$root/logs-linux" "$root/logs-windows"
run linux host "$root/linux/host" "./$libraryDir/libstlrefine.so"
run windows host wine "$root/windows/host.exe" ".\\$libraryDir\\stlrefine.dll"

cliCases=(
  "example|$repo/examples/torus.stl|$exampleWindows|$outputs/cli exemple.stl"
  "two iterations|-n|2|tore à trous.stl|$outputs/cli deux.stl"
  "height limit|--max-height|0.2|-n|5|$inputs/tore à trous.stl|$outputs/cli hauteur.stl"
  "default output name|-n|0|$inputs/tore à trous.stl"
  "missing input|$inputs/absent ø.stl|$outputs/cli jamais.stl"
  "version|--version"
  "help|--help"
  "usage error|-n|deux"
)
cliNames=()
for entry in "${cliCases[@]}"; do
  IFS='|' read -r -a fields <<<"$entry"
  name="cli ${fields[0]}"
  cliNames+=("$name")
  if [ "${fields[0]}" = example ]; then
    # The same file, named natively on each side.
    run linux "$name" "$root/linux/stlrefine" "${fields[1]}" "${fields[3]}"
    run windows "$name" wine "$release/stlrefine.exe" "${fields[2]}" "${fields[3]}"
  else
    run linux "$name" "$root/linux/stlrefine" "${fields[@]:1}"
    run windows "$name" wine "$release/stlrefine.exe" "${fields[@]:1}"
  fi
done

# --- Comparisons.
echo "--- comparing"
# Windows side has CR LF line ends on standard output and in written files.
# The CLI's error messages end in the system's words, which differ between
# the platforms ("File not found" against "No such file or directory").
plain() { tr -d '\r' <"$1" | sed -E 's/^(stlrefine: cannot .*): [^:]*$/\1/'; }
sameText() { cmp -s <(plain "$1") <(plain "$2"); }
crlfEqual() { cmp -s "$1" <(perl -pe 's/\n/\r\n/g' "$2"); }

for name in host "${cliNames[@]}"; do
  for stream in out err rc; do
    linux="$root/logs-linux/$name.$stream"
    windows="$root/logs-windows/$name.$stream"
    if sameText "$windows" "$linux"; then
      pass "$name: same $stream"
    else
      fail "$name: $stream differs"
      diff <(plain "$windows") <(plain "$linux") | head -20 || true
    fi
  done
done
check "host succeeded (its own checks of results, files and exports)" \
  grep -qx 0 "$root/logs-windows/host.rc"
check "host ran every case" grep -q '^=== [0-9]* cases' "$root/logs-windows/host.out"
check "CLI on the example succeeded" grep -qx 0 "$root/logs-windows/cli example.rc"
# Output replacement: the existing file holds the new mesh and no temporary
# file stays; an output in a missing folder ends with the open-failure lines.
check "existing output replaced by the new mesh" cmp -s <(head -c 7 "$runWindows/$outputs/existant.stl") <(printf 'solid\r\n')
check "no temporary file left" test -z "$(find "$runWindows" -name '*.tmp')"
openFailure="$(tr -d '\r' <"$root/logs-windows/host.out" |
  awk '/^=== output directory missing$/ { on = 1; next } on { print } on && /^=== result/ { exit }' | tail -n 4)"
check "output in a missing folder: open-failure lines, result 1" test "$openFailure" = \
  $'- Error, unable open file to save\noutput ascii stl file success\nsubdivision triangle done!!\n=== result 1, output absent'

listing() { (cd "$1" && find . -path "./$libraryDir" -prune -o -type f -print | LC_ALL=C sort); }
if [ "$(listing "$runWindows")" = "$(listing "$runLinux")" ]; then
  pass "the same files were created, under the same names"
else
  fail "different files were created"
  diff <(listing "$runWindows") <(listing "$runLinux") | head -20 || true
fi

compared=0
while IFS= read -r -d '' file; do
  relative="${file#"$runLinux"/}"
  windows="$runWindows/$relative"
  [ -f "$windows" ] || continue  # reported by the listing check
  if grep -q $'\r' "$file"; then
    fail "$relative: the Linux file holds a CR"
  elif crlfEqual "$windows" "$file"; then
    compared=$((compared + 1))
  else
    fail "$relative: differs from the Linux file with LF -> CR LF"
    diff <(tr -d '\r' <"$windows") "$file" | head -10 || true
  fi
done < <(find "$runLinux/$outputs" -type f -print0; find "$runLinux" -maxdepth 1 -name '*.refined.stl' -print0)
if [ "$compared" -ge 10 ]; then
  pass "$compared written files equal the Linux ones after LF -> CR LF"
else
  fail "only $compared written files compared"
fi

# --- The golden cases (tests/golden/, format in its README) through the DLL:
# result, transcript without CRs, output file after LF -> CR LF.
echo "--- golden cases through the DLL"
golden="$repo/tests/golden"
dllWindows="$(wine winepath -w "$release/stlrefine.dll" 2>/dev/null | tr -d '\r')"
goldenCase() {  # goldenCase NAME: runs one case, prints what is wrong
  local -A c=([output-path]=out.stl)
  local line dir="$root/golden/$1" logs="$root/golden-logs/$1" input=missing.stl
  while IFS= read -r line; do
    [[ $line == \#* || $line != *': '* ]] || c["${line%%: *}"]="${line#*: }"
  done <"$golden/$1.case"
  rm -rf "$dir" "$logs" && mkdir -p "$dir" "$logs"
  [ "${c[input]}" = none ] || { cp "$golden/${c[input]}" "$dir/in.stl"; input=in.stl; }
  local out="$dir/${c[output-path]}" expected="${c[output]}"
  [ -z "${c[existing]:-}" ] || cp "$golden/${c[existing]}" "$out"
  (cd "$dir" && timeout -k 10 300 wine "$root/windows/host.exe" "$dllWindows" "$input" \
    "${c[output-path]}" "${c[iterations]}" ${c[max-height]:+"${c[max-height]}"}) >"$logs/out" 2>"$logs/err"
  grep -qx "result ${c[result]}" <(tr -d '\r' <"$logs/err") || echo "result: $(cat "$logs/err")"
  sameText "$logs/out" "$golden/$1.transcript" || echo "transcript differs"
  if [ "$expected" = none ]; then
    [ "$(ls -A "$dir")" = "$([ "$input" = in.stl ] && echo in.stl)" ] || echo "files created: $(ls -A "$dir")"
  elif [ "$expected" = "${c[existing]:-}" ]; then
    cmp -s "$out" "$golden/$expected" || echo "existing output changed"
  elif [[ $expected == crc32* ]]; then
    perl -pe 's/\r\n/\n/g' "$out" >"$logs/lf"
    crlfEqual "$out" "$logs/lf" || echo "output not all CR LF"
    set -- $(gzip -c "$logs/lf" | tail -c8 | od -An -tu4)
    [ "crc32 $(printf %08x "$1") $2" = "$expected" ] || echo "output crc32 $(printf %08x "$1") $2"
  else
    crlfEqual "$out" "$golden/$expected" || echo "output differs from $expected with LF -> CR LF"
  fi
}
for caseFile in "$golden"/*.case; do
  name="$(basename "$caseFile" .case)"
  problems="$(goldenCase "$name" 2>&1)"
  if [ -z "$problems" ]; then pass "golden $name"; else fail "golden $name: $problems"; fi
done

stopWine
echo "--- done in $((SECONDS - start)) s"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
