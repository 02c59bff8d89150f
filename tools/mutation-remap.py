#!/usr/bin/env python3
"""Carries a mutation baseline over moved or edited files: each mutant keeps its edit and its
source line, found again in the current tree by the line's text (neighbours break ties).
A mutant whose line is gone is left out (and listed): it cannot be compared.

usage: mutation-remap.py SRC BEFORE_COMMIT IN.json OUT.json [old=new[,new2...] ...]"""
import json, subprocess, sys

src, before_commit, base_in, base_out = sys.argv[1:5]
# old=new[,new2...]: a line may have moved to any of the new files (first is the file's new name)
moves = {a.split("=")[0]: a.split("=")[1].split(",") for a in sys.argv[5:]}

def old_lines(path, cache={}):
    if path not in cache:
        cache[path] = subprocess.run(["git", "-C", src, "show", "%s:%s" % (before_commit, path)],
                                     capture_output=True, text=True, check=True).stdout.split("\n")
    return cache[path]

def new_lines(path, cache={}):
    if path not in cache:
        try:
            cache[path] = open("%s/%s" % (src, path), encoding="utf-8").read().split("\n")
        except OSError:
            cache[path] = None
    return cache[path]

base = json.load(open(base_in))
kept = moved = lost = 0
found = []
for m in base["mutants"]:
    paths = moves.get(m["file"], [m["file"]])
    old = old_lines(m["file"])
    text = m["line_text"]
    i = m["line"] - 1
    first = new_lines(paths[0])
    if paths[0] == m["file"] and first is not None and i < len(first) and first[i] == text:
        kept += 1
        found.append(m)
        continue
    def score(hit):
        path, j = hit
        new = new_lines(path)
        s = 0
        for d in range(1, 6):
            for sign in (-1, 1):
                a, b = i + sign * d, j + sign * d
                if 0 <= a < len(old) and 0 <= b < len(new) and old[a] == new[b]:
                    s += 1
        return s
    hits = [(p, j) for p in paths if new_lines(p) is not None
            for j, l in enumerate(new_lines(p)) if l == text]
    if not hits:
        lost += 1
        print("not found: %s:%d %s" % (m["file"], m["line"], text.strip()))
        continue
    m["file"], m["line"] = max(hits, key=score)
    m["line"] += 1
    moved += 1
    found.append(m)
base["mutants"] = found
files = []
for f in base["files"]:
    for n in moves.get(f, [f]):
        if n not in files:
            files.append(n)
base["files"] = files
json.dump(base, open(base_out, "w"), indent=1)
print("remap: %d in place, %d found elsewhere, %d not found" % (kept, moved, lost))
