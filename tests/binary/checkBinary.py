#!/usr/bin/python3
"""Checks a built RestartPrompt exe: PE kind, hardening, imports and resources.

Usage: /usr/bin/python3 tests/binary/checkBinary.py PROGRAM.exe --machine i386|amd64

Prints one PASS/FAIL line per check and exits 1 if any check failed.
The resources are decoded from their bytes and compared with the tables
below, so a resource compiler that adds style bits or mangles the text
encoding is caught here and not on screen.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_ICON = 3
RT_DIALOG = 5
RT_STRING = 6
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

EXPECTED_RESOURCE_TYPES = {RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST}

MACHINES = {
    # --machine: (FILE_HEADER.Machine, OPTIONAL_HEADER.Magic, description)
    "i386": (0x014C, 0x10B, "PE32 i386"),
    "amd64": (0x8664, 0x20B, "PE32+ amd64"),
}
SUBSYSTEM_WINDOWS_GUI = 2

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
DLLCHARACTERISTICS_NX_COMPAT = 0x0100
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
BASERELOC_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]

# The system's own DLLs; anything else would have to ship with the program.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}

DIALOG_ID = 129
DIALOG_LANGUAGE = 0x0800  # LANG_NEUTRAL, SUBLANG_SYS_DEFAULT
DS_SETFONT = 0x40
DS_SHELLFONT = 0x48

DIALOG_HEADER = {
    "dlgVer": 1,
    "signature": 0xFFFF,
    "helpID": 0,
    "exStyle": 0x00000008,
    "style": 0x00C00AC0,
    "cDlgItems": 4,
    "rect": (0, 0, 322, 77),
    "menu": "",
    "windowClass": "",
    "title": "Quenlor Velmora Update Complete",
    "pointsize": 8,
    "weight": 400,
    "italic": 0,
    "charset": 0,
    "typeface": "MS Sans Serif",
}

BUTTON, STATIC, COMBOBOX = 0x80, 0x82, 0x85

# Controls in template order: id, class ordinal, text, style, rectangle.
# Every control also has helpID 0, exStyle 0 and no creation data.
DIALOG_CONTROLS = [
    (128, BUTTON, "Restart later", 0x50010001, (132, 56, 94, 14)),
    (1002, BUTTON, "Restart Now", 0x50010000, (232, 56, 83, 14)),
    (1000, COMBOBOX, "", 0x50210003, (7, 58, 110, 82)),
    (1001, STATIC,
     "Your computer has been updated with the latest security updates from Microsoft."
     "  In order to complete the update process, you must restart your computer. ",
     0x50020000, (7, 7, 308, 46)),
]

STRING_LANGUAGE = 1033  # LANG_ENGLISH, SUBLANG_ENGLISH_US

STRINGS = {
    104: "The installation has finished. In order to complete the process, you must restart your computer."
         "\nPlease save changes to any open documents before continuing.",
    105: "L'installation est termin\u00e9e. Pour compl\u00e9ter le processus, vous devez red\u00e9marrer votre PC."
         "\nMerci de sauvegarder tous les documents ouverts avant de continuer.",
    108: "Die Installation ist beendet. Zur Fertigstellung m\u00fcssen Sie Ihren Computer neu starten."
         "\nBitte speichern Sie Ihre offenen Dokumente.",
    112: "Quenlor Software",
    113: "Quenlor Software",
    114: "Quenlor Software",
    119: "Neuladen Sp\u00e4ter",
    120: "Restart Later",
    121: "Diff\u00e9rer",
    126: "Neuladen Jetzt",
    127: "Restart Now",
    128: "Red\u00e9marrer Maintenant",
}

ICON_GROUPS = [107, 108]
# (pixels square, bits per pixel) of the images in each group.
ICON_IMAGES = sorted([(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)])

# Manifest elements that would ask the system for something.
FORBIDDEN_MANIFEST_ELEMENTS = {"dependency", "trustInfo", "requestedExecutionLevel", "compatibility"}

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

failures = 0


def report(name, ok, detail="", always=False):
    """One result line; `detail` is shown for failures, or always if asked."""
    global failures
    if not ok:
        failures += 1
    shown = detail and (always or not ok)
    print("%s %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if shown else ""))


def resourceEntries(pe):
    """(type, name, language, bytes) for every resource of the image."""
    out = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return out
    for typeEntry in root.entries:
        typeKey = typeEntry.id if typeEntry.id is not None else str(typeEntry.name)
        for nameEntry in typeEntry.directory.entries:
            nameKey = nameEntry.id if nameEntry.id is not None else str(nameEntry.name)
            for langEntry in nameEntry.directory.entries:
                s = langEntry.data.struct
                out.append((typeKey, nameKey, langEntry.id, pe.get_data(s.OffsetToData, s.Size)))
    return out


def ofType(resources, rtype):
    return [(name, lang, data) for t, name, lang, data in resources if t == rtype]


# --- PE kind and imports -------------------------------------------------

def checkHeaders(pe, machine):
    wantMachine, wantMagic, what = MACHINES[machine]
    got = (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic)
    report("image is " + what, got == (wantMachine, wantMagic),
           "machine 0x%04X magic 0x%03X" % got, always=True)
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    report("GUI subsystem", subsystem == SUBSYSTEM_WINDOWS_GUI, "subsystem %d" % subsystem)


def checkHardening(pe, machine):
    """ASLR that can take effect, DEP, and no page both writable and executable."""
    dll = pe.OPTIONAL_HEADER.DllCharacteristics
    relocs = pe.OPTIONAL_HEADER.DATA_DIRECTORY[BASERELOC_DIRECTORY]
    stripped = pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED
    # Without relocations the loader cannot move the image, whatever the flag says.
    report("ASLR: DYNAMIC_BASE with relocations",
           dll & DLLCHARACTERISTICS_DYNAMIC_BASE and relocs.Size > 0 and not stripped,
           "DllCharacteristics 0x%04X, relocation directory %d bytes, RELOCS_STRIPPED %s"
           % (dll, relocs.Size, bool(stripped)))
    report("DEP: NX_COMPAT", dll & DLLCHARACTERISTICS_NX_COMPAT, "DllCharacteristics 0x%04X" % dll)
    if machine == "amd64":
        report("HIGH_ENTROPY_VA", dll & DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "DllCharacteristics 0x%04X" % dll)
    both = [s.Name.rstrip(b"\0").decode("ascii", "replace") for s in pe.sections
            if s.Characteristics & SCN_MEM_WRITE and s.Characteristics & SCN_MEM_EXECUTE]
    report("no section both writable and executable", not both, "found " + ", ".join(both))


def checkImports(pe):
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"],
    ])
    dlls = [e.dll.decode("ascii", "replace") for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    dlls += [e.dll.decode("ascii", "replace") for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    foreign = [d for d in dlls if d.lower() not in ALLOWED_DLLS]
    report("imports only system DLLs", not foreign,
           ("unexpected: " + ", ".join(foreign)) if foreign else ", ".join(dlls), always=True)


# --- Dialog template -----------------------------------------------------

def readSzOrOrd(data, pos):
    """A sz_Or_Ord field: '' (none), an int (ordinal) or a string."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0x0000:
        return "", pos + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    return readSz(data, pos)


def readSz(data, pos):
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def decodeDialogEx(data):
    """Header fields and control list of a DLGTEMPLATEEX."""
    h = {}
    (h["dlgVer"], h["signature"], h["helpID"], h["exStyle"], h["style"], h["cDlgItems"],
     x, y, cx, cy) = struct.unpack_from("<HHIIIHhhhh", data, 0)
    h["rect"] = (x, y, cx, cy)
    pos = 26
    h["menu"], pos = readSzOrOrd(data, pos)
    h["windowClass"], pos = readSzOrOrd(data, pos)
    h["title"], pos = readSz(data, pos)
    if h["style"] & DS_SETFONT or h["style"] & DS_SHELLFONT == DS_SHELLFONT:
        h["pointsize"], h["weight"], h["italic"], h["charset"] = struct.unpack_from("<HHBB", data, pos)
        h["typeface"], pos = readSz(data, pos + 6)
    controls = []
    for _ in range(h["cDlgItems"]):
        pos = (pos + 3) & ~3
        c = {}
        c["helpID"], c["exStyle"], c["style"], x, y, cx, cy, c["id"] = struct.unpack_from("<IIIhhhhI", data, pos)
        c["rect"] = (x, y, cx, cy)
        pos += 24
        c["class"], pos = readSzOrOrd(data, pos)
        c["text"], pos = readSzOrOrd(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        c["extraCount"] = extra
        pos += 2 + extra
        controls.append(c)
    return h, controls, data[pos:]


def checkDialog(resources):
    dialogs = ofType(resources, RT_DIALOG)
    keys = sorted((name, lang) for name, lang, _ in dialogs)
    report("dialog %d only, in language 0x%04X" % (DIALOG_ID, DIALOG_LANGUAGE),
           keys == [(DIALOG_ID, DIALOG_LANGUAGE)], "found " + ", ".join("%s/0x%04X" % k for k in keys))
    found = [data for name, lang, data in dialogs if (name, lang) == (DIALOG_ID, DIALOG_LANGUAGE)]
    if not found:
        report("dialog template decodes", False, "missing")
        return
    try:
        header, controls, rest = decodeDialogEx(found[0])
    except (struct.error, UnicodeDecodeError) as e:
        report("dialog template decodes", False, str(e))
        return
    report("dialog template has nothing after its controls", not rest.strip(b"\0"),
           "%d stray bytes" % len(rest.strip(b"\0")))

    wrong = ["%s %r, want %r" % (k, header.get(k), v) for k, v in DIALOG_HEADER.items() if header.get(k) != v]
    report("dialog header", not wrong, "; ".join(wrong))

    for order, (cid, cls, text, style, rect) in enumerate(DIALOG_CONTROLS, 1):
        name = "dialog control %d (id %d)" % (order, cid)
        if order > len(controls):
            report(name, False, "missing")
            continue
        want = {"id": cid, "class": cls, "text": text, "style": style, "rect": rect,
                "helpID": 0, "exStyle": 0, "extraCount": 0}
        got = controls[order - 1]
        wrong = []
        for k, v in want.items():
            if got[k] != v:
                fmt = "%s 0x%08X, want 0x%08X" if k in ("style", "exStyle") and isinstance(got[k], int) else "%s %r, want %r"
                wrong.append(fmt % (k, got[k], v))
        report(name, not wrong, "; ".join(wrong))


# --- String table --------------------------------------------------------

def decodeStringBlock(blockId, data):
    """{string id: text} of one RT_STRING block; raises on a short block."""
    out = {}
    pos = 0
    for i in range(16):
        length = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if pos + 2 * length > len(data):
            raise ValueError("block %d: string %d runs past the end" % (blockId, i))
        if length:
            out[(blockId - 1) * 16 + i] = data[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
    return out


def checkStrings(resources):
    blocks = ofType(resources, RT_STRING)
    languages = sorted({lang for _, lang, _ in blocks})
    report("string table only in language %d" % STRING_LANGUAGE, languages == [STRING_LANGUAGE],
           "languages " + ", ".join(str(l) for l in languages))
    strings = {}
    for blockId, lang, data in blocks:
        if lang != STRING_LANGUAGE:
            continue
        try:
            strings.update(decodeStringBlock(blockId, data))
        except (ValueError, UnicodeDecodeError) as e:
            report("string block %d decodes" % blockId, False, str(e))
    extra = sorted(set(strings) - set(STRINGS))
    report("no strings besides the expected rows", not extra, "extra ids " + ", ".join(map(str, extra)))
    for sid, text in STRINGS.items():
        got = strings.get(sid)
        report("string %d" % sid, got == text,
               "missing" if got is None else ("got %r" % got if got != text else ""))


# --- Icons ---------------------------------------------------------------

def iconImageFormat(data):
    """(width, height, bits) from the image's own header, or an error text."""
    if data.startswith(PNG_SIGNATURE):
        width, height, depth, colourType = struct.unpack_from(">IIBB", data, 16)
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colourType, 0)
        return width, height, depth * channels
    if len(data) < 40:
        return "header cut short"
    (size, width, height, planes, bits, compression, _, _, _, clrUsed, _) = struct.unpack_from("<IiiHHIIiiII", data, 0)
    if size != 40 or planes != 1 or compression != 0:
        return "biSize %d biPlanes %d biCompression %d" % (size, planes, compression)
    colours = (clrUsed or (1 << bits)) if bits <= 8 else clrUsed
    xorBytes = ((width * bits + 31) // 32) * 4 * (height // 2)
    andBytes = ((width + 31) // 32) * 4 * (height // 2)
    if 40 + 4 * colours + xorBytes + andBytes != len(data):
        return "%d bytes, header implies %d" % (len(data), 40 + 4 * colours + xorBytes + andBytes)
    return width, height // 2, bits


def checkIcons(resources):
    icons = {}
    for name, _, data in ofType(resources, RT_ICON):
        icons.setdefault(name, data)
    storedIcons = ofType(resources, RT_ICON)
    referenced = {}
    groups = ofType(resources, RT_GROUP_ICON)
    found = sorted(name for name, _, _ in groups)
    report("icon groups %s" % ICON_GROUPS, found == ICON_GROUPS, "found %s" % found)
    contents = {}
    for gid in ICON_GROUPS:
        datas = [data for name, _, data in groups if name == gid]
        name = "icon group %d" % gid
        if len(datas) != 1:
            report(name, False, "%d language versions" % len(datas))
            continue
        data = datas[0]
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        if reserved != 0 or kind != 1 or len(data) != 6 + 14 * count:
            report(name, False, "bad GRPICONDIR: reserved %d type %d count %d size %d"
                   % (reserved, kind, count, len(data)))
            continue
        images, problems = [], []
        for i in range(count):
            w, h, colourCount, _, planes, bits, size, iconId = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
            w, h = w or 256, h or 256
            images.append((w, h, bits))
            wantColours = 1 << bits if bits < 8 else 0
            if planes != 1 or colourCount != wantColours:
                problems.append("entry %d: planes %d colours %d" % (i, planes, colourCount))
            referenced.setdefault(gid, []).append(iconId)
            image = icons.get(iconId)
            if image is None:
                problems.append("entry %d: icon %d missing" % (i, iconId))
                continue
            if len(image) != size:
                problems.append("entry %d: %d bytes, directory says %d" % (i, len(image), size))
            own = iconImageFormat(image)
            if own != (w, h, bits):
                problems.append("entry %d: directory %dx%d %d-bit, image %s" % (i, w, h, bits, own))
            contents.setdefault(gid, []).append(((w, bits), image))
        gotImages = sorted((w, bits) for w, h, bits in images if w == h)
        if len(gotImages) != len(images) or gotImages != ICON_IMAGES:
            problems.append("images %s, want %s" % (sorted(images), ICON_IMAGES))
        report(name, not problems, "; ".join(problems))
    if len(contents) == len(ICON_GROUPS):
        first, second = (sorted(contents[g]) for g in ICON_GROUPS)
        report("icon groups hold the same images", first == second)
    # Both groups name one set of images: each image is stored once.
    if len(referenced) == len(ICON_GROUPS):
        first, second = (referenced[g] for g in ICON_GROUPS)
        report("icon groups name the same icon ids", first == second, "%s and %s" % (first, second))
    used = {i for ids in referenced.values() for i in ids}
    stored = sorted(name for name, _, _ in storedIcons)
    datas = [data for _, _, data in storedIcons]
    problems = []
    if stored != sorted(used):
        problems.append("stored ids %s, named by the groups %s" % (stored, sorted(used)))
    if len(set(datas)) != len(datas):
        problems.append("%d images, %d distinct" % (len(datas), len(set(datas))))
    report("each icon image stored once", not problems, "; ".join(problems))


# --- Manifest and version ------------------------------------------------

def checkManifest(resources):
    manifests = ofType(resources, RT_MANIFEST)
    report("exactly one manifest, id 1", [name for name, _, _ in manifests] == [1],
           "found %s" % [(name, lang) for name, lang, _ in manifests])
    if not manifests:
        return
    try:
        root = ElementTree.fromstring(manifests[0][2])
    except ElementTree.ParseError as e:
        report("manifest is well-formed XML", False, str(e))
        return
    report("manifest is an asm.v1 assembly",
           root.tag == "{urn:schemas-microsoft-com:asm.v1}assembly" and root.get("manifestVersion") == "1.0",
           "root %s manifestVersion %s" % (root.tag, root.get("manifestVersion")))
    asked = sorted({e.tag.split("}")[-1] for e in root.iter()} & FORBIDDEN_MANIFEST_ELEMENTS)
    report("manifest asks for nothing", not asked, "has " + ", ".join(asked))


def checkResourceTypes(resources):
    types = {t for t, _, _, _ in resources}
    report("no version resource", RT_VERSION not in types)
    unexpected = sorted(map(str, types - EXPECTED_RESOURCE_TYPES))
    report("no unexpected resource types", not unexpected, "found " + ", ".join(unexpected))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    try:
        pe = pefile.PE(args.exe, fast_load=True)
    except (OSError, pefile.PEFormatError) as e:
        report("image loads", False, str(e))
        return 1
    checkHeaders(pe, args.machine)
    pe.parse_data_directories(directories=[BASERELOC_DIRECTORY])
    checkHardening(pe, args.machine)
    checkImports(pe)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    resources = resourceEntries(pe)
    checkResourceTypes(resources)
    checkDialog(resources)
    checkStrings(resources)
    checkIcons(resources)
    checkManifest(resources)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
