#!/usr/bin/env bash
# Checks the Windows build under Wine, against the Linux build of the same
# sources where the two must agree:
#
#   bash tests/windows/run-tests.sh [ROOT]       (default: build-windows-tests)
#
# Needs the MinGW-w64 cross compiler and Wine (.ci/windows-tests.sh installs
# them). Builds ROOT/windows (the release folder, as tests/windows/build.sh
# makes it) and the Linux CLI in ROOT/linux, then checks
#   - the DLL's export table: exactly the two functions, ordinals 1 and 2;
#   - the DLL's and the CLI's imports: no MinGW runtime DLL;
#   - the cases of tests/golden/ through the DLL (tests/windows/host.c, one
#     call each, the DLL loaded from a folder named with a space and a
#     non-ASCII letter) and through stlrefine.exe, by the one golden runner
#     (tests/golden/run_cases.py --crlf): result or exit status, transcript
#     without CRs, output after LF -> CR LF, no other file left;
#   - the same host on paths with spaces and non-ASCII letters and on paths
#     longer than 260 characters, each replacing an existing 3 MB output;
#   - stlrefine.exe under Wine against the Linux tool on the same arguments
#     ("-" for the standard streams and -j batches among them):
#     standard output, standard error and exit status equal once CRs are
#     dropped (and the system's reason ending a "cannot" message), the same
#     files created, each equal to the Linux one with LF -> CR LF.
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
# report NAME PROBLEMS: passed when PROBLEMS (the text of what went wrong) is empty
report() { if [ -z "$2" ]; then pass "$1"; else fail "$1: $2"; fi; }

for tool in "$triple-gcc-posix" "$triple-objdump" wine cmake perl python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (see .ci/windows-tests.sh)" >&2; exit 1; }
done

# --- Builds: the Windows release folder and the Linux CLI.
echo "--- building (Windows, then Linux)"
bash "$repo/tests/windows/build.sh" "$root/windows" >"$root/build-windows.log" 2>&1 ||
  { cat "$root/build-windows.log"; exit 1; }
release="$root/windows/release"
{
  cmake -S "$repo" -B "$root/linux" -DCMAKE_BUILD_TYPE=Release -DSTLREFINE_WERROR=ON \
    -DBUILD_TESTING=OFF &&
    cmake --build "$root/linux" -j2 --target stlrefine_cli
} >"$root/build-linux.log" 2>&1 || { cat "$root/build-linux.log"; exit 1; }
"$triple-gcc-posix" -std=c11 -O2 -Wall -Wextra -Wpedantic -Werror -I"$repo/include" -municode -static \
  "$repo/tests/windows/host.c" -o "$root/windows/host.exe"
echo "    built in $((SECONDS - start)) s"

# --- The DLL's tables.
echo "--- export and import tables"
objdump="$triple-objdump"
# "ordinal name" for every named export, the ordinal base added, and the
# number of entries of the export address table (named or not).
exportsOf() {
  "$objdump" -p "$1" | awk '
    /^Ordinal Base/ { base = $3 }
    /^\tExport Address Table[ \t]+[0-9a-fA-F]+$/ && addresses == "" { addresses = $4 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^\t\[/ { gsub(/[][]/, " "); print $1 + base, $2; next }
    names { names = 0 }
    END { print "entries", addresses }'
}
expectedExports=$'1 subdivision_noWeight\n2 subdivision_noWeight_heightDetect\nentries 00000002'
actualExports="$(exportsOf "$release/stlrefine.dll")"
report "DLL exports exactly subdivision_noWeight @1 and subdivision_noWeight_heightDetect @2" \
  "$([ "$actualExports" = "$expectedExports" ] || printf 'found:\n%s' "$actualExports")"
for binary in stlrefine.dll stlrefine.exe; do
  imports="$("$objdump" -p "$release/$binary" | awk '/DLL Name:/ { printf "%s ", $3 }')"
  runtime="$(tr ' ' '\n' <<<"$imports" |
    grep -iE '^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic|libquadmath)' || true)"
  report "$binary imports only system DLLs: $imports" \
    "$([ -n "$imports" ] || echo "no imports read")${runtime:+MinGW runtime: $runtime}"
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
# One server for the whole run: by default it exits three seconds after its
# last client, and a client that connects while it shuts down dies with
# "wine client error: recvmsg: Connection reset by peer". Wait for the one
# wineboot left to go, then start one that stays until stopWine.
wineserver -w && wineserver -p
windowsPath() { wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# Windows writes CR LF on standard output and in files; the CLI's messages
# end in the system's words, which differ between the platforms ("File not
# found" against "No such file or directory").
plain() { tr -d '\r' <"$1" | sed -E 's/^(stlrefine: cannot .*): [^:]*$/\1/'; }
sameText() { cmp -s <(plain "$1") <(plain "$2"); }
crlfEqual() { cmp -s "$1" <(perl -pe 's/\n/\r\n/g' "$2"); }
filesIn() { (cd "$1" && find . -type f | LC_ALL=C sort); }

# --- The golden cases (tests/golden/) through the DLL and through the CLI.
mkdir -p "$root/bibliothèque ü"
cp "$release/stlrefine.dll" "$root/bibliothèque ü/"
dll="$(windowsPath "$root/bibliothèque ü/stlrefine.dll")"
golden="$repo/tests/golden"
for host in "library|wine|$root/windows/host.exe|$dll" "cli|wine|$release/stlrefine.exe"; do
  IFS='|' read -r -a command <<<"$host"
  echo "--- golden cases through ${command[2]##*/}"
  if timeout -k 10 1200 python3 "$golden/run_cases.py" --crlf "${command[@]}"; then
    pass "golden cases through ${command[2]##*/}"
  else
    fail "golden cases through ${command[2]##*/}"
  fi
done

# hostCall DIR INPUT OUTPUT ITERATIONS: runs the host in DIR on paths
# relative to it ('/' becomes '\'); stdout in DIR.out, the result in DIR.rc.
hostCall() {
  local dir="$1" input="${2//\//\\}" output="${3//\//\\}" rc=0
  (cd "$dir" && timeout -k 10 300 wine "$root/windows/host.exe" "$dll" "$input" "$output" "$4") \
    >"$dir.out" 2>"$dir.err" || rc=$?
  echo "$rc" >"$dir.rc"
}
# expectCall DIR RESULT TRANSCRIPT FILES...: what hostCall left against what
# is expected: the result, the transcript and exactly these files in DIR.
expectCall() {
  local dir="$1" result="$2" transcript="$3"
  shift 3
  [ "$(cat "$dir.rc")" = "$result" ] || echo "result $(cat "$dir.rc"): $(cat "$dir.err")"
  sameText "$dir.out" "$transcript" || echo "transcript differs: $(plain "$dir.out" | head -3)"
  [ "$(filesIn "$dir")" = "$(printf './%s\n' "$@" | LC_ALL=C sort)" ] ||
    echo "files left: $(filesIn "$dir" | tr '\n' ' ')"
}

# Paths the golden cases do not take: spaces and non-ASCII letters, more
# than 260 characters (three folders of 120). Each call replaces an existing
# 3 MB output with the mesh of golden case tetra-binary-1.
echo "--- paths through the DLL"
longName="a very long directory name with spaces and accents éè to pass the classic limit of two hundred and sixty characters 0123456789"
longDir="$longName/$longName/$longName"
tetraOut="$golden/$(sed -n 's/^output: //p' "$golden/tetra-binary-1.case")"
pathCase() {  # pathCase NAME INPUT OUTPUT: prints what is wrong
  local dir="$root/paths/$1"
  rm -rf "$dir" && mkdir -p "$dir/$(dirname "$2")" "$dir/$(dirname "$3")"
  cp "$golden/tetra.bin.stl" "$dir/$2"
  head -c 3000000 /dev/zero | tr '\0' x >"$dir/$3"
  hostCall "$dir" "$2" "$3" 1
  expectCall "$dir" 1 "$golden/tetra-binary-1.transcript" "$2" "$3"
  crlfEqual "$dir/$3" "$tetraOut" || echo "output differs from $tetraOut with LF -> CR LF"
}
report "names with spaces and non-ASCII letters" \
  "$(pathCase names "entrée ü/tétraèdre à trous.stl" "sortie 日本/résultat 平.stl")"
report "paths longer than 260 characters" \
  "$(pathCase long "entrée ü/$longDir/tore.stl" "sortie 日本/$longDir/tore raffiné.stl")"

# An output written in place (it has a second name) whose close fails is
# emptied rather than left holding what was written.
closeFails() {
  local dir="$root/paths/close"
  rm -rf "$dir" && mkdir -p "$dir" && cp "$golden/tetra.bin.stl" "$dir/in.stl"
  echo old >"$dir/out.stl" && ln "$dir/out.stl" "$dir/second name.stl"
  HOST_FAIL_CLOSE=1 hostCall "$dir" in.stl out.stl 1
  [ "$(cat "$dir.rc")" = 0 ] || echo "result: $(cat "$dir.rc") $(cat "$dir.err")"
  [ ! -s "$dir/out.stl" ] || echo "output not emptied: $(head -c 60 "$dir/out.stl")"
}
report "an output written in place is emptied when its close fails" "$(closeFails)"

# --- The CLI under Wine and on Linux, in two identically prepared folders.
echo "--- the CLI under Wine against Linux"
inputs="entrée ü"
outputs="sortie 日本"
for side in linux windows; do
  rm -rf "$root/cli-$side" "$root/cli-logs-$side"
  mkdir -p "$root/cli-$side/$inputs" "$root/cli-$side/$outputs" "$root/cli-logs-$side"
  cp "$repo/examples/torus.stl" "$root/cli-$side/$inputs/tore à trous.stl"
  cp "$repo/examples/torus.stl" "$root/cli-$side/tore à trous.stl"
done
cliCases=(
  "example|$repo/examples/torus.stl|$outputs/cli exemple.stl"
  "two iterations|-n|2|tore à trous.stl|$outputs/cli deux.stl"
  "height limit|--max-height|0.2|-n|5|$inputs/tore à trous.stl|$outputs/cli hauteur.stl"
  "default output name|-n|0|$inputs/tore à trous.stl"
  "missing input|$inputs/absent ø.stl|$outputs/cli jamais.stl"
  "output in a missing folder|$inputs/tore à trous.stl|pas de dossier ø/sortie.stl"
  "version|--version"
  "help|--help"
  "usage error|-n|deux"
  "no arguments"
  "standard input to standard output|-n|2|-|-"
  "standard input after --|-q|--|-|$outputs/cli flux.stl"
  "batch on two threads|-j|2|-d|$outputs/|tore à trous.stl|$inputs/absent ø.stl|-"
  "batch, output names clash|-qj2|--output-dir=$outputs/|tore à trous.stl|$inputs/tore à trous.stl"
)
for entry in "${cliCases[@]}"; do
  IFS='|' read -r -a fields <<<"$entry"
  name="${fields[0]}"
  args=("${fields[@]:1}")
  # The example file, named natively on each side.
  windowsArgs=("${args[@]}")
  [ "$name" != example ] || windowsArgs[0]="$(windowsPath "${args[0]}")"
  for side in linux windows; do
    if [ "$side" = linux ]; then command=("$root/linux/stlrefine" "${args[@]}")
    else command=(wine "$release/stlrefine.exe" "${windowsArgs[@]}"); fi
    logs="$root/cli-logs-$side/$name"
    rc=0
    # Standard input is the torus ("-" reads it).
    (cd "$root/cli-$side" && timeout -k 10 300 "${command[@]}" <"tore à trous.stl") >"$logs.out" 2>"$logs.err" ||
      rc=$?
    echo "$rc" >"$logs.rc"
  done
  problems=""
  for stream in out err rc; do
    sameText "$root/cli-logs-windows/$name.$stream" "$root/cli-logs-linux/$name.$stream" ||
      problems+="$stream differs: $(diff <(plain "$root/cli-logs-windows/$name.$stream") \
        <(plain "$root/cli-logs-linux/$name.$stream") | head -6) "
  done
  report "cli $name: the same stdout, stderr and exit status (exit $(cat "$root/cli-logs-linux/$name.rc"))" "$problems"
done
listing="$(filesIn "$root/cli-windows")"
report "cli: the same files created" \
  "$([ "$listing" = "$(filesIn "$root/cli-linux")" ] || diff <(echo "$listing") <(filesIn "$root/cli-linux"))"
written=0
while IFS= read -r file; do
  if [ -f "$root/cli-linux/$file" ] && ! grep -q $'\r' "$root/cli-linux/$file" &&
    crlfEqual "$root/cli-windows/$file" "$root/cli-linux/$file"; then
    written=$((written + 1))
  else
    fail "cli: $file differs from the Linux file with LF -> CR LF"
  fi
done < <(cd "$root/cli-windows" && find . -type f ! -name 'tore à trous.stl')
report "cli: $written written files equal the Linux ones with LF -> CR LF" "$([ "$written" -ge 4 ] || echo "expected 4")"

stopWine
echo "--- done in $((SECONDS - start)) s"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
