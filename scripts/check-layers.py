#!/usr/bin/env python3
"""Checks the include arrows and the OS calls of src/, include/, host/, tools/ and gst/ against
layers.txt.

Usage: check-layers.py [ROOT]   (default: the repository this script lives in)
Prints one line per offending include or call and exits 1 if there is any.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)

# Calls that only the OS layer may make, and the headers that declare them. Names that our
# own classes use too (open, read, write, close, ...) count only in their global form
# ("::open("); the rest count however they are called. Either needs an OS header, which is
# checked as well.
OS_CALLS = ("openat creat pread pwrite lseek fstat lstat mmap munmap ioctl fcntl dlopen dlsym "
            "dlclose dlerror getrandom syscall readlink unlink mkfifo opendir readdir").split()
SHARED_NAMES = "open read write close stat".split()
OS_HEADER = re.compile(r"^(unistd|fcntl|dlfcn|dirent|sys/.*)\.h$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
# A call to a free function: not a member (. ->), not qualified by a name (X::), and not a
# declaration (a type name right before it). "::open(" is the global one and counts.
CALL = re.compile(r"(?:(?<![\w.>:])(::)|(?<![\w.>:]))\b(" + "|".join(OS_CALLS + SHARED_NAMES) +
                  r")\s*\(")
KEYWORDS_BEFORE_CALL = {"return", "co_return", "else", "do", "case"}


def parse_rules(path):
    arrows, os_places = {}, []
    for number, line in enumerate(path.read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("os:"):
            os_places += line[3:].split()
        elif "->" in line:
            left, right = line.split("->", 1)
            arrows[left.strip()] = set(right.split())
        else:
            sys.exit(f"{path}:{number}: neither 'A -> B ...' nor 'os: ...'")
    return arrows, os_places


def folder_of(relative):
    """The layer a file belongs to, by its path in the repository."""
    parts = relative.parts
    if parts[0] == "include":
        return parts[1]
    if parts[0] == "src":
        return parts[1]
    if parts[0] == "tools":
        return "tools/" + parts[1]
    if parts[0] in ("gst", "host"):
        return parts[0]
    return None


def strip_comments_and_strings(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def find_cycle(arrows):
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for target in arrows.get(node, ()):
            if state.get(target) == "open":
                return trail + [node, target]
            if target not in state:
                cycle = visit(target, trail + [node])
                if cycle:
                    return cycle
        state[node] = "done"
        return None

    for node in arrows:
        if node not in state:
            cycle = visit(node, [])
            if cycle:
                return cycle
    return None


def main():
    arrows, os_places = parse_rules(root / "layers.txt")
    problems = []
    cycle = find_cycle(arrows)
    if cycle:
        problems.append("layers.txt: the arrows make a cycle: " + " -> ".join(cycle))
    files = [p for top in ("src", "include", "host", "tools", "gst") for p in sorted((root / top).rglob("*"))
             if p.suffix in (".h", ".hpp", ".cpp") and p.is_file()]
    for path in files:
        relative = path.relative_to(root)
        layer = folder_of(relative)
        if layer not in arrows:
            problems.append(f"{relative}: folder '{layer}' has no line in layers.txt")
            continue
        allowed = arrows[layer] | {layer}
        may_call_os = any(place in (layer, str(relative)) for place in os_places)
        raw = path.read_text(errors="replace")
        for match in INCLUDE.finditer(raw):
            line = raw.count("\n", 0, match.start()) + 1
            kind, name = match.groups()
            if kind == "<":
                if OS_HEADER.match(name) and not may_call_os:
                    problems.append(f"{relative}:{line}: includes the OS header <{name}>")
                continue
            if (path.parent / name).exists() and not name.startswith(("kestrel/",)):
                target = folder_of((path.parent / name).resolve().relative_to(root.resolve()))
            elif (root / "tools" / name).exists():
                target = folder_of(pathlib.Path("tools") / name)  # tools/ folders by their name
            elif (root / "host" / name).exists():
                target = "host"  # the front ends include the host library by name
            else:
                first = name.split("/", 1)[0]
                target = first if first in arrows else None
            if target is None:
                problems.append(f'{relative}:{line}: includes "{name}", which no layer holds')
            elif target not in allowed:
                problems.append(f'{relative}:{line}: {layer} -> {target} ("{name}") is not '
                                "allowed by layers.txt")
        if may_call_os:
            continue
        code = strip_comments_and_strings(raw)
        for match in CALL.finditer(code):
            if match.group(1) is None and match.group(2) in SHARED_NAMES:
                continue  # a member or a function of ours with the same name
            before = code[:match.start()].rstrip()
            word = re.search(r"(\w+)$", before)
            if match.group(1) is None and word and word.group(1) not in KEYWORDS_BEFORE_CALL:
                continue  # "int32_t open(": a declaration of our own function
            line = code.count("\n", 0, match.start()) + 1
            problems.append(f"{relative}:{line}: calls the OS ({match.group(2)}) outside the "
                            "OS layer")
    for problem in problems:
        print(problem)
    if problems:
        print(f"layering: {len(problems)} problem(s)")
        return 1
    print(f"layering: {len(files)} files keep to layers.txt")
    return 0


if __name__ == "__main__":
    sys.exit(main())
