#!/usr/bin/env bash
# Installs what difrax needs to build: Debian's compiler, CMake, Ninja and the
# development packages of zlib, libzip, expat, ICU and GoogleTest. Packages
# already present are left alone, so this is quick on a prepared machine.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config zlib1g-dev libzip-dev libexpat1-dev libicu-dev libgtest-dev python3-venv)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Tools that came another way (pip's cmake and ninja, pyenv's venv) count too.
filtered=()
for p in "${missing[@]}"; do
  case "$p" in
    cmake) command -v cmake >/dev/null || filtered+=("$p") ;;
    ninja-build) command -v ninja >/dev/null || filtered+=("$p") ;;
    python3-venv) python3 -c 'import venv, ensurepip' 2>/dev/null || filtered+=("$p") ;;
    g++) command -v g++ >/dev/null || filtered+=("$p") ;;
    *) filtered+=("$p") ;;
  esac
done
if [ ${#filtered[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${filtered[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${filtered[@]}" >/dev/null
fi
