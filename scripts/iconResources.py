#!/usr/bin/python3
"""Splits an .ico file into raw icon resources for windres.

windres's ICON statement stores every image of the file again for each group
it makes; written as raw resources, several groups can name one set of images
(a group directory refers to its images by RT_ICON id), so each is stored once.

Writes into OUT_DIR:
  iconImages.rc   one raw RT_ICON resource per image, ids 1..N, in file order
  icon<ID>.bin    the images, as the .ico holds them
  iconGroup.bin   the RT_GROUP_ICON directory naming ids 1..N

Usage: /usr/bin/python3 scripts/iconResources.py ICON.ico OUT_DIR
Files are only rewritten when their bytes change, so builds stay incremental.
"""

import os
import struct
import sys

RT_ICON = 3


def readIco(data):
    """The 12-byte directory fields and the bytes of every image."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or count == 0:
        raise ValueError("not an icon file: reserved %d type %d count %d" % (reserved, kind, count))
    images = []
    for i in range(count):
        entry = data[6 + 16 * i:6 + 16 * i + 16]
        if len(entry) != 16:
            raise ValueError("directory cut short at entry %d" % i)
        size, offset = struct.unpack_from("<II", entry, 8)
        if offset + size > len(data):
            raise ValueError("image %d runs past the end of the file" % i)
        images.append((entry[:12], data[offset:offset + size]))
    return images


def groupDirectory(images):
    """GRPICONDIR: the .ico's directory with an RT_ICON id in place of each offset."""
    out = struct.pack("<HHH", 0, 1, len(images))
    for iconId, (fields, _) in enumerate(images, 1):
        out += fields + struct.pack("<H", iconId)
    return out


def writeIfChanged(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    ico, outDir = sys.argv[1], sys.argv[2]
    with open(ico, "rb") as f:
        try:
            images = readIco(f.read())
        except (ValueError, struct.error) as e:
            sys.stderr.write("%s: %s\n" % (ico, e))
            return 1
    os.makedirs(outDir, exist_ok=True)
    lines = ["// Written by scripts/iconResources.py from %s; do not edit.\n" % os.path.basename(ico)]
    for iconId, (_, image) in enumerate(images, 1):
        name = "icon%d.bin" % iconId
        writeIfChanged(os.path.join(outDir, name), image)
        lines.append('%d %d "%s"\n' % (iconId, RT_ICON, name))
    writeIfChanged(os.path.join(outDir, "iconImages.rc"), "".join(lines).encode("ascii"))
    writeIfChanged(os.path.join(outDir, "iconGroup.bin"), groupDirectory(images))
    return 0


if __name__ == "__main__":
    sys.exit(main())
