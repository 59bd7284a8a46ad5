#!/usr/bin/env bash
# Installs BUILD_DIR into a scratch prefix and builds a consumer program against it twice, through
# pkg-config and through CMake's find_package, then runs both.
#
#   check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/usr"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libfusekit.so.1' | head -n 1)")
for file in "$libdir/libfusekit.so.1" "$libdir/libfusekit.so" "$libdir/libboardi2c.so.1" \
            "$libdir/libboardutil.so.1" "$prefix/include/fusekit/fusekit.h" \
            "$prefix/include/fusekit/result_code.h" "$prefix/sbin/fuseupdate" \
            "$prefix/share/man/man8/fuseupdate.8" "$libdir/pkgconfig/fusekit.pc" \
            "$libdir/cmake/fusekit/fusekitConfig.cmake"; do
  [[ -e "$file" ]] || { echo "not installed: ${file#$prefix/}" >&2; exit 1; }
done

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -Wall -Werror -o "$scratch/consumer-pc" "$source_dir/consumer/consumer.c" \
  $(pkg-config --cflags --libs fusekit)
LD_LIBRARY_PATH="$libdir" "$scratch/consumer-pc"

cmake -S "$source_dir/consumer" -B "$scratch/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  >/dev/null
cmake --build "$scratch/consumer-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$scratch/consumer-build/consumer"
