#!/usr/bin/env python3
"""What scripts/package gives wixl and msibuild besides the package's source,
and the one fix-up of what wixl writes.

  msi_tables.py guids VERSION ARCH        wixl's -D options for the GUIDs
  msi_tables.py tables LISTING ARCH VERSION DIR
                                          the registry's tables (IDT) and the
                                          queries that add their components,
                                          from what registry_rows listed
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
    "arm64": "0F3C5E0B-7A51-4C8E-9D26-3B8E41A7C2F4",
}
# Where the codes that come from the version are drawn from.
NAMESPACE = uuid.UUID("FB8ED460-DBDF-40D7-8776-7B6C852D0E8D")
COMPONENTS = ("Product", "CodecX64", "CodecX86", "CodecArm64", "Documents", "PlugIn")
# Each package's codec components, native first, each with its folder and
# whether it is 64-bit; Windows Installer writes a component's registry rows
# in its own view. The rows that both widths share go in one component of
# the native view (Windows 7 and later keep the classes but CLSID, and the
# kind map, as one key for both views).
CODECS = {
    "x64": (("CodecX64", "INSTALLDIR", True), ("CodecX86", "INSTALLDIR32", False)),
    "x86": (("CodecX86", "INSTALLDIR", False),),
    "arm64": (("CodecArm64", "INSTALLDIR", True), ("CodecX86", "INSTALLDIR32", False)),
}
SHARED = "Shared"
ROOTS = {"HKLM": 2}
# The keys that each width has in its own view.
ONE_EACH = ("software\\classes\\clsid\\", "software\\microsoft\\windows\\currentversion\\propertysystem\\")
# Component attributes: the key path is a registry row; a 64-bit component.
REGISTRY_KEY_PATH, COMPONENT_64BIT = 4, 256
# RegLocator's types: the raw value; in the 64-bit view.
RAW_VALUE, LOCATOR_64BIT = 2, 16


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


def tables(listing, arch, version, out):
    """The Registry, RegLocator and AppSearch tables (IDT) and the queries that
    add the components they need, into the folder out. A value that another
    program may own is its own component, installed only where AppSearch
    found none or ours (an upgrade finds the old version's): where another
    program's stands, the package neither writes nor removes it."""
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
    native = CODECS[arch][0]
    registry, locators, searches, queries = [], [], [], []

    def component(name, directory, wide, key_path, condition=None):
        attributes = REGISTRY_KEY_PATH | (COMPONENT_64BIT if wide else 0)
        columns = "Component, ComponentId, Directory_, Attributes, KeyPath"
        values = f"'{name}', '{{{derived(name, version, arch)}}}', '{directory}', {attributes}, '{key_path}'"
        if condition:
            columns += ", Condition"
            values += f", '{condition}'"
        queries.append(f"INSERT INTO Component ({columns}) VALUES ({values})")
        queries.append(f"INSERT INTO FeatureComponents (Feature_, Component_) VALUES ('Codec', '{name}')")

    key_paths = {}
    for field in entries:
        one_each = field[2].lower().startswith(ONE_EACH)
        for owner, directory, wide in CODECS[arch] if one_each else ((SHARED,) + native[1:],):
            try:
                if field[0] == "key":  # a key of ours that holds nothing: made and removed
                    name, value = "*", ""
                else:
                    name, value = formatted(field[3]), value_of(field[4], field[5], module, owner)
            except ValueError as why:
                sys.exit(f"msi_tables: {why} at {field[2]} {field[3]!r}")
            key = formatted(field[2])
            digest = hashlib.sha256(f"{owner}\t{key}\t{name}".encode()).hexdigest()
            ident = "r" + digest[:32]
            others = field[0] == "value" and field[6:] == ["others"]
            if others:
                if field[4] != "sz" or field[5].startswith("#") or '"' in field[5] or "'" in field[5]:
                    sys.exit(f"msi_tables: no condition can compare {field[2]} {field[3]!r}")
                found = "WPP_HAD_" + digest[:12].upper()
                locators.append("\t".join((found, "2", field[2], field[3],
                                           str(RAW_VALUE | (LOCATOR_64BIT if wide else 0)))))
                searches.append(found + "\t" + found)
                # Absent, or ours: the condition counts only at the first install.
                component(f"{owner}.{digest[:8]}", directory, wide, ident,
                          f'NOT {found} OR {found} = "{field[5]}"')
                owner = f"{owner}.{digest[:8]}"
            else:
                key_paths.setdefault(owner, (ident, directory, wide))
            registry.append("\t".join((ident, str(ROOTS[field[1]]), key, name, value, owner)))
    for owner, (ident, directory, wide) in key_paths.items():
        if owner == SHARED:
            component(owner, directory, wide, ident)
    heads = {
        "Registry": ["Registry\tRoot\tKey\tName\tValue\tComponent_", "s72\ti2\tl255\tL255\tL0\ts72",
                     "Registry\tRegistry"],
        "RegLocator": ["Signature_\tRoot\tKey\tName\tType", "s72\ti2\ts255\tS255\tI2",
                       "RegLocator\tSignature_"],
        "AppSearch": ["Property\tSignature_", "s72\ts72", "AppSearch\tProperty\tSignature_"],
    }
    for table, rows_ in (("Registry", registry), ("RegLocator", locators), ("AppSearch", searches)):
        with open(f"{out}/{table}.idt", "wb") as idt:
            idt.write(("\r\n".join(heads[table] + sorted(rows_)) + "\r\n").encode("ascii"))
    with open(f"{out}/queries", "w", encoding="ascii") as lines:
        lines.write("\n".join(queries) + "\n")


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
    elif command == "tables" and len(sys.argv) == 6:
        tables(*sys.argv[2:6])
    elif command == "seal" and len(sys.argv) == 4:
        seal(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
