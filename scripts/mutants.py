#!/usr/bin/python3
"""Planted-fault (mutation) check of the test suite.

Each entry of scripts/mutants.txt plants one realistic fault in the source: a snippet of code
text and its replacement. For each fault this script edits a private copy of the tree
(build/mutants/tree, its own build folder configured once with the release preset and reused,
so a fault costs an incremental build), builds it, runs the suite with ctest and reports
whether a test failed ("caught") or the suite still passed ("SURVIVED"). The file is restored
before the next fault. The real tree and its build folders are only read.

Faults are anchored by code text, not line numbers: the snippet is looked up in the hinted file
and, when that file is gone or lacks it, in every file under src/, so an entry outlives moves.
Whitespace runs in a snippet match any whitespace, so it also outlives reformatting. A snippet
that is not found exactly once is "stale"; a fault that does not compile is "does not build";
neither counts as caught.

The suite runs without the slow tests (GIMP, pytest) first, then with them, and stops at the
first failing test; a test that ran past its limit fails too. The failed test is then run once
more on its own: a failure that does not repeat is no catch (the suite is run again, once).
Before the faults, the suite is run once without any, so that a suite that fails anyway cannot
count every fault as caught.

    scripts/mutants.py                     every fault
    scripts/mutants.py --only fill,png     the faults of some areas
    scripts/mutants.py --name NAME         one fault (repeatable; with --only, both must hold)
    scripts/mutants.py --list              the entries, without running anything
    scripts/mutants.py --check             where each snippet is now, without building

Exit status: 0 when every selected fault was caught, 1 otherwise, 2 for a broken list or when
the suite fails without any fault planted.
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

AREAS = (
    "fill sector-search smoothing simple-fills 16bit run-driver preferences settings color "
    "scratch host-masking filter-area descriptors png tiff jpeg masks program python"
).split()

ROOT = Path(__file__).resolve().parent.parent
LIST = ROOT / "scripts" / "mutants.txt"
WORK = ROOT / "build" / "mutants"
TREE = WORK / "tree"
BUILD = TREE / "build" / "release"
LOGS = WORK / "logs"

# The slow tests (the plug-in in GIMP, pytest) run only once every other test has passed.
SLOW_TESTS = r"^(gimp_|python_)"
SOURCE_SUFFIXES = {".c", ".cc", ".cpp", ".h", ".hpp", ".inc", ".py", ".pyi"}


@dataclass
class Fault:
    name: str
    area: str
    file: str
    original: str
    replacement: str
    models: str
    line: int  # where the entry starts in the list, for messages


# --- the list ----------------------------------------------------------------------------------


def _trim_block(lines):
    while lines and not lines[0].strip():
        lines.pop(0)
    while lines and not lines[-1].strip():
        lines.pop()
    return "\n".join(lines)


def parse_list(path):
    """Reads the list. An entry:

        == name
        area: fill
        file: src/filter/fill/membrane_steps.cpp
        models: what kind of mistake the fault stands for
        --- original
        code text, one or more lines
        +++ replacement
        code text, one or more lines

    A code block ends at its first empty line (whitespace in a snippet matches any whitespace,
    so a snippet never needs one). Lines starting with '#' outside the code blocks are
    comments."""
    faults, errors = [], []
    entry, block, start = None, None, 0

    def finish():
        if entry is None:
            return
        fields = entry
        for key in ("area", "file", "models"):
            if not fields.get(key):
                errors.append(f"{path.name}:{start}: {fields['name']}: no '{key}:' line")
        if fields.get("area") and fields["area"] not in AREAS:
            errors.append(f"{path.name}:{start}: {fields['name']}: unknown area {fields['area']!r}")
        original = _trim_block(fields.get("original", []))
        replacement = _trim_block(fields.get("replacement", []))
        if not original:
            errors.append(f"{path.name}:{start}: {fields['name']}: empty original snippet")
        if _normalise(original) == _normalise(replacement):
            errors.append(f"{path.name}:{start}: {fields['name']}: replacement equals original")
        faults.append(
            Fault(fields["name"], fields.get("area", ""), fields.get("file", ""), original,
                  replacement, fields.get("models", ""), start))

    for number, raw in enumerate(path.read_text().splitlines(), 1):
        if raw.startswith("== "):
            finish()
            entry, block, start = {"name": raw[3:].strip()}, None, number
            continue
        if raw.rstrip() == "--- original" and entry is not None:
            block = entry.setdefault("original", [])
            continue
        if raw.rstrip() == "+++ replacement" and entry is not None:
            block = entry.setdefault("replacement", [])
            continue
        if block is not None:
            if raw.strip():
                block.append(raw.rstrip())
                continue
            block = None  # a code block ends at its first empty line
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        match = re.match(r"(area|file|models):\s*(.*)$", raw)
        if entry is None or not match:
            errors.append(f"{path.name}:{number}: cannot read {raw!r}")
            continue
        entry[match.group(1)] = match.group(2).strip()
    finish()

    seen = set()
    for fault in faults:
        if fault.name in seen:
            errors.append(f"{path.name}:{fault.line}: name {fault.name!r} is used twice")
        seen.add(fault.name)
        if not re.fullmatch(r"[A-Za-z0-9_.-]+", fault.name):
            errors.append(f"{path.name}:{fault.line}: name {fault.name!r}: "
                          "use letters, digits, - _ .")
    return faults, errors


def _normalise(text):
    return " ".join(text.split())


def snippet_pattern(snippet):
    """The snippet as a regular expression in which each whitespace run matches any run."""
    return re.compile(r"\s+".join(re.escape(word) for word in snippet.split()))


# --- the private copy --------------------------------------------------------------------------


def tracked_files():
    """The working tree's files under version control, plus new files not ignored."""
    out = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=ROOT, check=True, capture_output=True).stdout
    return sorted({name for name in out.decode().split("\0") if name and (ROOT / name).is_file()})


def sync_tree():
    """Makes TREE hold exactly the working tree's files. Unchanged files keep their times, so the
    copy's build stays incremental; changed ones get new times, so they are rebuilt."""
    files = tracked_files()
    wanted = set(files)
    copied = 0
    for name in files:
        source, target = ROOT / name, TREE / name
        if target.is_file() and not target.is_symlink():
            if target.stat().st_size == source.stat().st_size and \
                    target.read_bytes() == source.read_bytes():
                continue
        target.parent.mkdir(parents=True, exist_ok=True)
        if target.is_symlink() or target.exists():
            target.unlink()
        shutil.copyfile(source, target)
        shutil.copymode(source, target)
        copied += 1
    removed = 0
    for directory, subdirs, names in os.walk(TREE, topdown=True):
        relative = Path(directory).relative_to(TREE)
        if relative == Path("."):
            subdirs[:] = [d for d in subdirs if d != "build"]
        for name in names:
            path = relative / name
            if path.as_posix() not in wanted:
                (TREE / path).unlink()
                removed += 1
    for directory, subdirs, names in os.walk(TREE, topdown=False):
        if Path(directory) != TREE and not subdirs and not names and \
                Path(directory).relative_to(TREE).parts[0] != "build":
            os.rmdir(directory)
    return copied, removed


def nice(command):
    return ["nice", "-n", "10"] + command


def configure():
    if (BUILD / "build.ninja").is_file():
        return True
    log = LOGS / "configure.log"
    with open(log, "w") as out:
        # The benchmarks are no part of the suite; leaving them out saves building them.
        command = ["cmake", "--preset", "release", "-DAREAFILL_BUILD_BENCH=OFF"]
        result = subprocess.run(nice(command), cwd=TREE, stdout=out, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        print(f"mutants: configuring the copy failed, see {log}", file=sys.stderr)
    return result.returncode == 0


def build(log):
    with open(log, "w") as out:
        result = subprocess.run(nice(["cmake", "--build", str(BUILD), "-j2"]), cwd=TREE,
                                stdout=out, stderr=subprocess.STDOUT)
    return result.returncode == 0


# A finished test that did not pass, as ctest reports it: "***Failed", "***Timeout",
# "***Exception: ...", "***Not Run" (a skipped test, "***Skipped", is no failure).
FAILED_TEST = re.compile(r"Test\s+#\d+: (\S+) .*\*\*\*(?!Skipped)")


def _run_ctest(arguments, log, limit):
    """Runs ctest in its own process group and stops the whole group at the first test that
    fails (ctest's --stop-on-failure starts no new test but waits for those running, which a
    hanging test makes long), or when it outlives `limit` seconds. Returns (passed, note, test):
    the failed test's name as note and test, or what went wrong as note and None as test."""
    command = nice(["ctest", "--test-dir", str(BUILD), "-j2", "--stop-on-failure",
                    "--output-on-failure", "--no-tests=error"] + arguments)
    with open(log, "a") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        start = out.tell()
        process = subprocess.Popen(command, cwd=BUILD, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
    deadline = time.monotonic() + limit
    failed = None
    with open(log, errors="replace") as reader:
        reader.seek(start)
        pending = ""
        while True:
            code = process.poll()
            pending += reader.read()
            lines = pending.split("\n")
            pending = lines.pop()
            for line in lines:
                match = FAILED_TEST.search(line)
                if match and failed is None:
                    failed = match.group(1).rstrip(".")  # long names run into the dots
            if code is not None:
                break
            if failed is not None or time.monotonic() > deadline:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                if failed is None:
                    return False, f"suite ran past {limit} s", None
                return False, failed, failed
            time.sleep(0.2)
    if code == 0:
        return True, "", None
    if failed:
        return False, failed, failed
    text = Path(log).read_text(errors="replace")
    if "tests FAILED:" in text:
        found = re.findall(r"^\s*\d+ - (\S+)", text.split("tests FAILED:")[-1], re.M)
        if found:
            return False, found[0], found[0]
    return False, f"ctest exit {code}", None


def _exactly(test):
    """A ctest regular expression for the one test named `test` (parameterised tests carry a
    comment after their name)."""
    return "^" + "".join("\\" + c if c in "^$.\\[]-*+?|()" else c for c in test) + "( |$)"


def _run_phases(log, options):
    """The whole suite, the quick tests first, stopping at the first failure."""
    timeout = ["--timeout", str(options.test_timeout)]
    result = _run_ctest(timeout + ["-E", SLOW_TESTS], log, options.suite_limit)
    if not result[0]:
        return result
    return _run_ctest(timeout + ["-R", SLOW_TESTS], log, options.suite_limit)


def run_suite(log, options):
    """Runs the suite; returns (passed, note). A test that fails is run once more on its own: a
    failure that does not repeat (a test upset by the machine's load) is no catch, and the suite
    is run again, once; the note names such tests."""
    Path(log).write_text("")
    unconfirmed = []
    for _ in range(2):
        passed, note, test = _run_phases(log, options)
        if passed:
            break
        if test is None:
            return False, note
        again, _, _ = _run_ctest(["--timeout", str(options.test_timeout), "-R", _exactly(test)],
                                 log, options.suite_limit)
        if not again:
            return False, note
        unconfirmed.append(note)
    if unconfirmed:
        return True, "failed once, then passed on its own: " + ", ".join(unconfirmed)
    return True, ""


# --- planting a fault --------------------------------------------------------------------------


def locate(fault, base=TREE):
    """Finds where to plant the fault in the tree at `base`. Returns (path, match, None) or
    (None, None, reason)."""
    pattern = snippet_pattern(fault.original)
    hinted = base / fault.file
    if hinted.is_file():
        matches = list(pattern.finditer(hinted.read_text(errors="replace")))
        if len(matches) == 1:
            return hinted, matches[0], None
        if len(matches) > 1:
            return None, None, f"found {len(matches)} times in {fault.file}"
    found = []
    for path in sorted((base / "src").rglob("*")):
        if path.is_file() and path.suffix in SOURCE_SUFFIXES and path != hinted:
            matches = list(pattern.finditer(path.read_text(errors="replace")))
            if matches:
                found.append((path, matches))
    if not found:
        return None, None, "snippet not found under src/"
    if len(found) > 1:
        places = ", ".join(str(p.relative_to(base)) for p, _ in found[:3])
        more = f" and {len(found) - 3} more" if len(found) > 3 else ""
        return None, None, f"found in {len(found)} files: {places}{more}"
    path, matches = found[0]
    if len(matches) > 1:
        return None, None, f"found {len(matches)} times in {path.relative_to(base)}"
    return path, matches[0], None


def try_fault(fault, options):
    """Plants, builds, tests and restores one fault. Returns (verdict, note)."""
    path, match, reason = locate(fault)
    if path is None:
        return "stale", reason
    relative = path.relative_to(TREE).as_posix()
    moved = "" if relative == fault.file else f"(now in {relative}) "
    original = path.read_bytes()
    text = original.decode(errors="surrogateescape")
    planted = text[:match.start()] + fault.replacement + text[match.end():]
    log = LOGS / f"{fault.name}.log"
    try:
        path.write_bytes(planted.encode(errors="surrogateescape"))
        if not build(log):
            return "does not build", moved + f"see {log.relative_to(ROOT)}"
        passed, note = run_suite(log, options)
    finally:
        # Restored with a new time, so that the next build compiles the original again.
        path.write_bytes(original)
    if passed:
        return "SURVIVED", (moved + note).strip()
    return "caught", moved + note


# --- main --------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated areas: " + ", ".join(AREAS))
    parser.add_argument("--name", action="append", default=[],
                        help="one fault by name (repeatable; with --only, both must hold)")
    parser.add_argument("--list", action="store_true", help="print the entries, run nothing")
    parser.add_argument("--check", action="store_true",
                        help="find every snippet in the working tree, build and run nothing")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the run of the suite without a fault (it guards against a suite "
                        "that fails anyway and would count every fault as caught)")
    parser.add_argument("--test-timeout", type=int, default=120,
                        help="seconds for a test that sets no limit of its own (default 120)")
    parser.add_argument("--suite-limit", type=int, default=300,
                        help="seconds after which a run of the suite (each half) is stopped and "
                        "the fault counted as caught, for loops in tests with long limits "
                        "(default 300)")
    parser.add_argument("--file", type=Path, default=LIST, help="the list (default %(default)s)")
    options = parser.parse_args()

    faults, errors = parse_list(options.file)
    if errors:
        print("\n".join(errors), file=sys.stderr)
        return 2
    if options.only:
        areas = [a.strip() for a in options.only.split(",") if a.strip()]
        unknown = [a for a in areas if a not in AREAS]
        if unknown:
            print(f"mutants: unknown area(s) {', '.join(unknown)}; areas: {' '.join(AREAS)}",
                  file=sys.stderr)
            return 2
        faults = [f for f in faults if f.area in areas]
    if options.name:
        names = {f.name for f in faults}
        missing = [n for n in options.name if n not in names]
        if missing:
            print(f"mutants: no entry named {', '.join(missing)}", file=sys.stderr)
            return 2
        faults = [f for f in faults if f.name in options.name]

    width = max([len(f.name) for f in faults] + [10])
    if options.list:
        for fault in faults:
            print(f"{fault.name:<{width}}  {fault.area:<13} {fault.file}\n"
                  f"{'':<{width}}  {fault.models}")
        print(f"mutants: {len(faults)} entries")
        return 0

    if options.check:
        stale = 0
        for fault in faults:
            path, _, reason = locate(fault, ROOT)
            where = path.relative_to(ROOT).as_posix() if path else ""
            if path is None:
                stale += 1
                print(f"{fault.name:<{width}}  {fault.area:<13} stale  {reason}")
            elif where != fault.file:
                print(f"{fault.name:<{width}}  {fault.area:<13} moved  now in {where}")
        print(f"mutants: {len(faults) - stale} of {len(faults)} snippets found")
        return 0 if stale == 0 else 1

    WORK.mkdir(parents=True, exist_ok=True)
    LOGS.mkdir(parents=True, exist_ok=True)
    lock = open(WORK / "lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"mutants: another run holds {WORK / 'lock'}", file=sys.stderr)
        return 2

    started = time.monotonic()
    TREE.mkdir(parents=True, exist_ok=True)
    copied, removed = sync_tree()
    print(f"mutants: copy in {TREE.relative_to(ROOT)} ({copied} files copied, {removed} removed)",
          flush=True)
    if not configure() or not build(LOGS / "baseline-build.log"):
        print(f"mutants: the unchanged copy does not build, see {LOGS.relative_to(ROOT)}",
              file=sys.stderr)
        return 2
    if not options.no_baseline:
        began = time.monotonic()
        passed, note = run_suite(LOGS / "baseline.log", options)
        if not passed:
            print(f"mutants: the suite fails without a fault ({note}), see "
                  f"{(LOGS / 'baseline.log').relative_to(ROOT)}", file=sys.stderr)
            return 2
        print(f"mutants: the suite passes without a fault ({time.monotonic() - began:.0f} s)",
              flush=True)

    caught = 0
    for fault in faults:
        began = time.monotonic()
        verdict, note = try_fault(fault, options)
        caught += verdict == "caught"
        print(f"{fault.name:<{width}}  {fault.area:<13} {verdict:<14} "
              f"{time.monotonic() - began:5.0f} s  {note}".rstrip(), flush=True)
    print(f"mutants: total {time.monotonic() - started:.0f} s")
    print(f"mutants: {caught} caught of {len(faults)}")
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
