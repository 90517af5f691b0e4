#!/usr/bin/env bash
# Installs what Kestrane needs to build and test, and caches the Lua source
# tarball outside the source tree. Safe to run again: it skips what is done.
set -euo pipefail

LUA_VERSION=5.4.4
LUA_SHA256=164c7849653b80ae67bec4b7473b884bf5cc8d2dca05653475ec2ed27b9ebf61
CACHE_DIR="${XDG_CACHE_HOME:-$HOME/.cache}/kestrane"
LUA_TARBALL="$CACHE_DIR/lua-$LUA_VERSION.tar.gz"
SRC_LIST=/etc/apt/sources.list.d/kestrane-src.sources

PACKAGES=(
    g++ clang cmake make pkg-config patch dpkg-dev
    libsdl2-dev liblz4-dev libpng-dev libgif-dev libcurl4-openssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    lua-cjson
    xvfb xauth xdotool x11-apps
    imagemagick
    libclang-rt-14-dev
)

say() { printf 'setup: %s\n' "$*"; }
die() { printf 'setup: error: %s\n' "$*" >&2; exit 1; }

# Root runs apt directly; anyone else goes through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        die "need root or sudo to run: $*"
    fi
}

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

tarball_ok() { [ -f "$1" ] && [ "$(sha256_of "$1")" = "$LUA_SHA256" ]; }

missing_packages() {
    local p status
    for p in "${PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
        [ "${status:0:2}" = "ii" ] || printf '%s\n' "$p"
    done
}

# Writes the deb-src entry for the running release, only when it differs.
ensure_deb_src() {
    local codename wanted
    codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || die "cannot read VERSION_CODENAME from /etc/os-release"
    wanted="Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
    if [ ! -f "$SRC_LIST" ] || [ "$(cat "$SRC_LIST")" != "$wanted" ]; then
        say "adding deb-src entry for $codename"
        printf '%s\n' "$wanted" | as_root tee "$SRC_LIST" >/dev/null
    fi
}

apt_update_done=0
apt_update() {
    if [ "$apt_update_done" -eq 0 ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
        apt_update_done=1
    fi
}

# Puts a verified copy of the tarball at $LUA_TARBALL.
fetch_lua() {
    mkdir -p "$CACHE_DIR"
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-lua.XXXXXX")
    trap 'rm -rf "$tmp"' EXIT

    if [ -n "${KESTRANE_LUA_TARBALL:-}" ]; then
        [ -f "$KESTRANE_LUA_TARBALL" ] ||
            die "KESTRANE_LUA_TARBALL=$KESTRANE_LUA_TARBALL is not a file"
        say "copying $KESTRANE_LUA_TARBALL"
        cp "$KESTRANE_LUA_TARBALL" "$tmp/lua.tar.gz"
    else
        say "downloading the lua5.4 source package"
        # apt's download sandbox user must be able to write here.
        chmod 0777 "$tmp"
        (cd "$tmp" && apt-get source --download-only -q lua5.4 >/dev/null) ||
            die "apt-get source lua5.4 failed; set KESTRANE_LUA_TARBALL to a lua-$LUA_VERSION.tar.gz"
        [ -f "$tmp/lua5.4_$LUA_VERSION.orig.tar.gz" ] ||
            die "the lua5.4 source package of this release is not $LUA_VERSION; set KESTRANE_LUA_TARBALL to a lua-$LUA_VERSION.tar.gz"
        mv "$tmp/lua5.4_$LUA_VERSION.orig.tar.gz" "$tmp/lua.tar.gz"
    fi

    local got
    got=$(sha256_of "$tmp/lua.tar.gz")
    [ "$got" = "$LUA_SHA256" ] ||
        die "Lua tarball checksum mismatch: expected $LUA_SHA256, got $got; refusing it"
    # Copy then rename, so the cache never holds a partial file.
    cp "$tmp/lua.tar.gz" "$LUA_TARBALL.part"
    mv "$LUA_TARBALL.part" "$LUA_TARBALL"
    say "cached $LUA_TARBALL"
}

main() {
    local missing need_lua=0
    mapfile -t missing < <(missing_packages)

    if [ -e "$LUA_TARBALL" ]; then
        tarball_ok "$LUA_TARBALL" ||
            die "cached $LUA_TARBALL does not have sha256 $LUA_SHA256; delete it and run tools/setup.sh again"
    else
        need_lua=1
    fi

    if [ "$need_lua" -eq 1 ] && [ -z "${KESTRANE_LUA_TARBALL:-}" ]; then
        ensure_deb_src
        apt_update
    fi
    if [ "${#missing[@]}" -gt 0 ]; then
        say "installing: ${missing[*]}"
        apt_update
        as_root env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
    if [ "$need_lua" -eq 1 ]; then
        fetch_lua
    fi
    say "ok: packages installed, Lua $LUA_VERSION at $LUA_TARBALL"
}

main "$@"
