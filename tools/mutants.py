#!/usr/bin/env python3
"""Seeded one-line faults: draw a sample, and try each one against the test suites, to see how many
faults the tests catch and whether a change to the tests keeps that power.

  mutants.py draw TREE OUT.json [--seed 11] [--count 100]
  mutants.py run  TREE BUILD SAMPLE.json RESULTS.json [--only caught-in.json] [--tests CTEST_REGEX]
                  [--files PATH_PREFIX] [--target BUILD_TARGET]

A fault is half the time a condition flipped or negated, half the time a statement deleted. It is
recorded with its line's text and neighbours, so that it can be found again after files move. A run
builds and tries each fault in turn in TREE (a worktree of its own: its files are changed and put
back) with the build folder BUILD: the quick suites first, the desktop and install suites for what
they miss. It can stop and go on: RESULTS.json keeps what was tried.
"""
import json, os, random, re, subprocess, sys, time

DIRS = ["app", "xml", "prefs", "tray", "net", "platform"]
QUICK_EXCLUDE = "^(tst_crashsafety|e2e_.*|install_.*|format|tidy)$"

def product_files(tree, dirs):
    out = []
    for d in dirs:
        for root, _, files in os.walk(os.path.join(tree, d)):
            for f in sorted(files):
                if f.endswith(".cpp"):
                    out.append(os.path.relpath(os.path.join(root, f), tree))
    return sorted(out)

FLIPS = [(" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && "),
         (" < ", " >= "), (" > ", " <= "), (" <= ", " > "), (" >= ", " < ")]

def condition_mutants(line):
    s = line.strip()
    if s.startswith("//") or s.startswith("#") or s.startswith("*"):
        return []
    res = []
    m = re.search(r"\b(if|while) \((.*)\)", line)
    if m and "<<" not in line:
        for a, b in FLIPS:
            if a in m.group(2):
                res.append(line.replace(a, b, 1))
                break
        else:
            cond = m.group(2)
            if cond.startswith("!"):
                res.append(line.replace("(" + cond, "(" + cond[1:], 1))
            else:
                res.append(line.replace("(" + cond, "(!(" + cond + ")", 1)
                           .replace(cond + ")", cond + "))", 1) if False else
                           line[:m.start(2)] + "!(" + cond + ")" + line[m.end(2):])
    return res

def is_statement(line):
    s = line.strip()
    if not s.endswith(";") or s.startswith("//") or s.startswith("#"):
        return False
    if s.startswith(("return", "case ", "default", "using ", "namespace", "}", "typedef",
                     "Q_", "class ", "struct ", "enum ")):
        return False
    # declarations with an initialiser stay: deleting them rarely builds
    if re.match(r"^(const |static |auto |constexpr )", s) or re.match(r"^[\w:<>,\s\*&]+ \w+( =|\(|\{|;)", s):
        return False
    return "(" in s or "=" in s or "++" in s or "--" in s

def draw(tree, out, seed=11, count=100):
    rnd = random.Random(seed)
    conds, stmts = [], []
    for f in product_files(tree, DIRS):
        lines = open(os.path.join(tree, f)).read().split("\n")
        for i, l in enumerate(lines):
            ctx = lines[max(0, i - 2):i + 3]
            for m in condition_mutants(l):
                conds.append(dict(file=f, line=i + 1, kind="condition", old=l, new=m, context=ctx))
            if is_statement(l) and not l.rstrip().endswith(",") and lines[i - 1].rstrip()[-1:] in ";{}":
                stmts.append(dict(file=f, line=i + 1, kind="delete", old=l, new="", context=ctx))
    sample = rnd.sample(conds, count // 2) + rnd.sample(stmts, count - count // 2)
    for n, m in enumerate(sample):
        m["id"] = n + 1
    json.dump(sample, open(out, "w"), indent=1)
    print(f"{len(conds)} conditions, {len(stmts)} statements; drew {len(sample)}")

def locate(tree, m):
    """The file and index of the mutant's line in TREE: by path, else by its text and neighbours."""
    def find_in(f):
        p = os.path.join(tree, f)
        if not os.path.exists(p):
            return None
        lines = open(p).read().split("\n")
        hits = [i for i, l in enumerate(lines) if l.strip() == m["old"].strip()]
        def score(i):
            return sum(1 for c in m["context"] if c.strip() and c.strip() in
                       (x.strip() for x in lines[max(0, i - 3):i + 4]))
        if not hits:
            return None
        hits.sort(key=lambda i: (-score(i), abs(i + 1 - m["line"])))
        return f, hits[0], lines
    r = find_in(m["file"])
    if r:
        return r
    best = None
    for f in product_files(tree, DIRS):
        r = find_in(f)
        if r:
            lines = r[2]; i = r[1]
            s = sum(1 for c in m["context"] if c.strip() and c.strip() in
                    (x.strip() for x in lines[max(0, i - 3):i + 4]))
            if not best or s > best[0]:
                best = (s, r)
    return best[1] if best else None

def sh(cmd, cwd, log):
    with open(log, "w") as fh:
        return subprocess.call(cmd, cwd=cwd, shell=True, stdout=fh, stderr=subprocess.STDOUT)

def run(tree, build, sample_path, results_path, only=None, tests=None, files=None, target=None):
    """With tests (a ctest regex), only those suites run; with files (a path prefix), only faults in
    files whose path starts with it; with target, only that build target is built."""
    sample = json.load(open(sample_path))
    if files:
        sample = [m for m in sample if m["file"].startswith(files)]
    blog, tlog = results_path + ".build.log", results_path + ".test.log"
    if only:
        caught = {r["id"] for r in json.load(open(only)) if r["result"] == "killed"}
        sample = [m for m in sample if m["id"] in caught]
    results = json.load(open(results_path)) if os.path.exists(results_path) else []
    done = {r["id"] for r in results}
    for m in sample:
        if m["id"] in done:
            continue
        t0 = time.time()
        loc = locate(tree, m)
        if not loc:
            r = dict(id=m["id"], result="not found")
        else:
            f, i, lines = loc
            path = os.path.join(tree, f)
            orig = open(path).read()
            indent = lines[i][:len(lines[i]) - len(lines[i].lstrip())]
            new = lines[:]
            new[i] = indent + m["new"].strip() if m["new"] else ""
            open(path, "w").write("\n".join(new))
            try:
                if sh(f"cmake --build {build} -j2" + (f" --target {target}" if target else ""), tree, blog) != 0:
                    r = dict(id=m["id"], result="build failed", at=f"{f}:{i+1}")
                else:
                    sel = f"-R '{tests}'" if tests else f"-E '{QUICK_EXCLUDE}'"
                    q = sh(f"ctest --test-dir {build} --stop-on-failure {sel}", tree, tlog)
                    by = "quick"
                    if q == 0 and not tests:
                        q = sh(f"ctest --test-dir {build} --stop-on-failure -R "
                               f"'^(tst_crashsafety|e2e_.*|install_.*)$'", tree, tlog)
                        by = "slow"
                    failed = re.findall(r"\d+ - (\S+) \(", open(tlog).read())
                    r = dict(id=m["id"], result="killed" if q else "survived", at=f"{f}:{i+1}",
                             by=failed[:1] or [by])
            finally:
                open(path, "w").write(orig)
        r["secs"] = round(time.time() - t0)
        results.append(r)
        json.dump(results, open(results_path, "w"), indent=1)
        print(m["id"], r, flush=True)
    # restore a clean build
    sh(f"cmake --build {build} -j2" + (f" --target {target}" if target else ""), tree, blog)
    k = sum(1 for r in results if r["result"] == "killed")
    b = sum(1 for r in results if r["result"] in ("killed", "survived"))
    print(f"killed {k} of {b} built faults")

if __name__ == "__main__":
    a = sys.argv[1:]
    if a[0] == "draw":
        draw(a[1], a[2])
    else:
        opt = lambda k: a[a.index(k) + 1] if k in a else None
        run(a[1], a[2], a[3], a[4], opt("--only"), opt("--tests"), opt("--files"), opt("--target"))
