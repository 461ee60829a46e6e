#!/usr/bin/env python3
"""The include graph runs one way, and every folder of the tree has a rank.

Every #include of every C/C++ file is resolved as the compiler resolves it:
a quoted name first beside the including file, then, like an angle name,
through the include folders that the CMake files declare (each build sees
its own: the Windows build does not see the native build's folders). An
include that lands in the tree is then checked:

  - it may not run to a higher rank, nor sideways to another folder of the
    same rank (audio and datalink, platform/sim and platform/win, ...);
  - the portable control code may not include anything under platform/sim
    or platform/win: it reaches the platform through platform/platform.h;
  - a quoted include that resolves nowhere is an error (it names a file of
    the tree that is not where it says).

Also: no circle between folders, and no source file outside the tests over
600 lines. Prints every violation; exits 1 when there is one.

--add PATH TEXT checks TEXT as if it were the file PATH of the tree;
--include-dir DIR adds an include folder to both builds.
"""
import argparse
import os
import re
import subprocess
import sys

SOURCE_EXT = (".h", ".hpp", ".c", ".cc", ".cpp", ".inl")

# (folder, rank). The longest folder that holds a file gives its rank.
# Folders of one rank are subsystems side by side: none includes another.
RANKS = [
    ("platform/sim/win32", 0),   # the Win32 headers of the native build
    ("platform", 1),             # the platform's face: platform.h, clock.h, ...
    ("platform/sim", 2),         # the native implementation
    ("platform/win", 2),         # the Windows-only part
    ("control/core", 3),
    ("telephony", 4),
    ("audio", 5),
    ("datalink", 5),
    ("prompts", 6),
    ("control/front", 7),
    ("resources", 7),            # the OCX's resource ids, type library
    ("control/win", 8),          # the front's OLE part on Windows
    ("peers", 9),
    ("tools", 9),
    ("host", 10),
    ("tests/support", 11),       # fixtures the tests and benchmarks share
    ("bench", 12),
    ("fuzz", 12),
    ("tests", 12),
    ("packaging", 12),           # the release folder's samples
]

PORTABLE = ("control/core", "telephony", "audio", "datalink", "prompts", "control/front")
PLATFORM_IMPL = ("platform/sim", "platform/win")
MAX_LINES = 600


def under(path, folder):
    return path == folder or path.startswith(folder + "/")


def rank_of(path):
    best = None
    for folder, rank in RANKS:
        if under(path, folder) and (best is None or len(folder) > len(best[0])):
            best = (folder, rank)
    return best


def strip_comments(text):
    """Blanks out comments, keeping string literals and line breaks."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^()\\ ]{0,16})\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i + m.end())
            end = n if end < 0 else end + len(m.group(1)) + 2
            out.append("\n" * text.count("\n", i, end))  # what a raw string holds is no directive
            i = end
        elif c in "\"'":
            # a literal; on a line that starts with #include it is the name
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*([<"])([^>"\n]+)[>"]', re.M)


def includes_of(text):
    return [(m.group(1), m.group(2).strip()) for m in INCLUDE.finditer(strip_comments(text))]


def tree_files(root):
    try:
        out = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=root, capture_output=True, check=True).stdout
        files = [f for f in out.decode().split("\0") if f]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for d, dirs, names in os.walk(root):
            dirs[:] = [x for x in dirs if not x.startswith(".") and x != "build"]
            files += [os.path.relpath(os.path.join(d, x), root) for x in names]
    return sorted(f for f in files if os.path.exists(os.path.join(root, f)))


CMAKE_DIRS = re.compile(r"\b(?:target_include_directories|include_directories)\s*\(([^)]*)\)", re.S)
CMAKE_KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "BEFORE", "AFTER", "SYSTEM"}


def windows_only_folders(root):
    """Folders the top CMakeLists adds only in its WIN32 block."""
    top = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
    m = re.search(r"^if\(WIN32\)\s*$(.*?)^endif\(\)", top, re.S | re.M)
    block = m.group(1) if m else ""
    folders = set(re.findall(r"add_subdirectory\(\s*([\w/]+)", block))
    for sub in re.findall(r"add_subdirectory\(\s*\$\{CMAKE_SOURCE_DIR\}/([\w/]+)", block):
        folders.add(sub)
    return folders


def include_folders(root, files, windows_folders):
    """The include folders the CMake files declare, by build: native, windows.
    The top CMakeLists serves both builds; one under a folder that only the
    Windows build adds serves that build; any other the native build."""
    dirs = {"native": [""], "windows": [""]}
    for f in files:
        if os.path.basename(f) != "CMakeLists.txt":
            continue
        here = os.path.dirname(f)
        if here == "":
            builds = ["native", "windows"]
        elif any(under(here, w) for w in windows_folders):
            builds = ["windows"]
        else:
            builds = ["native"]
        text = open(os.path.join(root, f), encoding="utf-8").read()
        for m in CMAKE_DIRS.finditer(text):
            words = m.group(1).split()
            if m.group(0).startswith("target_"):
                words = words[1:]  # the target's name
            for w in words:
                if w in CMAKE_KEYWORDS:
                    continue
                w = (w.replace("${CMAKE_SOURCE_DIR}", ".").replace("${PROJECT_SOURCE_DIR}", ".")
                      .replace("${CMAKE_CURRENT_SOURCE_DIR}", here or ".")
                      .replace("${CMAKE_CURRENT_LIST_DIR}", here or "."))
                if "$" in w or os.path.isabs(w):
                    continue  # a package's folder, outside the tree
                d = os.path.normpath(w)
                d = "" if d == "." else d
                for b in builds:
                    if d not in dirs[b]:
                        dirs[b].append(d)
    return dirs


def resolve(including, kind, name, folders, exists):
    candidates = ([os.path.dirname(including)] if kind == '"' else []) + folders
    for d in candidates:
        p = os.path.normpath(os.path.join(d, name))
        if p.startswith(".."):
            continue
        if exists(p):
            return p
    return None


def builds_of(path, windows_folders, native_only):
    if any(under(path, w) for w in windows_folders):
        return ["windows"]
    if any(under(path, n) for n in native_only):
        return ["native"]
    return ["native", "windows"]


def check(root, added, extra_dirs):
    files = tree_files(root)
    contents = {}
    for path, text in added:
        contents[path] = text
        if path not in files:
            files.append(path)
    known = set(files)
    windows_folders = windows_only_folders(root)
    top = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
    native_only = set(re.findall(r"add_subdirectory\(\s*([\w/]+)", top)) - windows_folders
    folders = include_folders(root, files, windows_folders)
    for b in folders:
        folders[b] += [os.path.normpath(d) for d in extra_dirs]

    def exists(p):
        return p in known

    def text_of(f):
        if f not in contents:
            contents[f] = open(os.path.join(root, f), encoding="utf-8", errors="replace").read()
        return contents[f]

    problems = []
    edges = set()
    for f in files:
        if not f.endswith(SOURCE_EXT):
            continue
        mine = rank_of(f)
        if mine is None:
            problems.append(f"rank: {f} lies in a folder without a rank")
            continue
        for kind, name in includes_of(text_of(f)):
            shown = f"{kind}{name}{'>' if kind == '<' else kind}"
            targets = set()
            for b in builds_of(f, windows_folders, native_only):
                t = resolve(f, kind, name, folders[b], exists)
                if t:
                    targets.add(t)
            if not targets:
                if kind == '"':
                    problems.append(f"unresolved: {f} includes {shown}, which is no file of the tree")
                continue
            for t in sorted(targets):
                theirs = rank_of(t)
                if theirs is None:
                    problems.append(f"rank: {f} includes {shown} = {t}, in a folder without a rank")
                    continue
                if os.path.dirname(t) != os.path.dirname(f):
                    edges.add((os.path.dirname(f), os.path.dirname(t)))
                if any(under(f, p) for p in PORTABLE) and any(under(t, p) for p in PLATFORM_IMPL):
                    problems.append(f"platform: {f} includes {shown} = {t}; portable code reaches the platform "
                                    f"through platform/platform.h")
                elif theirs[1] > mine[1]:
                    problems.append(f"layering: {f} ({mine[0]}, rank {mine[1]}) includes {shown} = {t} "
                                    f"({theirs[0]}, rank {theirs[1]}): upwards")
                elif theirs[1] == mine[1] and theirs[0] != mine[0]:
                    problems.append(f"layering: {f} ({mine[0]}) includes {shown} = {t} ({theirs[0]}): "
                                    f"sideways between subsystems of rank {mine[1]}")

    problems += circles(edges)

    for f in files:
        if f.endswith(SOURCE_EXT) and not re.search(r"(^|/)tests?/", f) and f not in dict(added):
            n = text_of(f).count("\n")
            if n > MAX_LINES:
                problems.append(f"size: {f} has {n} lines")
    return problems


def circles(edges):
    """Folders that include each other, around a loop (Tarjan)."""
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
        graph.setdefault(b, set())
    index, low, stack, on, out = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w or ".")
                if w == v:
                    break
            if len(group) > 1:
                out.append("circle: folders that include each other: " + ", ".join(sorted(group)))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    parser.add_argument("--add", nargs=2, action="append", default=[], metavar=("PATH", "TEXT"))
    parser.add_argument("--include-dir", action="append", default=[])
    args = parser.parse_args()
    problems = check(os.path.abspath(args.root), args.add, args.include_dir)
    for p in problems:
        print(p)
    if not problems:
        print("layers and sizes ok")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
