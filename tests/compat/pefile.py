"""A reader of the parts of a PE image the compatibility checks need: the
section table, the import directory and the delay-load import directory.
Every field is read byte by byte at its offset; a table that runs outside the
file raises PeError naming what was being read."""

import struct


class PeError(Exception):
    pass


IMAGE_SCN_CNT_CODE = 0x00000020
IMAGE_SCN_MEM_EXECUTE = 0x20000000


class Section:
    def __init__(self, name, virtual_size, rva, raw_size, raw_offset, flags):
        self.name = name
        self.virtual_size = virtual_size
        self.rva = rva
        self.raw_size = raw_size
        self.raw_offset = raw_offset
        self.flags = flags

    @property
    def is_code(self):
        return bool(self.flags & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE))


class Import:
    """One imported function: by name (with its hint) or by ordinal."""

    def __init__(self, dll, name=None, ordinal=None, delayed=False):
        self.dll = dll
        self.name = name
        self.ordinal = ordinal
        self.delayed = delayed

    def __str__(self):
        what = self.name if self.name is not None else "#%d" % self.ordinal
        return "%s!%s%s" % (self.dll, what, " (delay-loaded)" if self.delayed else "")


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.path = path
        d = self.data
        if self._u16(0, "the MZ header") != 0x5A4D:
            raise PeError("%s: no MZ header" % path)
        pe = self._u32(0x3C, "the PE header offset")
        if d[pe:pe + 4] != b"PE\0\0":
            raise PeError("%s: no PE signature at 0x%x" % (path, pe))
        coff = pe + 4
        self.machine = self._u16(coff, "the machine")
        nsections = self._u16(coff + 2, "the section count")
        opt_size = self._u16(coff + 16, "the optional header size")
        opt = coff + 20
        magic = self._u16(opt, "the optional header magic")
        if magic == 0x10B:
            self.pe32_plus = False
            self.image_base = self._u32(opt + 28, "the image base")
            ndirs_at, dirs_at = opt + 92, opt + 96
        elif magic == 0x20B:
            self.pe32_plus = True
            self.image_base = self._u64(opt + 24, "the image base")
            ndirs_at, dirs_at = opt + 108, opt + 112
        else:
            raise PeError("%s: unknown optional header magic 0x%x" % (path, magic))
        ndirs = self._u32(ndirs_at, "the data directory count")
        self.directories = []
        for i in range(min(ndirs, 16)):
            self.directories.append((self._u32(dirs_at + 8 * i, "a data directory"),
                                     self._u32(dirs_at + 8 * i + 4, "a data directory")))
        self.sections = []
        table = opt + opt_size
        for i in range(nsections):
            at = table + 40 * i
            raw_name = self._bytes(at, 8, "a section name")
            name = raw_name.rstrip(b"\0").decode("latin-1")
            self.sections.append(Section(
                name,
                self._u32(at + 8, "a section size"),
                self._u32(at + 12, "a section address"),
                self._u32(at + 16, "a section raw size"),
                self._u32(at + 20, "a section raw offset"),
                self._u32(at + 36, "a section's flags")))

    # -- raw reads -----------------------------------------------------------
    def _bytes(self, offset, n, what):
        if offset < 0 or offset + n > len(self.data):
            raise PeError("%s: %s lies outside the file (offset 0x%x)" % (self.path, what, offset))
        return self.data[offset:offset + n]

    def _u16(self, offset, what):
        return struct.unpack_from("<H", self._bytes(offset, 2, what))[0]

    def _u32(self, offset, what):
        return struct.unpack_from("<I", self._bytes(offset, 4, what))[0]

    def _u64(self, offset, what):
        return struct.unpack_from("<Q", self._bytes(offset, 8, what))[0]

    def offset_of(self, rva, what):
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                delta = rva - s.rva
                if delta >= s.raw_size:
                    raise PeError("%s: %s (RVA 0x%x) has no bytes in the file" % (self.path, what, rva))
                return s.raw_offset + delta
        raise PeError("%s: %s (RVA 0x%x) lies in no section" % (self.path, what, rva))

    def _cstring(self, rva, what):
        at = self.offset_of(rva, what)
        end = self.data.find(b"\0", at)
        if end < 0:
            raise PeError("%s: %s is not terminated" % (self.path, what))
        return self.data[at:end].decode("latin-1")

    def section_bytes(self, section):
        n = min(section.virtual_size or section.raw_size, section.raw_size)
        return self._bytes(section.raw_offset, n, "the bytes of section " + section.name)

    # -- imports ---------------------------------------------------------------
    def _thunks(self, rva, dll, delayed, base=0):
        size = 8 if self.pe32_plus else 4
        flag = 1 << (63 if self.pe32_plus else 31)
        out = []
        while True:
            at = self.offset_of(rva, "an import thunk of " + dll)
            value = self._u64(at, "a thunk") if self.pe32_plus else self._u32(at, "a thunk")
            if value == 0:
                return out
            if value & flag:
                out.append(Import(dll, ordinal=value & 0xFFFF, delayed=delayed))
            else:
                hint_rva = (value & 0x7FFFFFFF) - base
                out.append(Import(dll, name=self._cstring(hint_rva + 2, "an import name of " + dll),
                                  delayed=delayed))
            rva += size

    def imports(self):
        """Every import of the image: the import directory, then the delay-load one."""
        out = []
        rva, size = self.directories[1] if len(self.directories) > 1 else (0, 0)
        if rva:
            at = rva
            while True:
                off = self.offset_of(at, "an import descriptor")
                fields = struct.unpack_from("<5I", self._bytes(off, 20, "an import descriptor"))
                if fields == (0, 0, 0, 0, 0):
                    break
                lookup, _, _, name_rva, iat = fields
                dll = self._cstring(name_rva, "an imported DLL name")
                out += self._thunks(lookup or iat, dll, False)
                at += 20
        rva, size = self.directories[13] if len(self.directories) > 13 else (0, 0)
        if rva:
            at = rva
            while True:
                off = self.offset_of(at, "a delay-load descriptor")
                fields = struct.unpack_from("<8I", self._bytes(off, 32, "a delay-load descriptor"))
                if not any(fields):
                    break
                attributes, name, _, iat, int_rva = fields[:5]
                # Attribute bit 0 clear: the old layout, with addresses instead of RVAs.
                base = 0 if attributes & 1 else self.image_base
                dll = self._cstring(name - base, "a delay-loaded DLL name")
                out += self._thunks((int_rva or iat) - base, dll, True, base)
                at += 32
        return out
