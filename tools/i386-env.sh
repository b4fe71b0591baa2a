# Sourced by tools/bootstrap and tools/wine-env.sh: 32-bit Linux programs (Wine's 32-bit loader runs
# every Windows program we build) on kernels that cannot execute them. Such a kernel has its 32-bit
# emulation switched off at boot; a static qemu user-mode emulator registered with binfmt_misc for
# i386 ELF files runs them instead. Debian 12's own qemu (7.2) takes about a minute per Wine start,
# the backports one (10.x) a third of a second, so the emulator comes from backports, pinned so that
# nothing else is taken from there.
#   i386_runs                 true when an i386 ELF program runs here (natively or through a handler)
#   i386_install_emulator     add the pinned backports suite and install its qemu-user (idempotent)
#   i386_register NAME        register the emulator for i386 ELF files under NAME (idempotent)
#   i386_unregister NAME      remove that registration again
# SETUP_EMULATE_I386=1 forces the emulated path on any machine: wine_env_start registers the emulator
# for the command that started the Wine world, and wine_env_stop removes it again.

I386_BINFMT=/proc/sys/fs/binfmt_misc
I386_EMULATOR=/usr/bin/qemu-i386

# Runs a 96-byte i386 ELF program that exits with 42 through int 0x80: proof by running, not by
# looking at files.
i386_runs() {
  local probe status
  probe=$(mktemp) || return 1
  printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# The emulator's major version, or nothing when it is missing.
_i386_emulator_major() {
  [ -x "$I386_EMULATOR" ] || return 0
  "$I386_EMULATOR" --version 2>/dev/null | sed -n -E '1s/.*version ([0-9]+)\..*/\1/p'
}

i386_install_emulator() {
  local major
  major=$(_i386_emulator_major)
  [ -n "$major" ] && [ "$major" -ge 10 ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "i386: run as root to install the emulator" >&2; return 1; }
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "i386: cannot tell this Debian release" >&2; return 1; }
  cat >/etc/apt/sources.list.d/setup-backports.sources <<SOURCES
Types: deb
URIs: http://deb.debian.org/debian
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  cat >/etc/apt/preferences.d/setup-backports <<PREFERENCES
Package: *
Pin: release n=$codename-backports
Pin-Priority: 100

Package: qemu-user
Pin: release n=$codename-backports
Pin-Priority: 990
PREFERENCES
  DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user >/dev/null ||
    { echo "i386: cannot install qemu-user from $codename-backports" >&2; return 1; }
  major=$(_i386_emulator_major)
  [ -n "$major" ] && [ "$major" -ge 10 ] ||
    { echo "i386: $I386_EMULATOR is not version 10 or later" >&2; return 1; }
}

_i386_mount_binfmt() {
  [ -w "$I386_BINFMT/register" ] && return 0
  mount -t binfmt_misc binfmt_misc "$I386_BINFMT" 2>/dev/null
  [ -w "$I386_BINFMT/register" ] || { echo "i386: binfmt_misc is not available" >&2; return 1; }
}

# F opens the emulator now, so the handler works in any mount namespace; P keeps argv[0] as given.
i386_register() {  # name
  local name=$1
  _i386_mount_binfmt || return 1
  [ -e "$I386_BINFMT/$name" ] && return 0
  printf '%s' ":$name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$I386_EMULATOR:FP" \
    >"$I386_BINFMT/register" || { echo "i386: cannot register $name" >&2; return 1; }
}

i386_unregister() {  # name
  [ -e "$I386_BINFMT/$1" ] || return 0
  echo -1 >"$I386_BINFMT/$1"
}

# The forced registration is named after the process that made it, so runs side by side keep their own,
# and one left behind by a killed run is removed by the next.
i386_force_start() {
  local entry pid
  for entry in "$I386_BINFMT"/setup-i386-*; do
    [ -e "$entry" ] || continue
    pid=${entry##*-}
    kill -0 "$pid" 2>/dev/null || i386_unregister "$(basename "$entry")"
  done
  i386_install_emulator && i386_register "setup-i386-$$" &&
    echo "i386: SETUP_EMULATE_I386=1: 32-bit programs run under $I386_EMULATOR until this command ends"
}

i386_force_stop() {
  i386_unregister "setup-i386-$$"
}
