"""Reads the typing records exported by a built orvath library.

Each record is a defined dynamic symbol named orvath_typing_1_<id> whose data
is a 32-bit little-endian byte count followed by that many bytes of UTF-8 JSON.
The symbols are found by reading the ELF dynamic symbol table; the data is read
from the file (no import, no loading).
"""
import json
import struct

PREFIX = "orvath_typing_1_"


def dynamic_symbols(path):
    """{name: (address, size)} of the defined dynamic symbols of an ELF64 LE file."""
    with open(path, "rb") as fh:
        data = fh.read()
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise ValueError(f"{path}: not a 64-bit little-endian ELF file")
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    symbols = {}
    for sh in sections:
        if sh[1] != 11:  # SHT_DYNSYM
            continue
        strtab = sections[sh[6]]
        for off in range(sh[4], sh[4] + sh[5], sh[9]):
            st_name, _info, _other, shndx, value, size = struct.unpack_from("<IBBHQQ", data, off)
            if shndx == 0:
                continue
            start = strtab[4] + st_name
            name = data[start:data.index(b"\0", start)].decode()
            symbols[name] = (value, size)
    return symbols


def file_offset(data, address):
    """Maps a virtual address to a file offset through the program headers."""
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    for i in range(phnum):
        p_type, _flags, p_offset, p_vaddr, _paddr, p_filesz, _memsz, _align = struct.unpack_from(
            "<IIQQQQQQ", data, phoff + i * phentsize)
        if p_type == 1 and p_vaddr <= address < p_vaddr + p_filesz:
            return address - p_vaddr + p_offset
    raise ValueError(f"address {address:#x} is not in a loaded segment")


def read_records(path):
    """{symbol name: record dict} for every typing record of the library."""
    with open(path, "rb") as fh:
        data = fh.read()
    records = {}
    for name, (address, size) in dynamic_symbols(path).items():
        if not name.startswith(PREFIX):
            continue
        off = file_offset(data, address)
        length, = struct.unpack_from("<I", data, off)
        if length + 4 != size:
            raise ValueError(f"{name}: record length {length} does not match symbol size {size}")
        records[name] = json.loads(data[off + 4:off + 4 + length].decode("utf-8"))
    return records
