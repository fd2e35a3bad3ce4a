#!/usr/bin/env python3
"""Draws the desktop's theme folder and the program icon at build time.

The host preloads a fixed list of theme images by relative path; this script reads that list from the C++
sources given (every quoted "folder\\\\name.png|gif|bmp" literal) and draws one small image per path, so that a
build has a complete themes folder without committed binaries. The images are simple shapes coloured per
folder; GDI+ reads them by content, so the .gif and .bmp names are written as PNG as well.

Usage: make_themes.py <themes-out-dir> <icon-out-file> <source>...
"""
import math
import re
import struct
import sys
import zlib
from pathlib import Path

COLOURS = {
    "common": (0x3A, 0x8E, 0xE6),
    "connect": (0x2E, 0xB8, 0x72),
    "contacts": (0xF0, 0x8A, 0x24),
    "message": (0x4C, 0xAF, 0x50),
    "music": (0xE9, 0x1E, 0x63),
    "photo": (0x9C, 0x27, 0xB0),
    "backup": (0x60, 0x7D, 0x8B),
}
DEFAULT_COLOUR = (0x79, 0x55, 0x48)


# Sizes the pages lay themselves out for: toolbar images fit the 30-pixel toolbar, check boxes the 25-pixel
# list header, the contact picture and the list's row image the preview and the 60-pixel rows.
SIZES = {
    "content-check-yes.png": (16, 16),
    "content-check-no.png": (16, 16),
    "operate-search.png": (20, 20),
    "content-contacts-list.png": (40, 40),
    "preview-contacts.png": (72, 72),
    "content-contacts-icloud.png": (96, 96),
}


def size_for(path):
    name = path.rsplit("\\", 1)[-1]
    if name in SIZES:
        return SIZES[name]
    if name.startswith("close-"):
        return 16, 16
    if name == "alert.png":
        return 48, 48
    if name.startswith("operate-") or name.startswith("edit-") or name.startswith("contact-edit-"):
        return 16, 16
    if "my-device" in name or name.startswith("phone") or name == "trust.png":
        return 96, 96
    return 20, 20


def mark_for(name, x, y, width, height):
    """The white drawing on an image: a sign that says what the button does."""
    cx, cy = (width - 1) / 2, (height - 1) / 2
    u, v = (x - cx) / (width / 2), (y - cy) / (height / 2)  # -1 .. 1
    if name.startswith("close-") or name == "alert.png":
        return abs(x - y) <= 1 or abs(x - (width - 1 - y)) <= 1
    if "check-yes" in name or name == "operate-ok.png":
        return abs(v - (0.45 - abs(u + 0.25) * 1.1 if u < -0.25 else 0.45 - (u + 0.25) * 1.1)) < 0.2 and -0.7 < u < 0.75
    if "-add-" in name:
        return (abs(u) < 0.14 and abs(v) < 0.6) or (abs(v) < 0.14 and abs(u) < 0.6)
    if "-delete-" in name:
        return abs(v) < 0.14 and abs(u) < 0.6
    if "expand" in name:
        return abs(abs(v) - (0.5 - (u + 0.2))) < 0.2 and -0.3 < u < 0.45
    if "shrink" in name:
        return abs(abs(v) - (0.5 + (u - 0.2))) < 0.2 and -0.45 < u < 0.3
    if "search" in name:
        ring = abs(((u + 0.15) ** 2 + (v + 0.15) ** 2) ** 0.5 - 0.42) < 0.13
        handle = abs(u - v) < 0.2 and 0.25 < u < 0.75
        return ring or handle
    if "refresh" in name:
        radius = (u * u + v * v) ** 0.5
        return abs(radius - 0.5) < 0.14 and not (u > 0.1 and v < -0.1)
    if "export" in name:
        return (abs(u) < 0.13 and -0.3 < v < 0.6) or (abs(v + 0.35 - abs(u)) < 0.15 and abs(u) < 0.55)
    if "import" in name:
        return (abs(u) < 0.13 and -0.6 < v < 0.3) or (abs(v - 0.35 + abs(u)) < 0.15 and abs(u) < 0.55)
    if name == "encrypt.png":
        # A padlock: a shackle over a body with a keyhole (the backup list's encrypted rows).
        shackle = abs((u * u + (v + 0.15) ** 2) ** 0.5 - 0.36) < 0.12 and v < -0.1
        body = abs(u) < 0.62 and -0.1 <= v < 0.8 and not (abs(u) < 0.12 and 0.15 < v < 0.55)
        return shackle or body
    if name.startswith("edit-"):
        return abs(u + v) < 0.2 and -0.6 < u < 0.6
    if name in ("preview-contacts.png", "content-contacts-list.png"):
        head = u * u + (v + 0.3) ** 2 < 0.09
        body = v > 0.15 and (u * u) / 0.3 + ((v - 0.75) ** 2) / 0.36 < 1
        return head or body
    if "icloud" in name:
        cloud = (u + 0.3) ** 2 + (v - 0.1) ** 2 < 0.12 or (u - 0.05) ** 2 + (v + 0.1) ** 2 < 0.18 or \
            (u - 0.4) ** 2 + (v - 0.1) ** 2 < 0.1 or (abs(u) < 0.55 and 0.05 < v < 0.38)
        return cloud
    if name == "content-bookmarks-folder.png":  # a folder: a tab over a wide body
        return (-0.65 < u < 0.65 and -0.25 < v < 0.55) or (-0.65 < u < -0.05 and -0.5 < v <= -0.25)
    if name == "content-bookmarks-file.png":  # a page: lines of text
        return -0.5 < u < 0.5 and any(abs(v - line) < 0.1 for line in (-0.45, 0.0, 0.45))
    return height // 3 <= y <= height - 1 - height // 3 and width // 4 <= x <= width - 1 - width // 4


def badge_pixels(width, height, disc, marked):
    """A white sign on a coloured disc, its edges smoothed (4 x 4 samples); `marked(u, v)` says whether a point
    of the square -1 .. 1 belongs to the sign."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            covered = signed = 0
            for sy in range(4):
                for sx in range(4):
                    u = (x + (sx + 0.5) / 4) / width * 2 - 1
                    v = (y + (sy + 0.5) / 4) / height * 2 - 1
                    if u * u + v * v > 0.96:
                        continue
                    covered += 1
                    signed += bool(marked(u, v))
            colour = [(255 * signed + d * (covered - signed)) // max(covered, 1) for d in disc]
            row += bytes(colour + [255 * covered // 16])
        rows.append(bytes(row))
    return rows


def exclamation(u, v):
    return (abs(u) < 0.1 + 0.04 * (0.2 - v) and -0.62 < v < 0.2) or u * u + (v - 0.45) ** 2 < 0.017


def download_arrow(u, v):
    shaft = abs(u) < 0.13 and -0.62 < v < 0.1
    head = -0.05 <= v < 0.45 and abs(u) < (0.45 - v) * 1.1
    tray = 0.55 < v < 0.7 and abs(u) < 0.55
    return shaft or head or tray


def gear(u, v):
    radius = (u * u + v * v) ** 0.5
    teeth = radius < 0.68 and math.cos(8 * math.atan2(v, u)) > 0.2
    return (0.22 < radius < 0.5) or (teeth and radius >= 0.45)


# Signs drawn whole rather than as a folder-coloured square: the alert's, and the driver run's stages.
BADGES = {
    "alert.png": ((0xF2, 0xA0, 0x1F), exclamation),
    "downloading-driver.png": ((0x2E, 0xB8, 0x72), download_arrow),
    "installing-driver.png": ((0x2E, 0xB8, 0x72), gear),
}


def pixels_for(path, width, height):
    name = path.rsplit("\\", 1)[-1]
    if name in BADGES:
        return badge_pixels(width, height, *BADGES[name])
    folder = path.split("\\", 1)[0]
    red, green, blue = COLOURS.get(folder, DEFAULT_COLOUR)
    pressed = "pressed" in name or "select" in name
    if pressed:
        red, green, blue = red * 3 // 4, green * 3 // 4, blue * 3 // 4
    rows = []
    radius = max(2, min(width, height) // 5)
    if name in ("preview-contacts.png", "content-contacts-list.png", "content-contacts-icloud.png"):
        radius = min(width, height) // 2  # round pictures
    for y in range(height):
        row = bytearray()
        for x in range(width):
            dx = max(radius - x, 0, x - (width - 1 - radius))
            dy = max(radius - y, 0, y - (height - 1 - radius))
            inside = dx * dx + dy * dy <= radius * radius
            if name == "content-check-no.png":
                # An empty box: a grey frame around white.
                frame = x in (0, width - 1) or y in (0, height - 1)
                row += bytes((0x99, 0x99, 0x99, 255)) if frame else bytes((255, 255, 255, 255))
            elif not inside:
                row += bytes((0, 0, 0, 0))
            elif width >= 12 and mark_for(name, x, y, width, height):
                row += bytes((255, 255, 255, 255))
            else:
                row += bytes((red, green, blue, 255))
        rows.append(bytes(row))
    return rows


def png_bytes(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icon_bytes(size):
    """A 32-bit BMP-format icon (works everywhere LoadImage works), drawn like a phone."""
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            body = size * 0.28 <= x <= size * 0.72 and size * 0.1 <= y <= size * 0.9
            screen = size * 0.33 <= x <= size * 0.67 and size * 0.18 <= y <= size * 0.76
            if screen:
                row += bytes((0xF5, 0xE6, 0xC8, 255))  # BGRA
            elif body:
                row += bytes((0x5A, 0x3A, 0x2A, 255))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    xor = b"".join(reversed(rows))  # bottom-up
    and_row = ((size + 31) // 32) * 4
    mask = bytes(and_row * size)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    out_dir = Path(argv[1])
    icon_path = Path(argv[2])
    pattern = re.compile(r'"([a-z][a-z0-9\-]*(?:\\\\[a-z0-9\-]+)*\\\\[a-z0-9\-]+\.(?:png|gif|bmp))"')
    paths = []
    for source in argv[3:]:
        for match in pattern.finditer(Path(source).read_text(encoding="utf-8")):
            path = match.group(1).replace("\\\\", "\\")
            if path not in paths:
                paths.append(path)
    for path in paths:
        width, height = size_for(path)
        target = out_dir.joinpath(*path.split("\\"))
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(png_bytes(width, height, pixels_for(path, width, height)))
    icon_path.parent.mkdir(parents=True, exist_ok=True)
    icon_path.write_bytes(icon_bytes(128))
    print(f"{len(paths)} theme images in {out_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
