#!/usr/bin/python3
"""The call-stack accuracy corpus: every failure of every corpus program is
run once under gdb, which stops at the failure and prints the failing
thread's frames, while the program's reporter writes its report. The
report's rows of the failing thread are compared with gdb's frames:

  recall: frames of gdb in the program's own code (with a source line)
          that the report names, in order;
  extra:  rows of the report (one per address) that gdb does not have.

    run_corpus.py <program>...   (each with <program>.symbols beside it)

Fails unless recall is 100 % and there are no extra rows over at least 200
failures."""
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROW = re.compile(r"^\|([0-9A-F]{16})\|([^|]*)\|([^|]*)\|([^|]*)\|([^|]*)\|")


def report_frames(text):
    """The exception thread's frames: (address, procedure), one per address
    (the rows of inlined calls at an address and its function are one)."""
    frames, inside, inlined_before = [], False, False
    for line in text.splitlines():
        if "| Exception Thread:" in line:
            inside = True
            continue
        if not inside:
            continue
        if "Thread:" in line or line.startswith("----"):
            if frames:
                break
            continue
        m = ROW.match(line)
        if not m:
            continue
        address, procedure = int(m.group(1), 16), m.group(5).strip()
        if frames and inlined_before and frames[-1][0] == address:
            frames[-1] = (address, procedure)
        else:
            frames.append((address, procedure))
        inlined_before = "[inlined]" in procedure
    return frames


def matches(row_address, gdb_pc, exact):
    """gdb_pc: a return address, the faulting instruction (exact), or the
    range of the raise function where gdb stopped at its entry."""
    if isinstance(gdb_pc, tuple):
        return gdb_pc[0] <= row_address < gdb_pc[1]
    if exact:
        return row_address == gdb_pc
    return gdb_pc - 16 <= row_address < gdb_pc


def run_program(program):
    """Every failure of one program under one gdb: [(index, gdb frames,
    report frames, detail)]."""
    count = int(subprocess.run([program], capture_output=True, text=True, check=True).stdout)
    with tempfile.TemporaryDirectory() as reports:
        env = dict(os.environ, CORPUS_REPORTS=reports, CORPUS_FAILURES=str(count),
                   CORPUS_SYMBOLS=program + ".symbols")
        env.pop("DEBUGINFOD_URLS", None)
        proc = subprocess.run(["gdb", "-nx", "-batch", "-x", os.path.join(HERE, "gdb_frames.py"), program],
                              env=env, capture_output=True, text=True, timeout=600)
        frames = {}
        for line in proc.stdout.splitlines():
            if line.startswith("GDBFRAMES "):
                parts = line.split()
                frames[int(parts[1])] = parts[2:]
        results = []
        for index in range(count):
            path = os.path.join(reports, "%d.txt" % index)
            text = open(path, errors="replace").read() if os.path.exists(path) else ""
            if index not in frames or not text:
                results.append((index, None, None, proc.stdout[-1500:] + proc.stderr[-1500:]))
                continue
            gdb_frames = []
            for item in frames[index]:
                pc, own, name = item.split(":", 2)
                if "-" in pc:
                    start, end = pc.split("-")
                    gdb_frames.append(((int(start, 16), int(end, 16)), own == "1", name))
                else:
                    gdb_frames.append((int(pc, 16), own == "1", name))
            results.append((index, gdb_frames, report_frames(text), text))
    return program, results


def compare(gdb_frames, rows):
    """(gdb frames of own code, of them found, extra report rows, details)."""
    # Greedy in-order alignment: each report row takes the next gdb frame
    # it matches; the first gdb frame is the failing instruction itself.
    used, found_own, extras, j = set(), 0, [], 0
    for address, procedure in rows:
        k = j
        while k < len(gdb_frames) and not matches(address, gdb_frames[k][0], k == 0):
            k += 1
        if k < len(gdb_frames):
            used.add(k)
            j = k + 1
        else:
            extras.append("%016X %s" % (address, procedure))
    own = [k for k, f in enumerate(gdb_frames) if f[1]]
    missed = ["%s %s" % (gdb_frames[k][0], gdb_frames[k][2]) for k in own if k not in used]
    return len(own), len(own) - len(missed), extras, missed


def main():
    programs = [os.path.abspath(p) for p in sys.argv[1:]]
    total_own = total_found = total_extra = failures = jobs = 0
    problems = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
        for program, results in pool.map(run_program, programs):
            for index, gdb_frames, rows, detail in results:
                jobs += 1
                name = "%s %d" % (os.path.basename(program), index)
                if gdb_frames is None:
                    problems.append("%s: no report or no gdb frames\n%s" % (name, detail))
                    continue
                failures += 1
                own, found, extras, missed = compare(gdb_frames, rows)
                total_own += own
                total_found += found
                total_extra += len(extras)
                if extras or missed:
                    problems.append("%s: missed %s; extra %s\n  gdb: %s\n  report: %s" % (
                        name, missed, extras, " ".join(str(f[0]) for f in gdb_frames),
                        " ".join("%X" % r[0] for r in rows)))
    recall = 100.0 * total_found / total_own if total_own else 0.0
    print("failures: %d of %d; gdb frames of the programs' code: %d, in the report: %d (recall %.2f %%); "
          "report rows gdb does not have: %d" % (failures, jobs, total_own, total_found, recall, total_extra))
    for p in problems[:20]:
        print(p)
    ok = failures >= 200 and failures == jobs and total_found == total_own and total_extra == 0
    sys.exit(0 if ok else 1)


main()
