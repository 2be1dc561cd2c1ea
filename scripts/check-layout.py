#!/usr/bin/env python3
"""Checks the rooms of the product: a room includes only from itself and the
rooms below it, no header includes itself back through others, and no source
file grows past the length one person reads in one go. The engine's helpers
report through an interface and never include the worker; only the driver's
room opens a device node; each room's targets are defined in its own folder."""
import os
import re
import subprocess
import sys

# From the floor up; rooms on one floor do not include each other.
FLOORS = [["driver"], ["updatefile"], ["provenance"], ["history"], ["engine"], ["run"], ["ui", "cli"], ["app"]]
LONGEST = 400

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
floor_of = {room: i for i, rooms in enumerate(FLOORS) for room in rooms}
where = {}  # file name -> room
for room in floor_of:
    for name in os.listdir(os.path.join(root, room)):
        if name.endswith((".h", ".cpp")):
            where[name] = room

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
problems = []
headers = {}
for name, room in sorted(where.items()):
    path = os.path.join(room, name)
    with open(os.path.join(root, path), encoding="utf-8") as source:
        text = source.read()
    lines = text.count("\n")
    if lines > LONGEST:
        problems.append(f"{path}: {lines} lines, over {LONGEST}")
    used = [u for u in include.findall(text) if u in where]
    if name.endswith(".h"):
        headers[name] = [u for u in used if u.endswith(".h")]
    for used_name in used:
        other = where[used_name]
        if other != room and floor_of[other] >= floor_of[room]:
            problems.append(f"{path} includes {other}/{used_name}, which is not below {room}")

# The length rule holds for every source file, product or not.
tracked = subprocess.run(["git", "ls-files", "*.cpp", "*.h", "*.c"], cwd=root, capture_output=True, text=True,
                         check=True).stdout.split()
tracked_cmake = subprocess.run(["git", "ls-files", "CMakeLists.txt", "*/CMakeLists.txt"], cwd=root,
                               capture_output=True, text=True, check=True).stdout.split()
for path in tracked:
    if os.path.dirname(path) in floor_of:
        continue
    with open(os.path.join(root, path), encoding="utf-8") as source:
        lines = source.read().count("\n")
    if lines > LONGEST:
        problems.append(f"{path}: {lines} lines, over {LONGEST}")

# Cycles among the headers, depth first.
state = {}
def visit(name, trail):
    state[name] = "open"
    for used in headers.get(name, []):
        if state.get(used) == "open":
            problems.append("include cycle: " + " -> ".join(trail[trail.index(used):] + [used]))
        elif used not in state:
            visit(used, trail + [used])
    state[name] = "done"
for name in headers:
    if name not in state:
        visit(name, [name])

# The worker's own files, and the rooms above the engine, may know the worker;
# an engine helper that did would call back into it.
WORKER = "updaterthread.h"
WORKER_FILES = {"updaterthread.h", "updaterthread.cpp", "updaterun.cpp", "updaterjournal.cpp"}
for name, room in sorted(where.items()):
    if room == "engine" and name not in WORKER_FILES:
        with open(os.path.join(root, room, name), encoding="utf-8") as source:
            if WORKER in include.findall(source.read()):
                problems.append(f"engine/{name} includes the worker's {WORKER}: report through RunReporter")

# One door to the devices: the nodes are opened in driver/ alone.
device_open = re.compile(r'\bopen\s*\(\s*(zarndriver::(flash|mailbox)Path|"/dev/zarn_)')
for path in tracked:
    room = path.split("/")[0]
    if room not in floor_of or room == "driver":
        continue
    with open(os.path.join(root, path), encoding="utf-8") as source:
        if device_open.search(source.read()):
            problems.append(f"{path} opens a device node itself: use FlashHandle or ZARNsystem in driver/")

# Each room's targets in its own folder: the top file only adds the rooms,
# and no folder defines or adds to another's target.
target_call = re.compile(r"^\s*(add_library|add_executable|target_sources)\s*\(\s*([\w.-]+)", re.M | re.I)
defined_in = {}
for path in tracked_cmake:
    with open(os.path.join(root, path), encoding="utf-8") as source:
        text = source.read()
    folder = os.path.dirname(path)
    for call, target in target_call.findall(text):
        if call.lower() != "target_sources":
            defined_in.setdefault(target, folder)
            if folder == "":
                problems.append(f"CMakeLists.txt defines {target}: define it in its room's folder")
for path in tracked_cmake:
    with open(os.path.join(root, path), encoding="utf-8") as source:
        text = source.read()
    folder = os.path.dirname(path)
    for call, target in target_call.findall(text):
        if call.lower() == "target_sources" and defined_in.get(target) not in (None, folder):
            problems.append(f"{path} adds sources to {target}, which {defined_in[target]}/ defines")
for room in floor_of:
    if f"zarn_{room}" in defined_in and defined_in[f"zarn_{room}"] != room:
        problems.append(f"zarn_{room} is defined in {defined_in[f'zarn_{room}'] or 'the top folder'}, not in {room}/")

for problem in problems:
    print(problem)
print(f"check-layout: {len(where)} files in {len(floor_of)} rooms, {len(problems)} problems")
sys.exit(1 if problems else 0)
