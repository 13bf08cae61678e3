"""A small reader of PE files: headers, sections, resources and imports.

Used by the checks of the built setup executables. Standard library only.
"""

import struct


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ signature")
        self.nt = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.nt:self.nt + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, self.section_count, _, _, _, self.optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, self.nt + 4)
        self.optional = self.nt + 24
        self.magic = struct.unpack_from("<H", data, self.optional)[0]
        if self.magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header magic 0x%x" % self.magic)
        pe32 = self.magic == 0x10B
        self.checksum_offset = self.optional + 64
        self.checksum = struct.unpack_from("<I", data, self.checksum_offset)[0]
        self.subsystem = struct.unpack_from("<H", data, self.optional + 68)[0]
        self.image_size = struct.unpack_from("<I", data, self.optional + 56)[0]
        dirs = self.optional + (96 if pe32 else 112)
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        sections = self.optional + self.optional_size
        self.sections = []
        for i in range(self.section_count):
            name, vsize, va, raw_size, raw_ptr = struct.unpack_from(
                "<8sIIII", data, sections + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), vsize, va, raw_size,
                                  raw_ptr))

    def offset_of(self, rva: int) -> int:
        for _, vsize, va, raw_size, raw_ptr in self.sections:
            if va <= rva < va + max(vsize, raw_size):
                return raw_ptr + (rva - va)
        raise PeError("RVA 0x%x is in no section" % rva)

    def c_string(self, offset: int) -> bytes:
        end = self.data.index(b"\0", offset)
        return self.data[offset:end]

    # Resources: {(type, name, language): (file offset, size)}; string
    # identifiers come back as str, numeric ones as int.
    def resources(self):
        rva, size = self.directories[2]
        if rva == 0:
            return {}
        base = self.offset_of(rva)
        found = {}

        def entries(table):
            named, numbered = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, table + 16 + 8 * i)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = ident
                yield key, target

        for type_key, type_target in entries(base):
            for name_key, name_target in entries(base + (type_target & 0x7FFFFFFF)):
                for lang_key, lang_target in entries(base + (name_target & 0x7FFFFFFF)):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + lang_target)
                    found[(type_key, name_key, lang_key)] = (self.offset_of(data_rva), data_size)
        return found

    def imported_functions(self):
        """{dll name (lower case): [function names imported by name]}."""
        rva, _ = self.directories[1]
        found = {}
        if rva == 0:
            return found
        pe32 = self.magic == 0x10B
        entry_size, ordinal_flag = (4, 0x80000000) if pe32 else (8, 0x8000000000000000)
        at = self.offset_of(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0 and thunk == 0:
                break
            dll = self.c_string(self.offset_of(name_rva)).decode("latin-1").lower()
            names = found.setdefault(dll, [])
            table = self.offset_of(lookup or thunk)
            while True:
                value = struct.unpack_from("<I" if pe32 else "<Q", self.data, table)[0]
                if value == 0:
                    break
                if not value & ordinal_flag:
                    names.append(self.c_string(self.offset_of(value & 0x7FFFFFFF) + 2)
                                 .decode("latin-1"))
                table += entry_size
            at += 20
        return found

    def imported_dlls(self):
        rva, _ = self.directories[1]
        if rva == 0:
            return []
        at = self.offset_of(rva)
        names = []
        while True:
            _, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0 and thunk == 0:
                break
            names.append(self.c_string(self.offset_of(name_rva)).decode("latin-1"))
            at += 20
        return names


def image_checksum(data: bytes, checksum_offset: int) -> int:
    """The PE image checksum, computed independently of the C++ one: 16-bit
    words with end-around carry, the CheckSum field counted as zero, plus the
    file length."""
    import array
    body = bytearray(data)
    body[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(body) % 2:
        body.append(0)
    words = array.array("H")
    words.frombytes(bytes(body))
    if array.array("H", [1]).tobytes() != b"\x01\x00":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF
