#!/usr/bin/env python3
"""Runs varnok-cli on every hostile archive craft.py makes and checks what each command did.

Why it is built this way:
- Each archive gets a sandbox of its own, work/<case>/: the archive, dest/ (where it is extracted) and a
  canary folder outside/ beside it. The commands run with the sandbox as their working folder, so a name
  followed blindly lands in the sandbox, where the before-and-after snapshot (taken without following links)
  sees it; the few places a traversal could reach beyond the sandbox are checked by name.
- Every command runs with a time bound, a memory bound (RLIMIT_AS, or ASan's own RSS limit in a sanitizer
  build, which reserves terabytes of address space), no core files and stdin from /dev/null, so that the tool
  can never ask a question. Cases run in a few worker processes (not threads: each worker forks its commands
  with a preexec hook).
- The checks are the same for every family and come in three layers: every command (ended in time, no
  signal or sanitizer report, exit 0 or 1 agreeing with the error lines, no raw control bytes, error lines in
  the program's form, no talk of passwords), every sandbox (nothing changed outside dest/, no link out of
  dest/ written through, the written bytes bounded), and what the case declares for each member (extracted
  with its content, written inside with a warning, refused with an error naming it).
- A fault found and not mended yet is listed in KNOWN with its reason: its case still runs, its failure is
  reported as expected, and it fails the suite again once it passes (so the entry gets removed).
"""

import argparse
import hashlib
import json
import multiprocessing
import os
import re
import resource
import shlex
import stat
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # nothing is written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import craft  # noqa: E402

# The names `identify` prints for each family's types.
IDENTIFY = {
    "ZIP": {"ZIP", "ZIP SFX", "Zip MVol", "Java JAR", "JJAR SFX"},
    "CAB": {"CAB"},
    "BH": {"BH", "BH  SFX"},
    "MsGZ": {"MsGZ"},
    "HA": {"HA"},
    "GZip": {"GZip"},
    "ARJ": {"ARJ", "ARJ SFX"},
    "ZOO": {"ZOO"},
    "LZH/LHA": {"LHA", "LHA SFX", "LZH", "LZH SFX"},
    "RAR": {"RAR", "RAR SFX"},
    "ARC/PAK": {"ARC", "ARC SFX", "PAK", "PAK SFX"},
    "ACE": {"ACE", "ACE SFX"},
    "UUE": {"UUE"},
    "TAR": {"TAR"},
}

# Faults found by this suite and not mended yet: case id -> why it fails. Empty when all are mended.
KNOWN = {}

COMMANDS = {
    "list": ["list", "{a}"],
    "json": ["list", "{a}", "--json"],
    "test": ["test", "{a}"],
    "extract": ["extract", "{a}", "-d", "dest"],
    "overwrite": ["extract", "{a}", "-d", "dest", "--overwrite"],
}

ERROR_LINE = re.compile(r"^varnok-cli: .+: .+$")
SANITIZER = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "SUMMARY: UndefinedBehaviorSanitizer",
             "AddressSanitizer:DEADLYSIGNAL", "terminate called")
CANARY = b"canary: must never change\n"


class Options:
    cli = ""
    timeout = 10.0
    mem = 1 << 30
    asan = False
    work = ""
    extracts = set()  # families whose extraction is built


OPT = Options()


# ---------------------------------------------------------------------------------------------- running


def limit_child():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    if not OPT.asan:
        resource.setrlimit(resource.RLIMIT_AS, (OPT.mem, OPT.mem))


def child_env():
    env = dict(os.environ)
    env["TZ"] = "UTC"
    if OPT.asan:
        keep = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = ":".join(x for x in (keep, "hard_rss_limit_mb=%d" % (OPT.mem >> 20),
                                                   "allocator_may_return_null=1", "abort_on_error=0") if x)
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        keep = env.get("TSAN_OPTIONS", "")
        env["TSAN_OPTIONS"] = ":".join(x for x in (keep, "hard_rss_limit_mb=%d" % (OPT.mem >> 20)) if x)
    return env


def repro(box, argv):
    env = ""
    if OPT.asan:
        env = "ASAN_OPTIONS=%s " % shlex.quote(child_env()["ASAN_OPTIONS"])
    return "cd %s && %s%s" % (shlex.quote(box), env, " ".join(shlex.quote(x) for x in argv))


def run(box, argv):
    t0 = time.monotonic()
    try:
        p = subprocess.run(argv, cwd=box, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=OPT.timeout, preexec_fn=limit_child, env=child_env())
        return p.returncode, p.stdout, p.stderr, time.monotonic() - t0, False
    except subprocess.TimeoutExpired as e:
        return None, e.stdout or b"", e.stderr or b"", time.monotonic() - t0, True


# ---------------------------------------------------------------------------------------------- sandbox


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            h.update(block)
    return h.hexdigest()


def walk_tree(root, skip=None):
    """(path, lstat) of everything below root, links not followed; without recursion, since an archive can
    make folders thousands deep."""
    stack = [root]
    while stack:
        d = stack.pop()
        for name in sorted(os.listdir(d), reverse=True):
            p = os.path.join(d, name)
            st = os.lstat(p)
            yield p, st
            if stat.S_ISDIR(st.st_mode) and p != skip:
                stack.append(p)


def remove_tree(root):
    for p, st in sorted(walk_tree(root), key=lambda x: -len(x[0])):
        if stat.S_ISDIR(st.st_mode):
            os.rmdir(p)
        else:
            os.unlink(p)
    os.rmdir(root)


def snapshot(root, skip):
    """Every path below root (skip excepted) with its type, size, times, links and content, links not
    followed."""
    out = {}
    for p, st in walk_tree(root, skip):
        if p == skip:
            out[p] = ("dest", stat.S_IFMT(st.st_mode))
            continue
        rec = (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), st.st_size, st.st_mtime_ns, st.st_nlink,
               st.st_ino)
        if stat.S_ISLNK(st.st_mode):
            rec += (os.readlink(p),)
        elif stat.S_ISREG(st.st_mode) and st.st_size <= 16 << 20:
            rec += (digest(p),)
        out[p] = rec
    return out


def walk_dest(dest):
    """Files, links, allocated bytes and what must never be there (set-id bits, devices, FIFOs, sockets) of
    the destination, links not followed."""
    files, links, allocated, bad = {}, {}, 0, []
    for p, st in walk_tree(dest):
        rel = os.path.relpath(p, dest)
        if stat.S_ISLNK(st.st_mode):
            links[rel] = os.readlink(p)
            continue
        if stat.S_ISREG(st.st_mode):
            files[rel] = st
            allocated += st.st_blocks * 512
        elif not stat.S_ISDIR(st.st_mode):
            bad.append("%s is a %s" % (rel, "device" if stat.S_ISCHR(st.st_mode) or stat.S_ISBLK(st.st_mode)
                                       else "FIFO" if stat.S_ISFIFO(st.st_mode) else "socket or special file"))
        if st.st_mode & (stat.S_ISUID | stat.S_ISGID):
            bad.append("%s has mode %o (set-id bits)" % (rel, stat.S_IMODE(st.st_mode)))
    return files, links, allocated, bad


def read_small(path, limit=1 << 20):
    with open(path, "rb") as f:
        return f.read(limit + 1)


def make_sandbox(case):
    box = os.path.join(OPT.work, case.id)
    if os.path.lexists(box):
        remove_tree(box)
    os.makedirs(os.path.join(box, "dest"))
    os.makedirs(os.path.join(box, "outside", "sub"))
    with open(os.path.join(box, "outside", "canary.txt"), "wb") as f:
        f.write(CANARY)
    with open(os.path.join(box, case.fname), "wb") as f:
        f.write(case.data)
    for fifo in case.fifos:
        os.mkfifo(os.path.join(box, fifo))
    return box


# ------------------------------------------------------------------------------------------------ checks


def raw_controls(blob):
    """What the program printed raw that a terminal would act on: C0 and C1 controls (tab and newline
    aside), DEL, bidirectional overrides, bytes that are not UTF-8."""
    bad = []
    for i, b in enumerate(blob):
        if (b < 0x20 and b not in (0x09, 0x0A)) or b == 0x7F:
            bad.append("byte 0x%02X at %d" % (b, i))
    try:
        text = blob.decode("utf-8")
    except UnicodeDecodeError as e:
        bad.append("invalid UTF-8 at %d" % e.start)
        text = blob.decode("utf-8", "replace")
    for i, ch in enumerate(text):
        cp = ord(ch)
        if 0x80 <= cp <= 0x9F or 0x202A <= cp <= 0x202E or 0x2066 <= cp <= 0x2069 or cp in (0x200E, 0x200F, 0x061C):
            bad.append("U+%04X at character %d" % (cp, i))
    return bad[:5]


def lines(blob):
    return [x for x in blob.decode("utf-8", "replace").split("\n") if x]


class Checker:
    def __init__(self, case, box):
        self.case = case
        self.box = box
        self.dest = os.path.join(box, "dest")
        self.failures = []
        self.rows = []

    def fail(self, cmd, argv, text):
        self.failures.append((cmd, text, repro(self.box, argv) if argv else ""))

    # -- every command

    def command(self, cmd, argv, rc, out, err, secs, timed_out):
        c = self.case
        if timed_out:
            self.fail(cmd, argv, "did not end within %.0f s" % OPT.timeout)
            return False
        err_text = err.decode("utf-8", "replace")
        if rc < 0:
            self.fail(cmd, argv, "killed by signal %d%s" % (-rc, first_lines(err_text)))
            return False
        for marker in SANITIZER:
            if marker in err_text:
                self.fail(cmd, argv, "sanitizer or runtime report: %s" % first_lines(err_text, marker))
                return False
        allowed = c.exits.get(cmd, {0, 1})
        if self.family_extracts() and c.list_only:
            allowed = {0, 1}
        if rc == 2:
            self.fail(cmd, argv, "exit 2, a usage error: the suite's command line is wrong")
        elif rc not in allowed:
            self.fail(cmd, argv, "exit %d, expected %s%s" % (rc, "/".join(map(str, sorted(allowed))),
                                                             first_lines(err_text)))
        for where, blob in (("stdout", out), ("stderr", err)):
            bad = raw_controls(blob) if cmd != "json" or where == "stderr" else json_controls(blob)
            if bad:
                self.fail(cmd, argv, "raw control or undecodable bytes on %s: %s" % (where, ", ".join(bad)))
        errs = []
        for ln in lines(err):
            if not ERROR_LINE.match(ln):
                self.fail(cmd, argv, "stderr line not in the form 'varnok-cli: FILE: TEXT': %r" % ln[:200])
            elif not ln.endswith(": exists, not replaced"):
                errs.append(ln)
        if rc == 0 and errs:
            self.fail(cmd, argv, "exit 0 but error lines were printed: %r" % errs[0][:200])
        if rc == 1 and not errs:
            self.fail(cmd, argv, "exit 1 without an error line on stderr")
        secret = [craft.esc(m.shown or m.name.decode("latin-1")) for m in c.members if m.encrypted]
        for ln in lines(out) + lines(err):
            if "password" in ln.lower() and not any(n in ln for n in secret):
                self.fail(cmd, argv, "talks of a password for no encrypted entry: %r" % ln[:200])
        if cmd == "test" and rc in (0, 1):
            # One verdict per archive: "VALID: Archive NAME tested, no errors were found." or "INVALID: Archive
            # NAME tested, N errors were found." (or "... is not an valid archive").
            head = ("VALID: Archive " if rc == 0 else "INVALID: Archive ") + c.fname + " "
            verdict = [ln for ln in lines(out) if ln.startswith(("VALID: Archive ", "INVALID: Archive "))]
            if len(verdict) != 1 or not verdict[0].startswith(head):
                self.fail(cmd, argv, "the test verdict does not agree with exit %d: %r" % (rc, verdict))
            else:
                # The verdict's count: none with a FAILED line, and at least the failures said.
                failed = sum(ln.startswith("FAILED  ") for ln in lines(out))
                n = re.search(r"tested, (\d+) errors were found", verdict[0])
                if rc == 0 and (failed or not verdict[0].endswith("tested, no errors were found.")):
                    self.fail(cmd, argv, "verdict %r after %d FAILED lines" % (verdict[0], failed))
                if rc == 1 and n and int(n.group(1)) < max(failed, 1):
                    self.fail(cmd, argv, "verdict %r counts fewer errors than the %d FAILED lines" %
                              (verdict[0], failed))
        must = c.errors.get("extract" if cmd == "overwrite" else cmd)
        if must is True and rc != 1:
            self.fail(cmd, argv, "an error was expected, exit %d" % rc)
        if must is False and rc != 0:
            self.fail(cmd, argv, "no error was expected, exit %d%s" % (rc, first_lines(err_text)))
        for kind, text in c.stderr_has:
            if kind in (cmd, "extract" if cmd == "overwrite" else cmd) and text not in err_text:
                self.fail(cmd, argv, "stderr does not say %r" % text)
        return True

    def family_extracts(self):
        return self.case.family in OPT.extracts

    # -- every sandbox

    def sandbox(self, cmd, argv, before, planted_before):
        after = snapshot(self.box, self.dest)
        changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
        for p in changed[:10]:
            what = "created" if p not in before else "removed" if p not in after else "changed"
            self.fail(cmd, argv, "%s outside dest/: %s" % (what, os.path.relpath(p, self.box)))
        for p in self.case.planted:
            if os.path.lexists(p) and p not in planted_before:
                self.fail(cmd, argv, "written outside the sandbox: %s" % p)
        st = os.lstat(self.dest)
        if not stat.S_ISDIR(st.st_mode):
            self.fail(cmd, argv, "dest/ is no longer a folder")
            return None
        files, links, allocated, bad = walk_dest(self.dest)
        for b in bad[:5]:
            self.fail(cmd, argv, "dest/%s" % b)
        if allocated > self.case.max_output:
            self.fail(cmd, argv, "dest/ takes %d bytes of disk, more than %d" % (allocated, self.case.max_output))
        real_dest = os.path.realpath(self.dest)
        for rel, target in links.items():
            resolved = os.path.realpath(os.path.join(self.dest, rel))
            if (resolved + "/").startswith(real_dest + "/"):
                continue
            if not (resolved + "/").startswith(os.path.realpath(self.box) + "/") and os.path.lexists(resolved) \
                    and resolved not in planted_before:
                self.fail(cmd, argv, "link dest/%s leads to %s, which now exists" % (rel, resolved))
        if cmd in ("list", "json", "test") and (files or links):
            self.fail(cmd, argv, "%s wrote into dest/: %s" % (cmd, sorted(files)[:3] + sorted(links)[:3]))
        if cmd in ("extract", "overwrite") and (self.case.dest_empty and not self.family_extracts()) and \
                (files or links):
            self.fail(cmd, argv, "nothing may be extracted, found %s" % (sorted(files)[:3] + sorted(links)[:3]))
        return files

    # -- what the case declares for its members

    def members(self, cmd, argv, out, err, files):
        text_out = out.decode("utf-8", "replace")
        text_err = err.decode("utf-8", "replace")
        for m in self.case.members:
            shown = craft.esc(m.shown) if m.shown is not None else None
            if cmd == "list" and shown is not None and m.how != "any" and not in_listing(shown, text_out):
                self.fail(cmd, argv, "the listing does not show %s" % shown)
            if cmd == "json" and m.shown is not None and m.how != "any":
                try:
                    names = [e["name"] for e in json.loads(text_out)["entries"]]
                except (ValueError, KeyError, TypeError) as e:
                    self.fail(cmd, argv, "not one JSON document: %s" % e)
                    return
                if m.shown not in names:
                    self.fail(cmd, argv, "the JSON listing does not name %r" % m.shown)
            if self.case.list_only and not self.family_extracts():
                continue
            if cmd == "test" and shown is not None:
                if m.test == "pass" and ("OK      " + shown) not in text_out.split("\n"):
                    self.fail(cmd, argv, "test does not pass %s" % shown)
                if m.test == "fail":
                    if not any(ln.startswith("FAILED  " + shown + ": ") for ln in text_out.split("\n")):
                        self.fail(cmd, argv, "test does not fail %s" % shown)
                    if not names_entry(text_err, shown):
                        self.fail(cmd, argv, "no error line names %s" % shown)
            if cmd not in ("extract", "overwrite") or files is None:
                continue
            self.extracted(cmd, argv, m, shown, text_err, files)

    def extracted(self, cmd, argv, m, shown, text_err, files):
        if m.how == "ok":
            p = os.path.join(self.dest, m.at)
            if not os.path.isfile(p) or os.path.islink(p):
                self.fail(cmd, argv, "%s was not extracted to dest/%s" % (shown or repr(m.name), m.at))
            elif read_small(p) != m.data:
                self.fail(cmd, argv, "dest/%s does not hold the entry's data" % m.at)
        elif m.how == "warn":
            hits = [r for r in files if ("/" + r).endswith("/" + m.at)]
            if not hits:
                self.fail(cmd, argv, "%s was not written inside dest/ (as .../%s)" % (shown, m.at))
            elif not any(read_small(os.path.join(self.dest, r)) == m.data for r in hits):
                self.fail(cmd, argv, "dest/%s does not hold the entry's data" % hits[0])
            if not any(names_entry(ln, shown) and "stripped" in ln for ln in text_err.split("\n")):
                self.fail(cmd, argv, "no warning names %s as stripped" % shown)
        elif m.how == "refuse":
            if shown is not None and not names_entry(text_err, shown):
                self.fail(cmd, argv, "no error line names %s" % shown)
            if m.token:
                for p, _ in walk_tree(self.box):
                    n = os.path.basename(p)
                    if m.token in n and n != self.case.fname:
                        self.fail(cmd, argv, "refused entry %s turned up as %s" %
                                  (shown or m.token, os.path.relpath(p, self.box)))
        elif m.how == "found":
            if not any(st.st_size == len(m.data) and read_small(os.path.join(self.dest, r)) == m.data
                       for r, st in files.items()):
                self.fail(cmd, argv, "the data of %s was not extracted" % (shown or repr(m.name)))


def in_listing(shown, text):
    return any(ln.startswith(shown + " ") or ln == shown for ln in text.split("\n"))


def names_entry(text, shown):
    """An error line names the entry: its name, or an output path ending in it."""
    for ln in text.split("\n"):
        if not ln.startswith("varnok-cli: "):
            continue
        if ("varnok-cli: " + shown + ": ") in ln or ("/" + shown + ": ") in ln:
            return True
    return False


def json_controls(blob):
    return ["byte 0x%02X at %d" % (b, i) for i, b in enumerate(blob) if b < 0x20 and b != 0x0A][:5]


def first_lines(text, marker=None):
    ls = [x for x in text.split("\n") if x.strip()]
    if marker:
        ls = [x for x in ls if marker in x] + ls
    return (": " + " | ".join(ls[:3])[:400]) if ls else ""


# -------------------------------------------------------------------------------------------------- case


CASES = []


def run_case(index):
    try:
        return check_case(CASES[index])
    except Exception:  # a fault of the suite itself: said, not hidden
        import traceback
        case = CASES[index]
        return {"id": case.id, "family": case.family, "rows": [], "note": case.note,
                "failures": [("suite", "the runner failed: " + traceback.format_exc(), "")]}


def check_case(case):
    box = make_sandbox(case)
    chk = Checker(case, box)
    planted_before = {p for p in case.planted if os.path.lexists(p)}
    want = case.ident if case.ident is not None else IDENTIFY[case.family]
    if "*" not in want:
        # The archive must reach the family it was made for, or the case tests another reader.
        argv = [OPT.cli, "identify", case.fname]
        rc, out, err, secs, to = run(box, argv)
        if chk.command("identify", argv, rc, out, err, secs, to):
            fields = out.decode("utf-8", "replace").rstrip("\n").split("\t")
            got = fields[1] if len(fields) > 1 else ""
            if got not in want:
                chk.fail("identify", argv, "identified as %r, not as %s" % (got, " or ".join(sorted(want))))
    for cmd in case.cmds:
        argv = [OPT.cli] + [x.format(a=case.fname) for x in COMMANDS[cmd]]
        before = snapshot(box, chk.dest)
        rc, out, err, secs, to = run(box, argv)
        chk.rows.append((cmd, "T/O" if to else str(rc), secs))
        if not chk.command(cmd, argv, rc, out, err, secs, to):
            chk.sandbox(cmd, argv, before, planted_before)
            continue
        files = chk.sandbox(cmd, argv, before, planted_before)
        chk.members(cmd, argv, out, err, files)
    return {"id": case.id, "family": case.family, "rows": chk.rows, "failures": chk.failures, "note": case.note}


def families_known():
    p = subprocess.run([OPT.cli, "formats"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=OPT.timeout)
    rows = {}
    for ln in p.stdout.decode().split("\n")[1:]:
        cols = ln.split()
        if len(cols) >= 3:
            rows[cols[0]] = cols[2] == "yes"
    return rows


def looks_like_asan(path):
    with open(path, "rb") as f:
        tail = b""
        for block in iter(lambda: f.read(1 << 20), b""):
            if b"__asan_init" in tail + block or b"__tsan_init" in tail + block:
                return True
            tail = block[-16:]
    return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cli", required=True, help="the varnok-cli binary")
    ap.add_argument("--work", required=True, help="folder for the sandboxes (emptied first)")
    ap.add_argument("--asan", action="store_true", help="the binary is a sanitizer build (detected otherwise)")
    ap.add_argument("--timeout", type=float, default=None,
                    help="seconds each command may take (10, or 20 in a sanitizer build)")
    ap.add_argument("--mem-mb", type=int, default=1024, help="memory bound of each command")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", default="", help="run the cases whose id contains this text")
    a = ap.parse_args()
    OPT.cli = os.path.abspath(a.cli)
    OPT.work = os.path.abspath(a.work)
    if not os.access(OPT.cli, os.X_OK):
        print("run_hostile.py: %s is not there: build varnok-cli first" % OPT.cli)
        return 2
    OPT.mem = a.mem_mb << 20
    OPT.asan = a.asan or looks_like_asan(OPT.cli)
    OPT.timeout = a.timeout if a.timeout is not None else 20.0 if OPT.asan else 10.0
    known = families_known()
    OPT.extracts = {f for f, x in known.items() if x}
    every = craft.all_cases(OPT.work)
    CASES.extend(c for c in every if a.only in c.id)
    problems = []
    covered = {c.family for c in every}
    for fam in sorted(set(known) - covered):
        problems.append("family %s has no hostile cases" % fam)
    for fam in sorted(covered - set(known)):
        problems.append("family %s is not known to varnok-cli formats" % fam)
    # The work folder is emptied first: only one this runner made (it carries the mark), or an empty one.
    mark = os.path.join(OPT.work, ".hostile-work")
    if os.path.isdir(OPT.work) and os.listdir(OPT.work):
        if not os.path.exists(mark):
            print("run_hostile.py: %s is not empty and not a work folder of this suite; not touching it" % OPT.work)
            return 2
        remove_tree(OPT.work)
    os.makedirs(OPT.work, exist_ok=True)
    open(mark, "w").close()
    t0 = time.monotonic()
    ctx = multiprocessing.get_context("fork")
    with ctx.Pool(max(1, a.jobs)) as pool:
        results = pool.map(run_case, range(len(CASES)), chunksize=1)
    total = time.monotonic() - t0
    failed = xfailed = 0
    print("%-30s %-58s %s" % ("case", "command=exit/seconds", "result"))
    for r in results:
        cells = " ".join("%s=%s/%.2f" % (c, e, s) for c, e, s in r["rows"])
        known_reason = KNOWN.get(r["id"])
        if r["failures"] and known_reason:
            result = "XFAIL"
            xfailed += 1
        elif r["failures"]:
            result = "FAIL"
            failed += 1
        elif known_reason:
            result = "XPASS"
            failed += 1
        else:
            result = "ok"
        print("%-30s %-58s %s" % (r["id"], cells, result))
    for r in results:
        if r["failures"] and not KNOWN.get(r["id"]):
            print("\nFAIL %s (%s)%s" % (r["id"], r["family"], " - " + r["note"] if r["note"] else ""))
            for cmd, text, how in r["failures"][:40]:
                print("  [%s] %s" % (cmd, text))
                if how:
                    print("      %s" % how)
        elif KNOWN.get(r["id"]):
            print("\n%s %s: known fault: %s" % ("XFAIL" if r["failures"] else "XPASS (remove it from KNOWN)",
                                               r["id"], KNOWN[r["id"]]))
            for cmd, text, how in r["failures"][:4]:
                print("  [%s] %s\n      %s" % (cmd, text, how))
    for p in problems:
        print("\n" + p)
    print("\n%d cases, %d failed, %d known faults, %.1f s (%s build)" %
          (len(results), failed, xfailed, total, "sanitizer" if OPT.asan else "plain"))
    return 1 if failed or problems else 0


if __name__ == "__main__":
    sys.exit(main())
