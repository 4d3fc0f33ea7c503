# Sourced by the scripts: which build the Windows-side programs run on under Wine.
#
# The product is the 32-bit velmor.exe and is built everywhere. Some kernels cannot execute 32-bit x86
# code at all (Wine's 32-bit loader included). There the Windows-side suite, the demo, the benchmark
# and the screenshots run on the 64-bit twin, the same sources built for x86_64; and where the
# user-mode emulator can stand in for the kernel (scripts/emulate-i386), scripts/test also runs a
# chosen set of cases on the shipped 32-bit exes under it (the shipped-binary tier).
# VELMOR_WINDOWS_BUILD=32 or 64 overrides the probe; VELMOR_WINDOWS_BUILD=emulated takes the
# emulated road even on a host that executes 32-bit code.

# Assembles the probe, a three-instruction exit(0) for 32-bit x86 Linux, into <folder>/probe.
make_32bit_probe() {
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$1/probe.s"
  as --32 -o "$1/probe.o" "$1/probe.s" 2>/dev/null && ld -m elf_i386 -o "$1/probe" "$1/probe.o" 2>/dev/null
}

# True when this host executes a 32-bit x86 Linux program itself (or through an emulator that its
# administrator registered for the whole machine).
host_runs_32bit_code() {
  local dir status=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/velmor-probe.XXXXXX")
  if make_32bit_probe "$dir"; then "$dir/probe" 2>/dev/null || status=$?; else status=1; fi
  rm -rf "$dir"
  return "$status"
}

# True when the probe runs under scripts/emulate-i386; else says why not in one line on stderr.
host_emulates_32bit_code() {
  local dir status=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/velmor-probe.XXXXXX")
  if ! make_32bit_probe "$dir"; then
    echo "the probe could not be assembled (binutils missing?)" >&2
    status=1
  else
    scripts/emulate-i386 "$dir/probe" || status=$?
    # 125: emulate-i386 said why; any other failure is the probe's.
    [ "$status" -eq 0 ] || [ "$status" -eq 125 ] || echo "the emulator did not run the probe" >&2
  fi
  rm -rf "$dir"
  return "$status"
}

# Sets windows_preset (windows or windows64), windows_build ("32-bit build" or "64-bit build") and
# shipped_tier (yes when scripts/test runs the shipped 32-bit exes under the emulator as well), and
# says in one line which one runs and why.
pick_windows_build() {
  shipped_tier=no
  local why
  case "${VELMOR_WINDOWS_BUILD:-}" in
    32) windows_preset=windows windows_build="32-bit build"
        echo "VELMOR_WINDOWS_BUILD=32: the Windows-side programs run on the 32-bit build" ;;
    64) windows_preset=windows64 windows_build="64-bit build"
        echo "VELMOR_WINDOWS_BUILD=64: the Windows-side programs run on the 64-bit build" ;;
    emulated)
      windows_preset=windows64 windows_build="64-bit build" shipped_tier=yes
      echo "VELMOR_WINDOWS_BUILD=emulated: the Windows-side programs run on the 64-bit build, and the shipped 32-bit exes under the emulator" ;;
    *)
      if host_runs_32bit_code; then
        windows_preset=windows windows_build="32-bit build"
        echo "this host executes 32-bit programs: the Windows tier runs on the 32-bit build"
      elif why=$(host_emulates_32bit_code 2>&1); then
        windows_preset=windows64 windows_build="64-bit build" shipped_tier=yes
        echo "this host cannot execute 32-bit programs but emulates them: the Windows tier runs on the 64-bit build, and the shipped 32-bit exes run under the emulator"
      else
        windows_preset=windows64 windows_build="64-bit build"
        echo "this host cannot execute 32-bit programs, nor emulate them (${why:-no reason given}): the Windows tier runs on the 64-bit build alone"
      fi
      ;;
  esac
}
