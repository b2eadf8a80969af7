#!/usr/bin/env python3
"""Writes the layer include graph of src/ into docs/ARCHITECTURE.md.

Reads every #include "folder/..." of src/ and devproxy/, maps files and
included headers to their layers and replaces the text between the graph's
markers in docs/ARCHITECTURE.md. With --check it changes nothing and exits 1
when the document is not what the code gives.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "ARCHITECTURE.md"
BEGIN = "<!-- include graph: written by scripts/include_graph.py -->"
END = "<!-- end of include graph -->"

# Bottom to top: a layer may include those before it.
LAYERS = ["platform", "base", "proxy", "cert", "workflows", "maintenance", "browsers", "pages", "bridge", "host"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The layer of a path relative to src/ (or devproxy/ for the demo proxy)."""
    parts = path.split("/")
    top = parts[0]
    if top in ("base", "ui"):
        return "base"
    if top == "app":
        return "host" if len(parts) > 2 and parts[1] == "host" else "bridge"
    if top in LAYERS:
        return top
    return None


def edges():
    """{(from, to): {included header: number of files}} over the source files."""
    found = {}
    sources = [(p, layer_of(p.relative_to(ROOT / "src").as_posix())) for p in (ROOT / "src").rglob("*")]
    sources += [(p, "devproxy") for p in (ROOT / "devproxy").rglob("*")]
    for path, source_layer in sources:
        if path.suffix not in (".cc", ".h") or source_layer is None:
            continue
        for header in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            target = layer_of(header)
            if target is None or target == source_layer:
                continue
            found.setdefault((source_layer, target), {}).setdefault(header, 0)
            found[(source_layer, target)][header] += 1
    return found


def render(found):
    lines = [
        BEGIN,
        "",
        "Direct includes between layers, as `scripts/include_graph.py` reads them",
        "from the code (`--check` says whether this table is current). An include",
        "against the order of the layers table is marked \u2191 with its headers.",
        "",
        "| Layer | Includes |",
        "|---|---|",
    ]
    for source in LAYERS + ["devproxy"]:
        targets = []
        for target in LAYERS:
            headers = found.get((source, target))
            if not headers:
                continue
            upward = source != "devproxy" and LAYERS.index(target) > LAYERS.index(source)
            text = target
            if upward:
                text += " \u2191 (" + ", ".join(f"`{h}`" for h in sorted(headers)) + ")"
            targets.append(text)
        lines.append("| " + source + " | " + (", ".join(targets) if targets else "\u2014") + " |")
    lines += ["", END]
    return "\n".join(lines)


def main():
    check = "--check" in sys.argv[1:]
    doc = DOC.read_text(encoding="utf-8")
    start, stop = doc.find(BEGIN), doc.find(END)
    if start < 0 or stop < start:
        sys.exit(f"{DOC}: the include graph's markers are missing")
    updated = doc[:start] + render(edges()) + doc[stop + len(END):]
    if check:
        if updated != doc:
            sys.exit("docs/ARCHITECTURE.md: the include graph is out of date; run scripts/include_graph.py")
        return
    if updated != doc:
        DOC.write_text(updated, encoding="utf-8")


if __name__ == "__main__":
    main()
