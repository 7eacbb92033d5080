#!/usr/bin/env python3
"""Runs clang-tidy 14 (.clang-tidy at the top of the tree) over the program's own sources in a built
tree, several files at a time, and fails on any finding. The tests, and what the build generates
(moc, uic, the D-Bus adaptors and proxies), are left out.

A file that passed is not checked again until something clang-tidy would see changes: the key of a
pass is the file's preprocessed text (every header it includes), its compile command, .clang-tidy,
this script and clang-tidy's version. The keys live in the build folder (tidy-passed.txt).

Usage: tools/check-tidy.py SOURCE_DIR BUILD_DIR [-j JOBS]
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
from pathlib import Path

TIDY = "clang-tidy-14"
FOLDERS = ("app", "xml", "prefs", "tray", "net", "platform", "tools")


def preprocess_command(command):
    """The compile command with its output dropped, turned into a preprocessor run to stdout."""
    args = shlex.split(command)
    kept = []
    skip = False
    for arg in args:
        if skip:
            skip = False
        elif arg == "-o":
            skip = True
        elif arg != "-c":
            kept.append(arg)
    return kept + ["-E"]


def key_of(entry, fixed):
    digest = hashlib.sha256(fixed)
    digest.update(entry["command"].encode())
    text = subprocess.run(preprocess_command(entry["command"]), cwd=entry["directory"],
                          capture_output=True, check=False)
    if text.returncode != 0:
        return None
    digest.update(text.stdout)
    return digest.hexdigest()


def check(entry, build_dir, ours, fixed, passed):
    """Runs clang-tidy on one file unless it passed before. Gives the file's name, the key of its
    pass (None when it failed or cannot be keyed), its findings (None when it passed) and whether
    the pass is an earlier one."""
    key = key_of(entry, fixed)
    if key is not None and key in passed:
        return entry["file"], key, None, True
    result = subprocess.run([TIDY, "-quiet", "-p", str(build_dir), "--warnings-as-errors=*",
                             "--header-filter=" + ours, entry["file"]],
                            capture_output=True, text=True, check=False)
    if result.returncode == 0:
        return entry["file"], key, None, False
    # The findings are on stdout; stderr says how many warnings were hidden, or why it failed.
    return entry["file"], None, result.stdout + result.stderr, False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_dir")
    parser.add_argument("build_dir")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count())
    args = parser.parse_args()
    source_dir = Path(args.source_dir).resolve()
    build_dir = Path(args.build_dir).resolve()
    ours = "^" + re.escape(str(source_dir)) + "/(" + "|".join(FOLDERS) + ")/"

    database = json.loads((build_dir / "compile_commands.json").read_text())
    entries = [e for e in database if re.match(ours, str(Path(e["directory"], e["file"])))]
    if not entries:
        print(f"no sources of {', '.join(FOLDERS)} in {build_dir}/compile_commands.json")
        return 1

    version = subprocess.run([TIDY, "--version"], capture_output=True, check=True).stdout
    fixed = (version + (source_dir / ".clang-tidy").read_bytes() +
                 Path(__file__).read_bytes() + ours.encode())
    stamps = build_dir / "tidy-passed.txt"
    passed = set(stamps.read_text().split()) if stamps.exists() else set()

    now_passed = set()
    failed = []
    reused = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        runs = [pool.submit(check, e, build_dir, ours, fixed, passed) for e in entries]
        for run in concurrent.futures.as_completed(runs):
            name, key, findings, cached = run.result()
            reused += cached
            if findings is not None:
                failed.append(name)
                print(findings, end="", flush=True)
            elif key is not None:
                now_passed.add(key)
    stamps.write_text("".join(k + "\n" for k in sorted(now_passed)))

    if failed:
        print(f"clang-tidy: findings in {len(failed)} of {len(entries)} files")
        return 1
    print(f"clang-tidy: no findings in {len(entries)} files ({reused} unchanged since they passed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
