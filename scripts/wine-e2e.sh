#!/usr/bin/env bash
# The main job under 32-bit Wine with the Windows build of every part: lays
# out an installation folder with UDRAClient.dll, ZAV.dll, LZMA.DLL,
# UDRAStats.dll and UDRAHostApp.exe, publishes the bundled sample content
# (plus one generated 3 MiB file) with udra-publish.exe, and with udra.exe
# starts up, syncs everything from a file:// root, reads every file back and
# compares its MD5 with the source, sends the QoS report to udra-qosd.exe on
# 127.0.0.1 and checks that the host ends after the game. Then, from a private
# nginx on 127.0.0.1 (when nginx is installed) into a fresh store: kills the
# host in the middle of a download, syncs again with a new host, syncs the
# rest and reads every file back.
# Usage: scripts/wine-e2e.sh [TREE]   (default build-wine-e2e: an i686 tree
# configured with -DUDRA_BUILD_COMPANIONS=ON and built)
# UDRA_PUBLISH=linux:PATH publishes with a Linux udra-publish instead.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-$root/build-wine-e2e}" && pwd) || exit 2
stage=$tree/stage

# One virtual display for every Wine process of the run.
if [ -z "${UDRA_WINE_E2E_DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "FAILED: xvfb-run is missing (scripts/install-deps.sh installs it)"; exit 1; }
  UDRA_WINE_E2E_DISPLAY=1 exec xvfb-run -a "$0" "$tree"
fi

wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || { echo "FAILED: $wine is missing (scripts/install-deps.sh installs it)"; exit 1; }
locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' \
  || { echo "FAILED: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"; exit 1; }
for part in UDRAClient.dll ZAV.dll LZMA.DLL UDRAStats.dll UDRAHostApp.exe udra.exe udra-publish.exe udra-qosd.exe; do
  [ -f "$stage/$part" ] || { echo "FAILED: $stage/$part is missing (build the tree with -DUDRA_BUILD_COMPANIONS=ON)"; exit 1; }
done

work=$tree/wine-e2e
install=$work/install
published=$work/published
content=$work/content
rm -rf "$work" && mkdir -p "$work"

# The code page 936 (GBK) and UTF-8 names on disk, as in the Wine tests; one
# wineserver for the whole run, ended on exit with everything it runs.
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
background=()
cleanup() {
  local pid
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null; done
  "$wineserver" -k 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

started=$(date +%s%N)
failed=0
step_name=""
step_start=0
step_failures=0
step() { step_name=$1; step_start=$(date +%s%N); step_failures=0; echo; echo "== $step_name"; }
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
seconds() { printf '%d.%01d s' $(($1 / 1000)) $(($1 % 1000 / 100)); }
done_step() {
  local verdict=ok
  [ "$step_failures" -eq 0 ] || verdict="FAILED ($step_failures bad)"
  echo "-- $verdict: $step_name ($(seconds "$(ms_since "$step_start")"))"
}
fail() { echo "BAD  $*"; failed=1; step_failures=$((step_failures + 1)); }
fail_step() { echo "-- FAILED: $step_name: $* ($(seconds "$(ms_since "$step_start")"))"; failed=1; }

# Z:\ is the Unix root in every Wine prefix.
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

udra() { timeout 300 "$wine" "$install/udra.exe" "$@" --dir "$(winpath "$install")"; }

# Linux ids of this prefix's processes running the Windows program $1.
pids_of() {
  local pid
  for pid in $(pgrep -f "$1" 2>/dev/null); do
    tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

# Waits up to $2 seconds for no process of this prefix to run $1.
gone_within() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -z "$(pids_of "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}

# Reads every file below $1 back and compares each file's MD5 with the
# source: one "udra cat" of all of them (its output cut by the sources'
# sizes), and on any difference one "udra cat" per file to name the bad ones.
read_back() {
  local source=$1 out=$work/cat.out files=() relative size offset=0 want got whole=1
  while IFS= read -r -d '' relative; do files+=("$relative"); done \
    < <(cd "$source" && find . -type f -printf '%P\0' | sort -z)
  udra cat "${files[@]}" > "$out" 2>/dev/null || whole=0
  for relative in "${files[@]}"; do
    size=$(stat -c %s "$source/$relative")
    want=$(md5sum < "$source/$relative" | cut -d' ' -f1)
    got=$(tail -c +$((offset + 1)) "$out" | head -c "$size" | md5sum | cut -d' ' -f1)
    [ "$want" = "$got" ] || whole=0
    offset=$((offset + size))
  done
  [ "$(stat -c %s "$out")" -eq "$offset" ] || whole=0
  for relative in "${files[@]}"; do
    size=$(stat -c %s "$source/$relative")
    want=$(md5sum < "$source/$relative" | cut -d' ' -f1)
    if [ "$whole" -eq 1 ]; then
      echo "ok   $relative ($size bytes, $want)"
      continue
    fi
    got=$(udra cat "$relative" | md5sum | cut -d' ' -f1)
    if [ "$want" = "$got" ]; then echo "ok   $relative ($size bytes, $want)"; else fail "$relative: MD5 $got, source $want"; fi
  done
}

step "Wine prefix (32-bit, code page 936)"
mkdir -p "$WINEPREFIX"
"$wineserver" -p
timeout 300 "$wine" cmd /c exit 0 >/dev/null 2>&1 || { fail_step "the prefix could not be made"; exit 1; }
done_step

step "content: sample/content and a generated 3 MiB file"
cp -r "$root/sample/content" "$content"
mkdir -p "$content/Big"
head -c $((3 << 20)) /dev/urandom > "$content/Big/stream.bin"
find "$content" -type f | wc -l | xargs echo "files:"
done_step

step "publishing with udra-publish.exe (url folder v1, package Data/Textures)"
case "${UDRA_PUBLISH:-}" in
  linux:*)
    echo "(the Linux udra-publish ${UDRA_PUBLISH#linux:})"
    "${UDRA_PUBLISH#linux:}" "$content" "$published" --url-folder v1 --package Data/Textures ;;
  *)
    timeout 300 "$wine" "$stage/udra-publish.exe" "$(winpath "$content")" "$(winpath "$published")" \
      --url-folder v1 --package Data/Textures ;;
esac
if [ $? -ne 0 ] || [ ! -f "$published/FileList.dat" ]; then fail_step "no catalogue published"; exit 1; fi
done_step

step "installation folder"
mkdir -p "$install"
cp "$stage/UDRAClient.dll" "$stage/ZAV.dll" "$stage/LZMA.DLL" "$stage/UDRAStats.dll" "$stage/UDRAHostApp.exe" \
   "$stage/udra.exe" "$install/"
cp -r "$root/sample/install/." "$install/"
cp "$published/FileList.dat" "$install/"
file_root="file:///Z:$published"
cat >> "$install/UDRAConfig.ini" <<INI

[VER_1.0.0]
DownloadUrlRoot=$file_root
INI
ls "$install"
done_step

step "udra.exe init (start-up launches UDRAHostApp.exe, shut-down)"
if udra init; then done_step; else fail_step "start-up failed"; exit 1; fi

step "udra.exe sync of everything from $file_root"
if udra sync Data Maps Sound Big; then done_step; else fail_step "sync failed"; fi

step "reading every file back (MD5 against the source)"
read_back "$content"
done_step

step "the QoS report to udra-qosd.exe on 127.0.0.1"
timeout 120 "$wine" "$stage/udra-qosd.exe" --address 127.0.0.1 --port 0 --max-records 1 \
  > "$work/qos.jsonl" 2> "$work/qosd.err" &
qosd_pid=$!
background+=("$qosd_pid")
port=""
for ((i = 0; i < 300; i++)); do
  port=$(sed -n 's/^udra-qosd: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/qosd.err" | tr -d '\r')
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail_step "the collector did not start: $(cat "$work/qosd.err")"
else
  echo "collector on 127.0.0.1:$port"
  ini=$install/UDRAClient.ini
  sed -i -e "s/^ServerHost=.*/ServerHost=127.0.0.1/" -e "s/^ServerPort=.*/ServerPort=$port/" \
    -e "s/^ReportInterval=.*/ReportInterval=1/" "$ini"
  udra stat Data/readme.txt Maps/town.map >/dev/null || fail "udra stat failed"
  for ((i = 0; i < 150; i++)); do [ -s "$work/qos.jsonl" ] && break; sleep 0.1; done
  if grep -q '"kind":0' "$work/qos.jsonl"; then
    cut -c1-200 "$work/qos.jsonl"
    grep -q '"UDRA v1\.0\.0\.1"' "$work/qos.jsonl" || fail "the report does not name the host's version 1.0.0.1"
    grep -qi '^LastReport=0' "$ini" || fail "LastReport was not reset: $(grep -i LastReport "$ini")"
    done_step
  else
    fail_step "no summary record reached the collector: $(cat "$work/qos.jsonl" "$work/qosd.err")"
  fi
  sed -i -e "s/^ServerHost=.*/ServerHost=/" "$ini"
fi

step "shut-down: the host ends after the game"
if gone_within UDRAHostApp.exe 20; then done_step; else fail_step "UDRAHostApp.exe still runs"; fi

nginx=$(command -v nginx || echo /usr/sbin/nginx)
if [ -x "$nginx" ]; then
  step "nginx on 127.0.0.1 serving the published tree (Big/ at 512 KiB/s)"
  web=$work/nginx
  mkdir -p "$web/tmp"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null \
         || echo $((20000 + RANDOM % 20000)))
  cat > "$web/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $web/nginx.pid;
error_log $web/error.log warn;
events { worker_connections 256; }
http {
  log_format ranges '\$request_uri \$status "\$http_range" \$body_bytes_sent';
  access_log $web/access.log ranges;
  client_body_temp_path $web/tmp/body; proxy_temp_path $web/tmp/proxy; fastcgi_temp_path $web/tmp/fcgi;
  uwsgi_temp_path $web/tmp/uwsgi; scgi_temp_path $web/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $published;
    location /v1/Big/ { limit_rate 512k; }
  }
}
CONF
  "$nginx" -p "$web" -c "$web/nginx.conf" -e "$web/error.log" >/dev/null 2>&1 &
  background+=($!)
  for ((i = 0; i < 100; i++)); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
  http_root="http://127.0.0.1:$port/"
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "serving $http_root"; done_step
  else fail_step "nginx did not start: $(cat "$web/error.log" 2>/dev/null)"; http_root=""; fi
fi

if [ -n "${http_root:-}" ]; then
  step "the host killed in the middle of an HTTP download, then the sync again (a fresh store)"
  rm -rf "$install/UDRADownload"
  udra sync Big/stream.bin --url "$http_root" > "$work/killed.out" 2>&1 &
  sync_pid=$!
  background+=("$sync_pid")
  part="" host=""
  for ((i = 0; i < 300; i++)); do
    part=$(find "$install/UDRADownload" -name '*.part' -size +256k 2>/dev/null | head -n 1)
    host=$(pids_of UDRAHostApp.exe | head -n 1)
    [ -n "$part" ] && [ -n "$host" ] && break
    sleep 0.1
  done
  if [ -z "$part" ] || [ -z "$host" ]; then
    fail_step "no download in progress to interrupt (partial file '${part}', host pid '${host}')"
    wait "$sync_pid"
  else
    echo "partial file $(stat -c %s "$part") bytes; killing UDRAHostApp.exe (Linux pid $host)"
    kill -KILL "$host"
    waited=$(date +%s%N)
    if wait "$sync_pid"; then killed_rc=0; else killed_rc=$?; fi
    tr '\r' '\n' < "$work/killed.out" | grep -v '^ *$' | tail -n 2 | sed 's/^/   | /'
    echo "udra sync ended $(seconds "$(ms_since "$waited")") after the kill, status $killed_rc"
    [ "$killed_rc" -ne 0 ] || fail "the sync reported success although its host was killed"
    [ "$killed_rc" -ne 124 ] || fail "udra sync did not end after its host was killed"
    recovered=$(date +%s%N)
    if udra sync Big/stream.bin --url "$http_root"; then
      echo "synced again in $(seconds "$(ms_since "$recovered")") by a new host; requests for it:"
      grep '/v1/Big/' "$web/access.log" | sed 's/^/   | /'
      done_step
    else
      fail_step "the sync after the kill failed"
    fi
  fi

  step "udra.exe sync of everything else from $http_root"
  if udra sync Data Maps Sound --url "$http_root"; then done_step; else fail_step "sync over HTTP failed"; fi

  step "reading every file back (MD5 against the source)"
  read_back "$content"
  echo "nginx served $(wc -l < "$web/access.log") requests"
  done_step

  step "shut-down: the host ends after the game"
  if gone_within UDRAHostApp.exe 20; then done_step; else fail_step "UDRAHostApp.exe still runs"; fi
else
  echo; echo "== (no nginx: the HTTP sync and the killed host are skipped)"
fi

errors=$(cat "$install"/Logs/*.log 2>/dev/null | grep -c '\[E\]\|^E ' || true)
echo
echo "logs: $(ls "$install/Logs" 2>/dev/null | wc -l) files, $errors error lines (the killed host's among them)"
echo "total $(seconds "$(ms_since "$started")")"
if [ "$failed" -eq 0 ]; then echo "main job under Wine: every file synced and read back intact"; else echo "main job under Wine: FAILED"; fi
exit "$failed"
