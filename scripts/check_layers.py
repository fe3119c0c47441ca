#!/usr/bin/env python3
"""Fails when an #include in src/ points up the order of layers, so that arrows only go down.

The order, bottom first:
  platform
  filter:   host (the published protocol) < run < image, color < util < settings < fill < entry
  hostkit < imagefile < the hosts (cli, python, gimp) and tools

A file may include its own folder and anything below it. Above the filter, only the filter's
protocol headers (src/filter/host/) may be included: a host talks to the module through them.
Nothing includes a host. Prints each offending include and exits 1; prints nothing and exits 0
when every include points down."""
import pathlib
import re
import sys

FILTER_RANK = {"host": 0, "run": 1, "image": 2, "color": 2, "util": 3, "settings": 4,
               "fill": 5, "entry": 6}
# What the code in each top-level folder of src/ may include (besides itself).
ALLOWED = {
    "platform": {"platform"},
    "hostkit": {"platform", "filter/host", "hostkit"},
    "imagefile": {"platform", "filter/host", "hostkit", "imagefile"},
    "cli": {"platform", "filter/host", "hostkit", "imagefile", "cli"},
    "python": {"platform", "filter/host", "hostkit", "imagefile", "python"},
    "gimp": {"platform", "filter/host", "hostkit", "imagefile", "gimp"},
    "tools": {"platform", "filter/host", "hostkit", "imagefile"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """("filter", part) or (folder, None) for a path relative to src/ (or tools/)."""
    parts = path.split("/")
    if parts[0] == "filter" and len(parts) > 2:
        return "filter", parts[1]
    return parts[0], None


def allowed(source, target):
    folder, part = layer_of(source)
    t_folder, t_part = layer_of(target)
    if folder == "filter":
        if t_folder == "platform":
            return True
        return t_folder == "filter" and (t_part == part or FILTER_RANK.get(t_part, 99) <
                                         FILTER_RANK.get(part, -1))
    rules = ALLOWED.get(folder, set())
    if t_folder == "filter":
        return "filter/" + (t_part or "") in rules
    return t_folder in rules


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    bad = []
    files = [p for d in ("src", "tools") for p in (root / d).rglob("*")
             if p.suffix in (".h", ".cpp", ".c")]
    for path in sorted(files):
        rel = path.relative_to(root)
        source = str(rel.relative_to("src")) if rel.parts[0] == "src" else "tools/" + rel.name
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match and "/" in match.group(1) and not allowed(source, match.group(1)):
                bad.append(f"{rel}:{number}: includes {match.group(1)}, which is not below it")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
