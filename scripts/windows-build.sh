# Sourced by the scripts: which build the Windows-side programs run on under Wine.
#
# The product is the 32-bit velmor.exe and is built everywhere. Some kernels cannot execute 32-bit x86
# code at all (Wine's 32-bit loader included); there the Windows-side suite and the demo run on the
# 64-bit twin, the same sources built for x86_64. VELMOR_WINDOWS_BUILD=32 or 64 overrides the probe.

# True when this host executes a 32-bit x86 Linux program: a three-instruction exit(0).
host_runs_32bit_code() {
  local dir status=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/velmor-probe.XXXXXX")
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/probe.s"
  if as --32 -o "$dir/probe.o" "$dir/probe.s" 2>/dev/null && ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>/dev/null; then
    "$dir/probe" 2>/dev/null || status=$?
  else
    status=1
  fi
  rm -rf "$dir"
  return "$status"
}

# Sets windows_preset (windows or windows64) and windows_build ("32-bit build" or "64-bit build"), and
# says in one line which one runs and why.
pick_windows_build() {
  case "${VELMOR_WINDOWS_BUILD:-}" in
    32) windows_preset=windows windows_build="32-bit build"
        echo "VELMOR_WINDOWS_BUILD=32: the Windows-side programs run on the 32-bit build" ;;
    64) windows_preset=windows64 windows_build="64-bit build"
        echo "VELMOR_WINDOWS_BUILD=64: the Windows-side programs run on the 64-bit build" ;;
    *)
      if host_runs_32bit_code; then
        windows_preset=windows windows_build="32-bit build"
        echo "this host executes 32-bit programs: the Windows tier runs on the 32-bit build"
      else
        windows_preset=windows64 windows_build="64-bit build"
        echo "this host cannot execute 32-bit programs: the Windows tier runs on the 64-bit build"
      fi
      ;;
  esac
}
