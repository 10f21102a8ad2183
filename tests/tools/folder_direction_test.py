#!/usr/bin/python3
"""Every folder-qualified include in tools/ and python/native names a folder
that the including target links, directly or through another tools library.

A header included from a folder that is not linked still compiles (all tools
folders share one include directory), so a wrong-way dependency would only
show at link time, or never for an inline-only header. The link lines in the
folders' CMakeLists.txt are the direction; this holds the includes to it.
Usage: folder_direction_test.py SOURCE_ROOT
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
tools = root / "tools"
folders = sorted(p.name for p in tools.iterdir() if (p / "CMakeLists.txt").is_file())
target_folder = {f"axiswarp_{f}": f for f in folders}
target_folder["axiswarp"] = "cli"  # the executable is named after the tool


def linked_folders(cmake_file, target):
    """The tools folders whose libraries `target` names in its link lines."""
    text = cmake_file.read_text()
    found = set()
    for m in re.finditer(r"target_link_libraries\(\s*" + re.escape(target) + r"\s([^)]*)\)", text):
        found |= {target_folder[t] for t in m.group(1).split() if t in target_folder}
    return found


direct = {f: linked_folders(tools / f / "CMakeLists.txt", "axiswarp" if f == "cli" else f"axiswarp_{f}")
          for f in folders}


def reachable(start):
    seen, todo = set(), list(start)
    while todo:
        f = todo.pop()
        if f not in seen:
            seen.add(f)
            todo.extend(direct[f])
    return seen


users = {f"tools/{f}": (tools / f, reachable({f})) for f in folders}
users["python/native"] = (root / "python" / "native",
                          reachable(linked_folders(root / "python" / "CMakeLists.txt", "axiswarp_native")))

include = re.compile(r'^#include\s*[<"](\w+)/', re.M)
faults = []
for name, (folder, allowed) in users.items():
    for source in sorted(folder.glob("*.[ch]pp")):
        for used in include.findall(source.read_text()):
            if used in folders and used not in allowed:
                faults.append(f"{source.relative_to(root)} includes {used}/ but its target links only "
                              f"{', '.join(sorted(allowed)) or 'no tools folder'}")
for f in folders:
    if f in reachable(direct[f]):
        faults.append(f"tools/{f} depends on itself through {', '.join(sorted(direct[f]))}")
print("\n".join(faults) if faults else f"{len(users)} folders, every include follows the link lines")
sys.exit(1 if faults else 0)
