"""What a setup program file is, read from its bytes: a Windows x86-64
executable or not, the version its version resource names, whether it
carries an Authenticode signature, and whether it is an installer of ours
(which carries its trusted keys) rather than a setup program."""
import struct

import trusted_keys

_MACHINE_AMD64 = 0x8664
_PE32_PLUS = 0x20B
_DLL = 0x2000
_EXECUTABLE = 0x0002
_RT_VERSION = 16
_FIXED_INFO_SIGNATURE = b"\xbd\x04\xef\xfe"


class NotAProgram(Exception):
    """Not a Windows x86-64 executable; the text says what it is instead."""


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


class Program:
    def __init__(self, data):
        self.data = data
        try:
            self._read_headers()
        except struct.error:
            raise NotAProgram("its headers are cut short") from None

    def _read_headers(self):
        data = self.data
        if data[:2] != b"MZ":
            raise NotAProgram("it does not start as a Windows program does (\"MZ\")")
        pe = _u32(data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotAProgram("it has no PE header")
        machine = _u16(data, pe + 4)
        if machine != _MACHINE_AMD64:
            raise NotAProgram("it is built for machine 0x%04x, not x86-64 (0x8664)" % machine)
        characteristics = _u16(data, pe + 22)
        if not characteristics & _EXECUTABLE or characteristics & _DLL:
            raise NotAProgram("it is a library or an object file, not a program")
        optional = pe + 24
        if _u16(data, optional) != _PE32_PLUS:
            raise NotAProgram("its optional header is not PE32+")
        directories = optional + 112
        self.resources_rva = _u32(data, directories + 2 * 8)
        security_offset, security_size = struct.unpack_from("<II", data, directories + 4 * 8)
        self.signed = security_size > 0 and security_offset + security_size <= len(data)
        count = _u16(data, pe + 6)
        table = optional + _u16(data, pe + 20)
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(count)]

    def _offset(self, rva):
        for virtual_size, address, raw_size, raw_pointer in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_pointer + rva - address
        raise struct.error("address outside every section")

    def version(self):
        """The product version of the version resource as (a, b, c, d), or None."""
        if not self.resources_rva:
            return None
        try:
            base = self._offset(self.resources_rva)
            entry = self._entry(base, base, _RT_VERSION)
            for _ in range(2):  # name, then language: the first of each
                if entry is None or not entry & 0x80000000:
                    return None
                entry = self._entry(base, base + (entry & 0x7FFFFFFF), None)
            if entry is None or entry & 0x80000000:
                return None
            rva, size = struct.unpack_from("<II", self.data, base + entry)
            start = self._offset(rva)
            block = self.data[start:start + size]
        except struct.error:
            return None
        fixed = block.find(_FIXED_INFO_SIGNATURE)
        if fixed < 0 or fixed + 24 > len(block):
            return None
        ms, ls = struct.unpack_from("<II", block, fixed + 16)  # dwProductVersionMS, LS
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    def _entry(self, base, directory, wanted):
        """The OffsetToData of the entry with id `wanted` (None: the first entry)."""
        named, ids = _u16(self.data, directory + 12), _u16(self.data, directory + 14)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        return None

    def is_our_installer(self):
        return trusted_keys.MARKER in self.data


def version_tuple(text):
    """A dotted version of up to four parts as four numbers, for comparing
    with a version resource (the version's form is the installer's to judge)."""
    parts = [int(p) for p in text.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))
