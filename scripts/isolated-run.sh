#!/usr/bin/env bash
# Runs a command in a private mount namespace where /var and /conf are the scratch folders
# SCRATCH/var and SCRATCH/conf, so that the update program's fixed paths never reach the real
# ones. The rest of the file system is the machine's own. Works as root (unshare -m) or, where
# user namespaces are allowed, as another user (unshare -rm).
#
#   isolated-run.sh SCRATCH COMMAND [ARG...]
#
# Exits 77 when no private mount namespace can be made here.
set -euo pipefail

if [[ "${1:-}" != "--inside" ]]; then
  scratch=$(realpath "$1")
  shift
  mkdir -p "$scratch/var" "$scratch/conf"
  if [[ $(id -u) -eq 0 ]]; then flags=(-m); else flags=(-r -m); fi
  if ! unshare "${flags[@]}" true 2>/dev/null; then
    echo "isolated-run: cannot make a private mount namespace here (unshare ${flags[*]} refused)" >&2
    exit 77
  fi
  exec unshare "${flags[@]}" --propagation private "$0" --inside "$scratch" "$PWD" "$@"
fi

scratch=$2
workdir=$3
shift 3

root="$scratch/.root"
mkdir -p "$root"
mount -t tmpfs -o mode=0755 fusekit-root "$root"
for entry in /*; do
  name=${entry#/}
  case "$name" in
    var | conf | tmp | proc | sys | dev) continue ;;
  esac
  if [[ -L "$entry" ]]; then
    ln -s "$(readlink "$entry")" "$root/$name"
  elif [[ -d "$entry" ]]; then
    mkdir "$root/$name"
    mount --rbind "$entry" "$root/$name"
  fi
done
for name in var conf tmp proc sys dev; do mkdir -p "$root/$name"; done
mount --bind "$scratch/var" "$root/var"
mount --bind "$scratch/conf" "$root/conf"
mount --bind /tmp "$root/tmp"
for name in proc sys dev; do mount --rbind "/$name" "$root/$name"; done

exec chroot "$root" /bin/sh -c 'cd "$1" && shift && exec "$@"' isolated-run "$workdir" "$@"
