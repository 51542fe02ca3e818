#!/usr/bin/env python3
"""Checks the include rules between the product's folders.

- A folder includes only itself and the folders below it (LAYERS).
- Nothing below the GUI line includes a Qt header.
- No panel includes another panel's header (panels/shared is for all of them).
- No two files include each other, directly or round a longer circle, and no two units
  (a header and its source taken as one) do either: unit_a.cpp including unit_b.h while
  unit_b.cpp includes unit_a.h ties the two into one piece that cannot be understood,
  tested or moved alone.
- Every folder builds from an explicit file list: no GLOB in its CMakeLists, and every
  .cpp file of the folder is named there.
Usage: check_layers.py SOURCE_DIR   (exit status 1 and one line per breach)
"""
import os
import re
import sys

# Each folder and the folders it may include (the whole closure, not only the next layer).
BOTTOM = {"wire", "base"}
LAYERS = {
    "wire": set(),
    "base": set(),
    "sim": {"wire"},
    "device/drivers": set(),
    "device": {"device/drivers", "wire"},
    "standard_drivers": {"device/drivers", "sim", "wire"},
    "config": {"device", "device/drivers"} | BOTTOM,
    "imaging": BOTTOM,
    "calibration": {"imaging"} | BOTTOM,
    "analog": {"imaging", "device", "device/drivers"} | BOTTOM,
    "files": {"calibration", "analog", "imaging", "config", "device", "device/drivers"} | BOTTOM,
}
LAYERS["stream"] = {"files"} | LAYERS["files"]
LAYERS["hardware_process"] = {"files"} | LAYERS["files"]
LAYERS["session"] = {"hardware_process", "stream"} | LAYERS["hardware_process"] | LAYERS["stream"]
FACE = {"session", "standard_drivers", "sim", "wire"} | LAYERS["session"]
LAYERS["cli"] = FACE
LAYERS["python"] = FACE
LAYERS["tango"] = FACE
LAYERS["widgets"] = {"analog", "imaging"} | BOTTOM
LAYERS["panels"] = {"widgets", "session"} | LAYERS["session"]
LAYERS["terminal"] = {"widgets", "device", "device/drivers"} | BOTTOM
LAYERS["tester"] = {"widgets", "device", "device/drivers"} | BOTTOM
LAYERS["app"] = {"panels", "terminal", "tester", "widgets", "standard_drivers", "sim"} | LAYERS["panels"]
GUI = {"widgets", "panels", "terminal", "tester", "app"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
QT_HEADER = re.compile(r"^Q[A-Za-z]*(/|$)|^Qt[A-Z]")


def folder_of(path):
    """The layer a project path belongs to: its first folder, device/drivers on its own."""
    parts = path.split("/")
    if parts[0] == "device" and len(parts) > 2 and parts[1] == "drivers":
        return "device/drivers"
    return parts[0]


def product_files(root):
    for layer in LAYERS:
        top = os.path.join(root, layer)
        for base, dirs, names in os.walk(top):
            if layer == "device":
                dirs[:] = [d for d in dirs if d != "drivers"]
            for name in names:
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(base, name), root)


def check(root):
    problems = []
    graph = {}
    for path in sorted(product_files(root)):
        with open(os.path.join(root, path), encoding="utf-8") as f:
            text = f.read()
        layer = folder_of(path)
        graph[path] = []
        for kind, target in INCLUDE.findall(text):
            if kind == "<":
                if QT_HEADER.match(target) and layer not in GUI:
                    problems.append(f"{path}: Qt header <{target}> below the GUI line")
                continue
            if not os.path.exists(os.path.join(root, target)):
                continue  # not a project path (a test-local or generated header)
            graph[path].append(target)
            other = folder_of(target)
            if other != layer and other not in LAYERS[layer]:
                problems.append(f"{path}: includes {target} ({layer} may not use {other})")
            if layer == "panels" and other == "panels":
                mine, theirs = path.split("/")[1], target.split("/")[1]
                if theirs not in (mine, "shared") or (mine == "shared" and theirs != "shared"):
                    problems.append(f"{path}: includes another panel's header {target}")
    problems += find_cycles(graph)
    problems += find_cycles(unit_graph(graph), "unit")
    problems += check_file_lists(root)
    return problems


def unit_graph(graph):
    """The include graph with each header and its source as one node (the path without its
    extension); a unit's include of its own header is no edge."""
    units = {}
    for path, targets in graph.items():
        unit = os.path.splitext(path)[0]
        edges = units.setdefault(unit, [])
        for target in targets:
            other = os.path.splitext(target)[0]
            if other != unit and other not in edges:
                edges.append(other)
    return units


def find_cycles(graph, kind="include"):
    """One line for each circle of includes found by a depth-first walk."""
    problems, state = [], {}

    def visit(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                circle = stack[stack.index(nxt):] + [nxt]
                problems.append(f"{kind} circle: " + " -> ".join(circle))
            elif nxt in graph and state.get(nxt) is None:
                visit(nxt, stack)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if state.get(node) is None:
            visit(node, [])
    return problems


def check_file_lists(root):
    problems = []
    for layer in LAYERS:
        cmake = os.path.join(root, layer, "CMakeLists.txt")
        if not os.path.exists(cmake):
            problems.append(f"{layer}/: no CMakeLists.txt")
            continue
        with open(cmake, encoding="utf-8") as f:
            text = f.read()
        if re.search(r"\bfile\s*\(\s*GLOB", text, re.I):
            problems.append(f"{layer}/CMakeLists.txt: globs its sources instead of listing them")
        listed = set(re.findall(r"[\w/.-]+\.cpp", text))
        top = os.path.join(root, layer)
        for base, dirs, names in os.walk(top):
            if layer == "device":
                dirs[:] = [d for d in dirs if d != "drivers"]
            for name in names:
                rel = os.path.relpath(os.path.join(base, name), top)
                if name.endswith(".cpp") and rel not in listed:
                    problems.append(f"{layer}/{rel}: not in {layer}/CMakeLists.txt")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for line in problems:
        print(line)
    if problems:
        return 1
    print(f"include rules hold for {len(LAYERS)} folders")
    return 0


if __name__ == "__main__":
    sys.exit(main())
