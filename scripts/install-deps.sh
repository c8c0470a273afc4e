#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root or with sudo).
set -euo pipefail
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
# A mirror caught mid-sync fails one index now and then; apt keeps the
# indexes it has, and the install below fails only if a package is missing.
update() {
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)" >&2
    sleep 5
  done
  echo "going on with the package indexes apt has" >&2
}
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  liblzma-dev lzma-dev libsqlite3-dev libcurl4-openssl-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine64 wine32:i386 xvfb xauth locales nginx-light curl python3
  chromium
  dpkg-dev make tcl  # scripts/build-mingw-deps.sh: apt-get source, the SQLite amalgamation
)
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  update
fi
# scripts/build-mingw-deps.sh builds the Windows libraries from Debian's
# source packages: deb-src lines for the archives the binary lines name.
src_list=/etc/apt/sources.list.d/udra-deb-src.sources
if [ ! -e "$src_list" ] && ! grep -qsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$src_list" >/dev/null
  else
    $SUDO tee "$src_list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  update
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  update
  install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
  if ! $SUDO "${install[@]}" "${missing[@]}"; then
    # A 32-bit library must have the very version of its 64-bit twin. When
    # the security archive's i386 index could not be read, the twins exist in
    # the same version only in the main archive: prefer it for this install.
    echo "retrying with the main archive preferred over the security archive" >&2
    pin=$(mktemp)
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
    chmod 644 "$pin"
    $SUDO "${install[@]}" -o Dir::Etc::Preferences="$pin" "${missing[@]}"
    rm -f "$pin"
  fi
fi
# Wine takes its ANSI code page (936, GBK) and the encoding of file names on
# disk (UTF-8) from the locale the Windows tests run in.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  $SUDO sed -i 's/^# *\(zh_CN\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
