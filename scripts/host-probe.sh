# Sourced by the set-up, test and run scripts: can this host execute 32-bit x86 code?
#
# Some virtual machines offer user programs no 32-bit code segment: a 32-bit Linux program,
# Wine's 32-bit loader among them, cannot run there at all. The answer decides which
# architectures and which Wine the set-up installs, so it must come before any package:
# a 96-byte static i386 program, written here byte by byte, that exits with 42 only when its
# code really ran in 32-bit mode (in 64-bit mode its 0x40 is a prefix, not "inc eax", and
# it exits with 41). NORLO_HOST32=yes or no overrides the probe.

# The ELF header, one loadable segment, and: mov eax,41; inc eax; nop; mov ebx,eax;
# mov eax,1 (exit); int 0x80.
norlo_write_i386_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  printf '\xb8\x29\x00\x00\x00\x40\x90\x89\xc3\xb8\x01\x00\x00\x00\xcd\x80'
}

# True when the host runs 32-bit x86 code. The answer is kept for the rest of the script.
host_executes_i386() {
  if [ -z "${NORLO_HOST32_ANSWER:-}" ]; then
    case ${NORLO_HOST32:-} in
      yes) NORLO_HOST32_ANSWER=yes ;;
      no) NORLO_HOST32_ANSWER=no ;;
      "")
        local dir status=0
        dir=$(mktemp -d)
        norlo_write_i386_probe >"$dir/probe"
        chmod +x "$dir/probe"
        # A crash or "Exec format error" is an answer too; the inner shell reports it to
        # nobody (the "exit" keeps it from replacing itself with the probe).
        bash -c '"$0"; exit $?' "$dir/probe" >/dev/null 2>&1 || status=$?
        rm -rf "$dir"
        if [ "$status" = 42 ]; then NORLO_HOST32_ANSWER=yes; else NORLO_HOST32_ANSWER=no; fi ;;
      *) echo "NORLO_HOST32 must be yes or no, not '$NORLO_HOST32'" >&2; return 2 ;;
    esac
    export NORLO_HOST32_ANSWER
  fi
  [ "$NORLO_HOST32_ANSWER" = yes ]
}
