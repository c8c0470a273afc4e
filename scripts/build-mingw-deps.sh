#!/usr/bin/env bash
# Builds the third-party libraries of the Windows companions (SQLite, liblzma,
# libcurl) as static i686-w64-mingw32 libraries from Debian's own source
# packages and installs them, with headers, pkg-config files and (for curl)
# a CMake package, into one prefix that cmake/toolchain-mingw-i686.cmake
# searches when UDRA_MINGW_DEPS names it.
#
# Usage: scripts/build-mingw-deps.sh [PREFIX]
#   PREFIX defaults to $UDRA_MINGW_DEPS, else ~/.cache/udra/mingw-deps (under
#   $XDG_CACHE_HOME when set). Sources are fetched with apt-get source (deb-src
#   lines: scripts/install-deps.sh adds them) into $UDRA_MINGW_DEPS_WORK, else
#   ~/.cache/udra/mingw-deps-work. The last line printed is the prefix.
#
# Each library is rebuilt only when its key changes: the source package
# version, the MinGW compiler (and for curl the CMake version), and the hash
# of this script's code. A stamp per library in PREFIX/.stamps holds the key.
#
# What the libraries are:
#   SQLite   the amalgamation made from the source package, compiled with the
#            options of Debian's libsqlite3 (the one the Linux store links),
#            thread-safe (SQLITE_THREADSAFE=1), WAL as always.
#   liblzma  xz-utils' autotools build of liblzma only.
#   libcurl  curl's CMake build: HTTP, HTTPS and FILE only, TLS by Schannel
#            (Windows' own), the threaded resolver, no zlib (the host asks for
#            no content decoding), no HTTP/2 (no nghttp2), no LDAP, RTMP,
#            libssh, IDN, PSL, brotli or zstd; Unicode Windows calls, so a
#            file:// URL's path (UTF-8 once unescaped) opens by its real name.
#            Its CURLConfig.cmake gives consumers CURL_STATICLIB and the
#            Windows system libraries.
#
# Measured on the 2-core machine while other builds kept it busy (load ~10):
# cold, SQLite 2m35s, liblzma 1m40s, libcurl 3m20s (3m15s of CPU in all),
# 7m45s for the three, plus about 20 s the first time to fetch the source
# packages; warm (every stamp current), 2.5 s. On an idle machine SQLite takes
# about 1.5 min and liblzma 45 s.
set -euo pipefail

self=$(readlink -f "$0")
host=i686-w64-mingw32
cc=$host-gcc-posix
jobs=$(nproc)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/udra
prefix=${1:-${UDRA_MINGW_DEPS:-$cache/mingw-deps}}
work=${UDRA_MINGW_DEPS_WORK:-$cache/mingw-deps-work}

die() { echo "build-mingw-deps: FAILED: $*" >&2; exit 1; }

for tool in "$cc" "$host-ar" "$host-windres" gcc make cmake ninja tclsh apt-get dpkg-source sha256sum flock; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done
mkdir -p "$prefix" "$work/src" "$work/build" "$work/logs" || die "cannot create $prefix or $work"
prefix=$(cd "$prefix" && pwd)
work=$(cd "$work" && pwd)
# One run at a time: the build folders in $work are shared by every prefix.
exec 9>"$work/.lock"
flock -n 9 || { echo "waiting for another build-mingw-deps.sh run to finish" >&2; flock 9; }
mkdir -p "$prefix/.stamps"

compiler="$($cc -dumpfullversion 2>/dev/null || $cc -dumpversion) $(dpkg-query -W -f='${Version}' gcc-mingw-w64-i686-posix 2>/dev/null || true)"
# The script's code without its comments: editing a comment rebuilds nothing.
script_hash=$(grep -v '^[[:space:]]*#' "$self" | sha256sum | cut -d' ' -f1)

# The versions apt-get source would fetch now, from the local indexes (no
# download), asked for all packages at once: each call reads every index.
declare -A versions=()
lookup_versions() {
  local tmp dsc pkg
  tmp=$(mktemp -d)
  while read -r dsc; do
    for pkg in "$@"; do
      case "$dsc" in "${pkg}_"*.dsc) dsc=${dsc#"${pkg}_"}; versions[$pkg]=${dsc%.dsc}; break ;; esac
    done
  done < <(cd "$tmp" && apt-get source --print-uris -qq "$@" 2>/dev/null | awk '$2 ~ /\.dsc$/ { print $2 }')
  rmdir "$tmp"
}

# Fetches and unpacks (Debian patches applied) one source package once per
# version; prints the unpacked tree. Older versions are removed.
fetch_source() {
  local pkg=$1 version=$2 dir=$work/src/$1_$2 tree
  if [ ! -f "$dir/.unpacked" ]; then
    rm -rf "$dir"; mkdir -p "$dir"
    echo "fetching the source package $pkg $version" >&2
    (cd "$dir" && apt-get source -qq "$pkg=$version") >"$work/logs/$pkg-fetch.log" 2>&1 \
      || { tail -n 20 "$work/logs/$pkg-fetch.log" >&2; die "apt-get source $pkg=$version (log: $work/logs/$pkg-fetch.log)"; }
    tree=$(find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$tree" ] || die "apt-get source $pkg unpacked nothing in $dir"
    echo "$tree" >"$dir/.unpacked"
  fi
  find "$work/src" -mindepth 1 -maxdepth 1 -name "${pkg}_*" ! -name "${pkg}_$version" -exec rm -rf {} +
  cat "$dir/.unpacked"
}

# --- the builds: each gets its unpacked source tree and an empty build folder.

# Debian's libsqlite3 options (debian/rules' CFLAGS and what its configure
# switches on), so that the store behaves on Windows as it does on Linux.
sqlite_flags=(
  -O2 -fno-strict-aliasing -DNDEBUG
  -DSQLITE_ENABLE_FTS4 -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_MATH_FUNCTIONS
  -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
  -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS
  -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY
  -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW
  -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_LOAD_EXTENSION -DSQLITE_ENABLE_JSON1
  -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_FTS3_TOKENIZER=1
  -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_ENABLE_PREUPDATE_HOOK
  -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB -DSQLITE_MAX_VARIABLE_NUMBER=250000
)

build_sqlite3() {
  local src=$1 b=$2 version
  # The amalgamation is generated by build-machine tools (lemon, tclsh).
  (cd "$b" && CC=gcc CFLAGS=-O2 "$src/configure" --disable-tcl --disable-shared --disable-readline)
  make -C "$b" -j "$jobs" sqlite3.c
  "$cc" "${sqlite_flags[@]}" -c "$b/sqlite3.c" -o "$b/sqlite3.o"
  "$host-ar" rcs "$b/libsqlite3.a" "$b/sqlite3.o"
  install -D -m 644 "$b/libsqlite3.a" "$prefix/lib/libsqlite3.a"
  install -D -m 644 -t "$prefix/include" "$b/sqlite3.h" "$b/sqlite3ext.h"
  version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$b/sqlite3.h")
  mkdir -p "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine (static, i686-w64-mingw32)
Version: $version
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
}

build_xz_utils() {
  local src=$1 b=$2
  (cd "$b" && "$src/configure" --host="$host" CC="$cc" CFLAGS=-O2 --prefix="$prefix" \
    --disable-shared --enable-static --disable-xz --disable-xzdec --disable-lzmadec \
    --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls)
  make -C "$b/src/liblzma" -j "$jobs"
  make -C "$b/src/liblzma" install
  rm -f "$prefix/lib/liblzma.la"
}

build_curl() {
  local src=$1 b=$2 protocol off=()
  for protocol in DICT FTP GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP; do
    off+=("-DCURL_DISABLE_$protocol=ON")
  done
  cmake -S "$src" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=i686 \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_RC_COMPILER="$host-windres" \
    -DCMAKE_FIND_ROOT_PATH="/usr/$host" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DPICKY_COMPILER=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_GSSAPI=OFF -DENABLE_THREADED_RESOLVER=ON -DENABLE_UNICODE=ON "${off[@]}"
  cmake --build "$b" -j "$jobs"
  cmake --install "$b"
  rm -f "$prefix/bin/curl-config"
  rmdir "$prefix/bin" 2>/dev/null || true
  # CMake's libcurl.pc lists the compiler's own libraries (-lpthread among
  # them, which would pull in the winpthread DLL) and misses CURL_STATICLIB:
  # what a static libcurl needs, as CURLConfig.cmake has it.
  sed -i -e 's/^Cflags:.*/Cflags: -I${includedir} -DCURL_STATICLIB/' \
    -e 's/^Libs:.*/Libs: -L${libdir} -lcurl -lwinmm -lws2_32 -ladvapi32 -lcrypt32 -lbcrypt/' \
    -e 's/^Libs.private:.*/Libs.private:/' "$prefix/lib/pkgconfig/libcurl.pc"
}

# --- the driver

fmt_time() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# build PKG FUNCTION ESTIMATE EXTRA_KEY
build() {
  local pkg=$1 fn=$2 estimate=$3 extra=$4 version key stamp=$prefix/.stamps/$1 src b log start status
  version=${versions[$pkg]:-}
  if [ -z "$version" ]; then
    if [ -f "$stamp" ]; then
      echo "warning: apt knows no source package $pkg now; keeping the installed build ($(head -n 1 "$stamp"))" >&2
      return 0
    fi
    die "apt knows no source package $pkg: add deb-src lines and run apt-get update (scripts/install-deps.sh does both)"
  fi
  key=$(printf '%s\n' "$pkg $version" "compiler $compiler" "$extra" "script $script_hash")
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
    echo "$pkg $version: up to date"
    return 0
  fi
  src=$(fetch_source "$pkg" "$version")
  b=$work/build/$pkg; log=$work/logs/$pkg.log
  rm -rf "$b" "$stamp"; mkdir -p "$b"
  echo "building $pkg $version, about $estimate (log: $log)"
  start=$SECONDS
  # Not in an if: there set -e would not stop the build at its first failure.
  set +e
  ( set -e; "$fn" "$src" "$b" ) >"$log" 2>&1
  status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&2
    die "building $pkg $version (the whole log: $log)"
  fi
  rm -rf "$b"
  echo "$key" >"$stamp"
  echo "  $pkg built in $(fmt_time $((SECONDS - start)))"
}

lookup_versions sqlite3 xz-utils curl
build sqlite3 build_sqlite3 "2 min" ""
build xz-utils build_xz_utils "1 min" ""
build curl build_curl "2.5 min" "cmake $(cmake --version | head -n 1)"
echo "$prefix"
