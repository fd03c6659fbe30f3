#!/usr/bin/env python3
"""What scripts/package gives wixl and msibuild besides the package's source,
and the one fix-up of what wixl writes.

  msi_tables.py guids VERSION ARCH        wixl's -D options for the GUIDs
  msi_tables.py rows LISTING ARCH         the Registry table (IDT) from what
                                          registry_rows listed
  msi_tables.py seal MSI EPOCH            the summary's times and package code

The upgrade codes are fixed, one a width: every version of a width replaces
the one before. The product and component codes come from the version, so a
new version is a new product whose components the old one never had (a major
upgrade removes the old one first). The package code comes from the package's
own bytes: the same sources give the same code, any change another.
"""
import hashlib
import struct
import sys
import uuid

UPGRADE_CODES = {
    "x64": "D4F4D0DE-C92D-4A92-BE4D-BC66479F15C9",
    "x86": "60BE7837-7213-4EF6-A355-32B6A925449A",
}
# Where the codes that come from the version are drawn from.
NAMESPACE = uuid.UUID("FB8ED460-DBDF-40D7-8776-7B6C852D0E8D")
COMPONENTS = ("Product", "CodecX64", "CodecX86", "Documents", "PlugIn")
# Which codec components each width's package has, each with its registry
# rows in its own view (Windows Installer writes a 32-bit component's rows in
# the 32-bit view).
CODECS = {"x64": ("CodecX64", "CodecX86"), "x86": ("CodecX86",)}
ROOTS = {"HKLM": 2}


def derived(what, version, arch):
    return str(uuid.uuid5(NAMESPACE, f"{what} {version} {arch}")).upper()


def guids(version, arch):
    print(f"-D UpgradeCode={UPGRADE_CODES[arch]}")
    for name in COMPONENTS:
        option = "ProductCode" if name == "Product" else name + "Guid"
        print(f"-D {option}={derived(name, version, arch)}")


def formatted(text):
    """Text as the Formatted type reads it: brackets stand for themselves."""
    return "".join({"[": "[\\[]", "]": "[\\]]"}.get(c, c) for c in text)


def value_of(kind, data, module, file_key):
    if kind == "dword":
        return "#%d" % struct.unpack("<i", struct.pack("<I", int(data)))[0]
    if kind == "binary":
        return "#x" + data
    if data == "" and kind in ("sz", "none"):
        # No value: the installer writes an empty text. It has no typeless
        # value; where one is written (OpenWithProgids' names), an empty text
        # is read the same.
        return ""
    if kind in ("sz", "expand_sz"):
        text = formatted(data).replace(formatted(module), "[#%s]" % file_key)
        if kind == "expand_sz":
            return "#%" + text
        return "#" + text if text.startswith("#") else text
    raise ValueError("a value of type " + kind)


def rows(listing, arch):
    module = None
    entries = []
    with open(listing, encoding="utf-8") as lines:
        for line in lines:
            field = line.rstrip("\r\n").split("\t")
            if field[0] == "module":
                module = field[1]
            elif field[1] not in ROOTS:
                sys.exit(f"msi_tables: the registration wrote under {field[1]}: {line.strip()}")
            else:
                entries.append(field)
    if module is None or not entries:
        sys.exit("msi_tables: the listing names no module, or no values")
    out = ["Registry\tRoot\tKey\tName\tValue\tComponent_", "s72\ti2\tl255\tL255\tL0\ts72",
           "Registry\tRegistry"]
    table = []
    for component in CODECS[arch]:
        for field in entries:
            try:
                if field[0] == "key":  # a key of ours that holds nothing: made and removed
                    name, value = "*", ""
                else:
                    name, value = formatted(field[3]), value_of(field[4], field[5], module, component)
            except ValueError as why:
                sys.exit(f"msi_tables: {why} at {field[2]} {field[3]!r}")
            key = formatted(field[2])
            ident = "r" + hashlib.sha256(f"{component}\t{key}\t{name}".encode()).hexdigest()[:32]
            table.append("\t".join((ident, str(ROOTS[field[1]]), key, name, value, component)))
    out += sorted(table)
    sys.stdout.buffer.write(("\r\n".join(out) + "\r\n").encode("ascii"))


class Compound:
    """The byte offsets of a stream in a compound file (the MSI's container)."""

    def __init__(self, data):
        self.data = data
        self.shift = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
        fat_sectors, directory, _, self.cutoff, minifat, _, _, difat_sectors = struct.unpack_from(
            "<8I", data, 0x2C)
        if difat_sectors != 0:
            raise ValueError("a FAT too long for this reader")
        self.fat = []
        for sector in struct.unpack_from("<%dI" % fat_sectors, data, 0x4C):
            self.fat += struct.unpack_from("<%dI" % (self.shift // 4), data, self.offset(sector))
        self.minifat = []
        for sector in self.chain(minifat):
            self.minifat += struct.unpack_from("<%dI" % (self.shift // 4), data, self.offset(sector))
        self.entries = []
        for sector in self.chain(directory):
            for at in range(self.offset(sector), self.offset(sector) + self.shift, 128):
                length = struct.unpack_from("<H", data, at + 64)[0]
                name = data[at:at + max(length - 2, 0)].decode("utf-16-le")
                start, size = struct.unpack_from("<IQ", data, at + 116)
                self.entries.append((name, start, size & 0xFFFFFFFF))
        self.root_chain = list(self.chain(self.entries[0][1]))

    def offset(self, sector):
        return (sector + 1) * self.shift

    def chain(self, sector, table=None):
        table = self.fat if table is None else table
        while sector < 0xFFFFFFFA:
            yield sector
            sector = table[sector]

    def stream(self, name):
        """Each byte's offset in the file, in the stream's order."""
        start, size = next((s, n) for e, s, n in self.entries if e == name)
        places = []
        if size < self.cutoff:
            for mini in self.chain(start, self.minifat):
                at = mini * self.mini
                sector = self.root_chain[at // self.shift]
                base = self.offset(sector) + at % self.shift
                places += range(base, base + self.mini)
        else:
            for sector in self.chain(start):
                places += range(self.offset(sector), self.offset(sector) + self.shift)
        return places[:size]


def seal(path, epoch):
    """The creation and saving times become the commit's, and the package code
    is drawn from the bytes with those times: wixl writes the time of the
    build and a random code."""
    data = bytearray(open(path, "rb").read())
    places = Compound(data).stream("\x05SummaryInformation")
    summary = bytes(data[i] for i in places)
    section = struct.unpack_from("<I", summary, 44)[0]
    count = struct.unpack_from("<I", summary, section + 4)[0]
    properties = dict(struct.unpack_from("<%dI" % (2 * count), summary, section + 8)[i:i + 2]
                      for i in range(0, 2 * count, 2))

    def put(pid, kind, payload):
        at = section + properties[pid]
        have_kind, = struct.unpack_from("<I", summary, at)
        if have_kind != kind:
            sys.exit(f"msi_tables: summary property {pid} is of type {have_kind}")
        if kind == 30:  # VT_LPSTR: its length, NUL included, then the text
            length, = struct.unpack_from("<I", summary, at + 4)
            if length != len(payload) + 1:
                sys.exit(f"msi_tables: summary property {pid} is {length} bytes long")
            at += 4
        for i, byte in enumerate(payload):
            data[places[at + 4 + i]] = byte

    filetime = (int(epoch) + 11644473600) * 10000000  # 100 ns from 1601
    for pid in (12, 13):  # created, last saved
        put(pid, 64, struct.pack("<Q", filetime))
    put(9, 30, b"{00000000-0000-0000-0000-000000000000}")
    code = uuid.UUID(bytes=hashlib.sha256(data).digest()[:16], version=4)
    put(9, 30, ("{%s}" % str(code).upper()).encode("ascii"))
    open(path, "wb").write(data)


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "guids" and len(sys.argv) == 4:
        guids(sys.argv[2], sys.argv[3])
    elif command == "rows" and len(sys.argv) == 4:
        rows(sys.argv[2], sys.argv[3])
    elif command == "seal" and len(sys.argv) == 4:
        seal(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
