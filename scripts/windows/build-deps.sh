#!/usr/bin/env bash
# Builds the libraries the Windows build links statically, for
# x86_64-w64-mingw32, from Debian's own source packages: OpenSSL 3
# (legacy provider built in), libcurl on that OpenSSL, tinyxml2, RE2, and
# GoogleTest from the sources libgtest-dev ships, cpp-httplib's single
# header from its source package (Debian's binary package splits it into a
# shared library). nlohmann-json's headers are copied from the host's
# package.
#
#   build-deps.sh PREFIX
#
# Everything lands under PREFIX (include/, lib/); the sources and their
# builds under PREFIX/src. A library whose stamp names the same source
# version is not built again.
set -euo pipefail
prefix="$(mkdir -p "$1" && cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
host=x86_64-w64-mingw32
jobs="$(nproc)"
src="$prefix/src"
mkdir -p "$src" "$prefix/include" "$prefix/lib"

log() { echo "windows deps: $*" >&2; }

# The versions of a source package that apt knows, newest first.
source_versions() {
  apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq
}

# Fetches and unpacks a source package into $src once; prints its folder.
# The newest version the mirror serves wins (a suite's index can name a
# version whose files are not there yet).
fetch_source() {
  local pkg="$1" version folder
  local found
  found="$(find "$src" -mindepth 1 -maxdepth 1 -name "$pkg-*" -type d -exec test -f {}/.unpacked \; -print | head -1)"
  if [ -n "$found" ]; then
    echo "$found"
    return 0
  fi
  local versions
  versions="$(source_versions "$pkg")"
  if [ -z "$versions" ]; then
    log "no source package $pkg (is the deb-src entry there? run scripts/install-deps.sh)"
    return 1
  fi
  for version in $versions; do
    rm -rf "$src/fetch-$pkg"
    mkdir -p "$src/fetch-$pkg"
    chmod 777 "$src/fetch-$pkg"
    if (cd "$src/fetch-$pkg" && apt-get source -qq "$pkg=$version" >/dev/null 2>&1); then
      folder="$src/$pkg-$version"
      mv "$(find "$src/fetch-$pkg" -mindepth 1 -maxdepth 1 -type d | head -1)" "$folder"
      rm -rf "$src/fetch-$pkg"
      touch "$folder/.unpacked"
      echo "$folder"
      return 0
    fi
  done
  rm -rf "$src/fetch-$pkg"
  log "apt-get source $pkg failed for every version ($versions)"
  return 1
}

# True when the stamp of `name` already records `version`.
built() { [ -f "$prefix/.stamp-$1" ] && [ "$(cat "$prefix/.stamp-$1")" = "$2" ]; }
stamp() { echo "$2" >"$prefix/.stamp-$1"; }

build_openssl() {
  local dir version
  dir="$(fetch_source openssl)"
  version="$(basename "$dir")"
  built openssl "$version" && return 0
  log "building $version"
  local b="$src/build-openssl"
  rm -rf "$b" && cp -a "$dir" "$b"
  (cd "$b" &&
    ./Configure mingw64 no-shared no-tests no-module \
      --cross-compile-prefix="$host-" --prefix="$prefix" --libdir=lib \
      --openssldir="$prefix/ssl" >/dev/null &&
    make -s -j"$jobs" build_libs >/dev/null &&
    make -s install_dev >/dev/null)
  rm -rf "$b"
  stamp openssl "$version"
}

build_curl() {
  export QUIL_WINDOWS_DEPS="$prefix"
  local dir version
  dir="$(fetch_source curl)"
  version="$(basename "$dir")"
  built curl "$version-$(cat "$prefix/.stamp-openssl")" && return 0
  log "building $version"
  local b="$src/build-curl"
  rm -rf "$b"
  cmake -S "$dir" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_UNIX_SOCKETS=OFF -DCURL_CA_BUNDLE=none \
    -DCURL_CA_PATH=none -DCMAKE_C_COMPILER_LAUNCHER="$(command -v ccache || true)" >/dev/null
  ninja -C "$b" -j"$jobs" install >/dev/null
  rm -rf "$b"
  stamp curl "$version-$(cat "$prefix/.stamp-openssl")"
}

build_tinyxml2() {
  local dir version
  dir="$(fetch_source tinyxml2)"
  version="$(basename "$dir")"
  built tinyxml2 "$version" && return 0
  log "building $version"
  "$host-g++-posix" -O2 -std=c++17 -c "$dir/tinyxml2.cpp" -o "$src/tinyxml2.o"
  "$host-ar" rcs "$prefix/lib/libtinyxml2.a" "$src/tinyxml2.o"
  cp "$dir/tinyxml2.h" "$prefix/include/"
  rm -f "$src/tinyxml2.o"
  stamp tinyxml2 "$version"
}

build_gtest() {
  local dir=/usr/src/googletest version
  version="googletest-$(dpkg-query -W -f='${Version}' libgtest-dev)"
  built gtest "$version" && return 0
  log "building $version"
  local g="$dir/googletest" o="$src/gtest"
  mkdir -p "$o"
  "$host-g++-posix" -O2 -std=c++17 -I"$g/include" -I"$g" -c "$g/src/gtest-all.cc" -o "$o/gtest-all.o"
  "$host-g++-posix" -O2 -std=c++17 -I"$g/include" -I"$g" -c "$g/src/gtest_main.cc" -o "$o/gtest_main.o"
  "$host-ar" rcs "$prefix/lib/libgtest.a" "$o/gtest-all.o"
  "$host-ar" rcs "$prefix/lib/libgtest_main.a" "$o/gtest_main.o"
  rm -rf "$prefix/include/gtest" && cp -r "$g/include/gtest" "$prefix/include/"
  rm -rf "$o"
  stamp gtest "$version"
}

build_re2() {
  local dir version
  dir="$(fetch_source re2)"
  version="$(basename "$dir")"
  built re2 "$version" && return 0
  log "building $version"
  # Debian's source leaves out the generated Unicode and Perl class tables;
  # they are made from unicode-data as its own build does.
  local t
  for t in perl_groups:perl unicode_casefold:/usr/bin/python3 unicode_groups:/usr/bin/python3; do
    [ -f "$dir/re2/${t%%:*}.cc" ] && continue
    local script="$dir/re2/make_${t%%:*}.pl"
    [ -f "$script" ] || script="$dir/re2/make_${t%%:*}.py"
    (cd "$dir/re2" && "${t#*:}" "$script" >"${t%%:*}.cc.tmp" && mv "${t%%:*}.cc.tmp" "${t%%:*}.cc")
  done
  local b="$src/build-re2"
  rm -rf "$b"
  cmake -S "$dir" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DRE2_BUILD_TESTING=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" >/dev/null
  ninja -C "$b" -j"$jobs" install >/dev/null
  rm -rf "$b"
  stamp re2 "$version"
}

copy_headers() {
  local dir
  dir="$(fetch_source cpp-httplib)"
  cp "$dir/httplib.h" "$prefix/include/"
  rm -rf "$prefix/include/nlohmann" && cp -r /usr/include/nlohmann "$prefix/include/"
}

build_openssl
build_curl
build_tinyxml2
build_gtest
build_re2
copy_headers
