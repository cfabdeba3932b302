#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Renders the main window's artwork and the application icon from the SVG
sources in this folder into the files the program is built with.

    python3 tools/skin/render.py

Writes, relative to the repository root:
  app/skin/NAME.bmp      24-bit BMP at the size the layout names (1x)
  app/skin/NAME@2x.png   the same drawing at twice the size, 24-bit PNG
  app/icons/hicolor/NxN/apps/sendolin.png   from app/icons/sendolin.svg

The rendered files are committed; building the program needs none of the
tools used here: rsvg-convert (Debian librsvg2-bin) draws, ImageMagick's
convert writes the opaque BMP and PNG files. Run it again after editing a
source and commit what changed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SKIN = os.path.join(ROOT, "app", "skin")
ICONS = os.path.join(ROOT, "app", "icons")
SVG = "{http://www.w3.org/2000/svg}"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

# Face numbering of the big keys: drawing and indicator per number.
FACE_LOOK = {1: ("raised", "dark"), 2: ("sunken", "dark"), 3: ("raised", "lit"), 4: ("sunken", "lit")}
# The faces the layout names: file prefix, symbol layer, face numbers.
FACES = (("Play", "play", (1, 2, 3, 4)), ("stop", "stop", (1, 2, 3, 4)),
         ("rec", "rec", (1, 4)), ("exit", "exit", (1, 4)))
# Single drawings: output name, source file, layers to keep (None: all).
PICTURES = (("Title", "title.svg", None), ("Logo", "logo.svg", None),
            ("GlyphHide", "glyphs.svg", {"glyph-hide"}), ("GlyphClose", "glyphs.svg", {"glyph-close"}))


def run(*command):
    subprocess.run(command, check=True)


def with_layers(source, keep_prefixed, shift_content=False):
    """The source with every layer whose id has a known prefix switched off
    unless it is listed in keep_prefixed."""
    ET.register_namespace("", SVG[1:-1])
    tree = ET.parse(os.path.join(HERE, source))
    for group in tree.getroot().iter(SVG + "g"):
        layer = group.get("id", "")
        prefix = layer.split("-")[0] + "-" if "-" in layer else None
        if prefix and any(k.startswith(prefix) for k in keep_prefixed) and layer not in keep_prefixed:
            group.set("display", "none")
        if layer == "content" and shift_content:
            group.set("transform", "translate(1,1)")
    return tree


def render(tree, name, work):
    """Writes NAME.bmp (1x) and NAME@2x.png into app/skin."""
    svg = os.path.join(work, name + ".svg")
    tree.write(svg, xml_declaration=True, encoding="UTF-8")
    root = tree.getroot()
    width, height = int(root.get("width")), int(root.get("height"))
    for scale, target in ((1, "BMP3:" + os.path.join(SKIN, name + ".bmp")),
                          (2, "PNG24:" + os.path.join(SKIN, name + "@2x.png"))):
        png = os.path.join(work, "%s-%d.png" % (name, scale))
        run("rsvg-convert", "-w", str(width * scale), "-h", str(height * scale), svg, "-o", png)
        # Opaque 24-bit pixels; no time stamps, so an unchanged source renders
        # to unchanged bytes.
        run("convert", png, "-background", "#004fc4", "-alpha", "remove", "-alpha", "off",
            "-type", "TrueColor", "-strip", "-define", "png:exclude-chunks=date,time", target)


def render_icon():
    source = os.path.join(ICONS, "sendolin.svg")
    for size in ICON_SIZES:
        folder = os.path.join(ICONS, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        run("rsvg-convert", "-w", str(size), "-h", str(size), source, "-o", os.path.join(folder, "sendolin.png"))


def main():
    for tool in ("rsvg-convert", "convert"):
        if not shutil.which(tool):
            sys.exit("render.py needs %s (Debian packages librsvg2-bin and imagemagick)" % tool)
    os.makedirs(SKIN, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        for prefix, symbol, numbers in FACES:
            for number in numbers:
                drawing, indicator = FACE_LOOK[number]
                layers = {"drawing-" + drawing, "indicator-" + indicator, "symbol-" + symbol}
                tree = with_layers("button.svg", layers, shift_content=drawing == "sunken")
                render(tree, "%s%d" % (prefix, number), work)
        for name, source, layers in PICTURES:
            render(with_layers(source, layers or set()), name, work)
    render_icon()


if __name__ == "__main__":
    main()
