#!/usr/bin/env python3
"""The timing build's events (tools/steptimes.cpp) as the time of each
handler's steps, for scripts/bench.

steptimes.py [--engine MS] DLL RUN... : DLL is the timing build, each RUN the events file of
one repetition of the same lifecycle step. Prints, per handler, each step's
time split into what is named and required (log lines, property calls, the
registry script, the tools, the one-second pause) and the rest, median over
the repetitions; then where the rest goes, by function, and (with the
engine's own time for the step, MS) the rest's share of it.

A step is a call the handler's steps function makes (or the frame's own
calls: binding the session, the banners). A call's own time goes to the
nearest named call around it (itself included): a log line written inside a
property read counts as log. The cost of noting a call is taken out.
"""
import collections
import re
import statistics
import struct
import subprocess
import sys

HEADER = struct.Struct("<4sI3d2Q")
EVENT = struct.Struct("<QQ")
EXIT = 1 << 63

CATEGORIES = [
    ("log", {"LogMessage"}),
    ("property", {"GetProperty", "SetProperty", "GetTargetPath", "SetTargetPath", "HasPropertyUnlogged",
                  "SetPropertyUnlogged"}),
    ("script", {"regInsertSection", "RestoreAllSections"}),
    ("tools", {"TamberCreateProcess"}),
]
CATEGORY_OF = {name: cat for cat, names in CATEGORIES for name in names}
COLUMNS = ["log", "property", "script", "tools", "pause", "rest"]
PAUSE_MS = 1000.0  # CheckRequirements' Sleep(1000), which is not a call of the library's own
TOP = 15
FRAME = "(the frame: banners, session, container)"
STEPS_FUNCTION = re.compile(r"Steps$|lambda|HandOver")


def symbols(dll):
    base = None
    for line in subprocess.run(["x86_64-w64-mingw32-objdump", "-p", dll], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        if line.startswith("ImageBase"):
            base = int(line.split()[1], 16)
    names = {}
    for line in subprocess.run(["x86_64-w64-mingw32-nm", "-C", "--defined-only", dll], capture_output=True,
                               text=True, check=True).stdout.splitlines():
        parts = line.split(" ", 2)
        # A section's own symbol shares its first function's address.
        if len(parts) == 3 and parts[1] in "Tt" and not parts[2].startswith("."):
            names.setdefault(int(parts[0], 16) - base, parts[2])
    return names


def short(name):
    """The function's name without its parameters and return type."""
    depth, cut = 0, len(name)
    for i in range(len(name) - 1, -1, -1):
        c = name[i]
        if c == ")":
            depth += 1
        elif c == "(":
            depth -= 1
            if depth == 0:
                cut = i
                break
    name = name[:cut].replace("(anonymous namespace)::", "")
    name = re.sub(r"::\{lambda.*", "::lambda", name)
    parts = re.split(r"::(?![^<]*>)", name)
    # A call operator, constructor or destructor is named with its class.
    last = parts[-1]
    if len(parts) > 1 and (last.startswith("operator") or last.startswith("~") or last == parts[-2] or
                           last == "lambda"):
        return parts[-2] + "::" + last
    return last


def runs(path):
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at + HEADER.size <= len(data):
        magic, pid, qpc_ms, tsc_ticks, per_call, dropped, count = HEADER.unpack_from(data, at)
        if magic != b"TST1":
            raise SystemExit(f"steptimes: {path}: not an events file at byte {at}")
        at += HEADER.size
        events = [EVENT.unpack_from(data, at + i * EVENT.size) for i in range(count)]
        at += count * EVENT.size
        yield qpc_ms, tsc_ticks, per_call, dropped, events


def analyse(path, names):
    """{handler: {step: {column: ms, 'lines': n, 'calls': n}}}, {function: [ms, calls]} of the rest, dropped."""
    all_runs = list(runs(path))
    # Ticks per millisecond from the longer calls (a short one's counter is coarse).
    rates = [t / q for q, t, _, _, _ in all_runs if q > 20]
    rate = statistics.median(rates) if rates else 2.0e6
    steps = collections.OrderedDict()
    rest_by_function = collections.defaultdict(lambda: [0.0, 0])
    dropped = 0
    for _, _, per_call, lost, events in all_runs:
        dropped += lost
        stack = []  # [name, category, start, children's ticks, step, handler, calls below]
        for word, tsc in events:
            rva, leaving = word & ~EXIT, word & EXIT
            if not leaving:
                name = short(names.get(rva, hex(rva)))
                parent = stack[-1] if stack else None
                category = CATEGORY_OF.get(name, parent[1] if parent else "rest")
                handler = parent[5] if parent else name
                # Depth 0 is the export, 1 RunHandler, 2 what RunHandler calls.
                if len(stack) == 2 and STEPS_FUNCTION.search(name):
                    step = "(" + name + " itself)"
                elif len(stack) == 3 and parent[4].endswith(" itself)"):
                    step = name
                else:
                    step = parent[4] if parent else FRAME
                stack.append([name, category, tsc, 0.0, step, handler, 0])
                continue
            if not stack:
                continue
            name, category, start, children, step, handler, below = stack.pop()
            total = tsc - start
            own = total - children - per_call * (below + 1)  # less the noting of this call and those below
            if stack:
                stack[-1][3] += total
                stack[-1][6] += below + 1
            if handler == "DllMain" or handler.startswith(("_GLOBAL__", "__tcf")):  # loading and unloading
                continue
            row = steps.setdefault(handler, collections.OrderedDict()).setdefault(
                step, dict({c: 0.0 for c in COLUMNS}, lines=0, calls=0))
            ms = own / rate
            if name == "CheckRequirements" and ms >= PAUSE_MS:
                row["pause"] += PAUSE_MS
                ms -= PAUSE_MS
            row[category] += ms
            if name == "LogMessage":
                row["lines"] += 1
            if CATEGORY_OF.get(name) == "property" and category == "property":
                row["calls"] += 1
            if category == "rest":
                key = (stack[-1][0] + " > " if stack else "") + name
                rest_by_function[key][0] += ms
                rest_by_function[key][1] += 1
    return steps, rest_by_function, dropped


def main():
    args = sys.argv[1:]
    engine = None
    if args[:1] == ["--engine"]:
        engine, args = float(args[1]), args[2:]
    dll, files = args[0], args[1:]
    names = symbols(dll)
    results = [analyse(f, names) for f in files]
    if any(r[2] for r in results):
        print("    (the timing build lost events: its buffer was full; the figures are short)")
    handlers = collections.OrderedDict()
    for steps, _, _ in results:
        for h, rows in steps.items():
            for s in rows:
                handlers.setdefault(h, collections.OrderedDict())[s] = True

    def med(h, s, col):
        return statistics.median([r[0].get(h, {}).get(s, {}).get(col, 0) for r in results])

    totals = collections.defaultdict(list)
    print("    %-44s %7s %6s %6s %6s %6s %6s %6s  %s" % ("handler / step", "all", "log", "prop", "script", "tools",
                                                          "pause", "rest", "lines, property calls"))
    for h, step_names in handlers.items():
        per_rep = [sum(sum(row[c] for c in COLUMNS) for row in r[0].get(h, {}).values()) for r in results]
        rest_rep = [sum(row["rest"] for row in r[0].get(h, {}).values()) for r in results]
        print("    %-44s %7.1f %41s %6.1f" % (h, statistics.median(per_rep), "", statistics.median(rest_rep)))
        for s in step_names:
            cols = [med(h, s, c) for c in COLUMNS]
            if sum(cols) < 0.5:
                continue
            print("      %-42s %7.1f %6.1f %6.1f %6.1f %6.1f %6.1f %6.1f  %d, %d" % (
                s[:42], sum(cols), *cols, med(h, s, "lines"), med(h, s, "calls")))
    for r in results:
        sums = collections.defaultdict(float)
        for rows in r[0].values():
            for row in rows.values():
                for c in COLUMNS:
                    sums[c] += row[c]
        for c in COLUMNS:
            totals[c].append(sums[c])
    print("    %-44s %7.1f %6.1f %6.1f %6.1f %6.1f %6.1f %6.1f" % (
        "all handlers", statistics.median([sum(totals[c][i] for c in COLUMNS) for i in range(len(results))]),
        *[statistics.median(totals[c]) for c in COLUMNS]))
    print("    the rest by function, with its caller (own time, ms, median; calls):")
    functions = collections.defaultdict(list)
    for _, by_function, _ in results:
        for f, (ms, n) in by_function.items():
            functions[f].append((ms, n))
    ranked = sorted(functions.items(), key=lambda kv: -statistics.median([ms for ms, _ in kv[1]] +
                                                                          [0] * (len(results) - len(kv[1]))))
    for f, values in ranked[:TOP]:
        ms = statistics.median([v for v, _ in values] + [0] * (len(results) - len(values)))
        print("      %-70s %7.1f  %d" % (f[:70], ms, statistics.median([n for _, n in values])))
    if engine:
        rest = statistics.median(totals["rest"])
        print("    the rest (less log lines, property calls, the registry script, the tools and the pause): %.0f ms"
              " = %.0f %% of the engine's own time (%.0f ms); goal <= 25 %%: %s" % (
                  rest, rest * 100 / engine, engine, "met" if rest <= engine / 4 else "MISSED"))


if __name__ == "__main__":
    main()
