# Loaded by gdb (gdb -batch -x gdb_frames.py <program>): runs the program
# once for each failure of CORPUS_FAILURES (a count), stops at the failure
# (a fault, a division by zero, or the program's raise function), prints the
# failing thread's frames, then lets the program go on to report the failure
# into CORPUS_REPORTS/<failure>.txt. Symbols come from the unstripped copy
# named by CORPUS_SYMBOLS, added at the address the stripped program runs at.
import os

import gdb

gdb.execute("set pagination off")
gdb.execute("set confirm off")
gdb.execute("set debuginfod enabled off")
gdb.execute("set auto-load off")
gdb.execute("set debug-file-directory /nonexistent")
gdb.execute("set libthread-db-search-path /nonexistent")
gdb.execute("set startup-with-shell off")
gdb.execute("set print thread-events off")
gdb.execute("set print inferior-events off")
gdb.execute("handle all nostop noprint pass")
gdb.execute("handle SIGSEGV SIGFPE stop print pass")


def print_frames(index, at_raise):
    """The failing thread's frames as pc:own:name (own: the program's code
    with a source line); at the raise function's breakpoint the first is
    that function's range instead (the report names the throw inside it)."""
    frames = []
    frame = gdb.newest_frame()
    while frame is not None:
        if frame.type() != gdb.INLINE_FRAME:
            sal = frame.find_sal()
            own = gdb.solib_name(frame.pc()) is None and sal.symtab is not None
            pc = "%x" % frame.pc()
            if at_raise and not frames:
                block = frame.block()
                pc = "%x-%x" % (block.start, block.end)
            frames.append("%s:%d:%s" % (pc, 1 if own else 0, frame.name() or "??"))
        frame = frame.older()
    print("GDBFRAMES %d %s" % (index, " ".join(f.replace(" ", "_") for f in frames)), flush=True)


reports = os.environ["CORPUS_REPORTS"]
symbols_added = False
for index in range(int(os.environ["CORPUS_FAILURES"])):
    gdb.execute("set environment CORPUS_REPORT=%s/%d.txt" % (reports, index))
    gdb.execute("set args %d" % index)
    if symbols_added:
        gdb.execute("run", to_string=True)
    else:
        gdb.execute("starti", to_string=True)
        program = gdb.current_progspace().filename
        base = None
        for line in gdb.execute("info proc mappings", to_string=True).splitlines():
            fields = line.split()
            if len(fields) >= 5 and fields[-1] == program and fields[0].startswith("0x"):
                base = int(fields[0], 16)
                break
        gdb.execute("add-symbol-file %s -o 0x%x" % (os.environ["CORPUS_SYMBOLS"], base), to_string=True)
        # The programs throw through one function of their own.
        gdb.execute("break corpus::Raise", to_string=True)
        symbols_added = True
        gdb.execute("continue", to_string=True)
    seen = False
    while gdb.selected_inferior().pid != 0:
        if not seen:
            print_frames(index, (gdb.newest_frame().name() or "").startswith("corpus::Raise"))
            seen = True
        try:
            gdb.execute("continue", to_string=True)
        except gdb.error:
            break
