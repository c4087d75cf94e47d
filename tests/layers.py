#!/usr/bin/env python3
"""Holds the layers of the source tree:

- every target's sources lie under the folder whose CMakeLists.txt defines it (as the
  configure step lists them in BUILD-DIR/corvanta-targets.txt), so no folder compiles
  another's files;
- no file includes a header of a layer above its own: world <- audio <- media <- apps,
  the library (lib, with its public header in include) on the world and the audio analysis,
  the plug-in (host) on the world only, the web page and the media players' plug-ins
  (players) on the library's public header only.

Usage: layers.py SOURCE-DIR BUILD-DIR. Exit status 0 when both hold, 1 with one line per
breach otherwise.
"""
import re
import sys
from pathlib import Path

# What each layer may include, itself aside. Folders not named here (tests, fuzz, bench)
# sit above every layer and may include any of them.
ALLOWED = {
    "world": set(),
    "audio": {"world"},
    "media": {"world", "audio"},
    "apps": {"world", "audio", "media"},
    "host": {"world"},
    "web": {"lib", "include"},
    "lib": {"world", "audio", "include"},
    "players": {"include"},
    "include": set(),
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)
# The public header's folder as its users include it (<corvanta/corvanta.h>).
PUBLIC = {"corvanta": "include"}


def target_breaches(source_dir: Path, build_dir: Path):
    """Sources of a target that lie outside the folder defining it."""
    listing = build_dir / "corvanta-targets.txt"
    if not listing.is_file():
        yield f"{listing} is missing (configure the tree again)"
        return
    checked = 0
    for line in listing.read_text().splitlines():
        name, folder, sources = line.split("\t")
        folder = Path(folder).resolve()
        for source in sources.split(";"):
            if not source or source.startswith("$<") or source.endswith("-NOTFOUND"):
                continue
            path = Path(source)
            path = (path if path.is_absolute() else folder / path).resolve()
            if build_dir in path.parents:
                continue  # generated in the build tree
            checked += 1
            if folder not in path.parents:
                where = path.relative_to(source_dir) if source_dir in path.parents else path
                yield f"{name} (defined in {folder.relative_to(source_dir)}) compiles {where}"
    if checked == 0:
        yield f"{listing} lists no sources"


def include_breaches(source_dir: Path):
    """Includes of a layer's files that reach a layer above it."""
    for layer, allowed in ALLOWED.items():
        for path in sorted((source_dir / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c") or "node_modules" in path.parts:
                continue
            for quote, included in INCLUDE.findall(path.read_text(errors="replace")):
                top = included.split("/", 1)[0] if "/" in included else layer
                top = PUBLIC.get(top, top)
                if quote == "<" and top not in ALLOWED:
                    continue  # a system or third-party header
                if top != layer and top not in allowed:
                    yield f"{path.relative_to(source_dir)} includes {included}: {layer} may not use {top}"


def main():
    source_dir = Path(sys.argv[1]).resolve()
    build_dir = Path(sys.argv[2]).resolve()
    breaches = list(target_breaches(source_dir, build_dir)) + list(include_breaches(source_dir))
    for breach in breaches:
        print(f"layers: {breach}")
    if breaches:
        return 1
    print("layers: every target compiles its own folder's files; no layer includes one above it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
