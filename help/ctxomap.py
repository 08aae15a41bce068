#!/usr/bin/env python3
"""Fills the context-number map (|CTXOMAP) of a Windows help file.

halibut writes a help file whose |CONTEXT maps the hashes of the topics'
context names to topic offsets, but whose |CTXOMAP is empty, so a program that
asks for a help context number finds no topic. This reads a list of
"number name" lines, finds each name's topic through |CONTEXT and writes the
numbers into |CTXOMAP.

usage: ctxomap.py HELPFILE CONTEXTS
The help file is rewritten only when every name was found.
"""
import os
import struct
import sys

FILE_MAGIC = 0x00035F3F
BTREE_MAGIC = 0x293B
FILEHEADER = struct.Struct("<iiB")   # reserved space (with this header), used space, flags
BTREEHEADER_SIZE = 38
LEAF_HEADER = struct.Struct("<Hhhh")  # unused bytes, entries, previous page, next page


class HelpFileError(Exception):
    pass


def context_hash(name):
    """The hash that |CONTEXT keys are made of; letters ignore case."""
    value = 0
    for c in name.lower():
        if "a" <= c <= "z":
            x = ord(c) - ord("a") + 17
        elif "1" <= c <= "9":
            x = ord(c) - ord("0")
        elif c == "0":
            x = 10
        elif c == ".":
            x = 12
        elif c == "_":
            x = 13
        else:
            raise HelpFileError("context name %r: only letters, digits, '.' and '_'" % name)
        value = (value * 43 + x) & 0xFFFFFFFF
    return value


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise HelpFileError("truncated help file (offset %d)" % offset)
    return struct.unpack_from(fmt, data, offset)


def internal_file(data, offset):
    """Returns (start of content, used size) of the internal file at offset."""
    reserved, used, _ = unpack(FILEHEADER.format, data, offset)
    start = offset + FILEHEADER.size
    if used < 0 or reserved < used + FILEHEADER.size or start + used > len(data):
        raise HelpFileError("bad internal file header at %d" % offset)
    return start, used


def btree_leaves(data, offset):
    """Yields (offset of a leaf's first entry, entry count, end of page) for every
    leaf page of the B+ tree stored in the internal file at offset, in order."""
    start, used = internal_file(data, offset)
    magic, _, page_size = unpack("<HHH", data, start)
    if magic != BTREE_MAGIC or page_size < LEAF_HEADER.size:
        raise HelpFileError("no B+ tree at %d" % offset)
    _, _, root, _, total_pages, levels, _ = unpack("<hhhhhhi", data, start + 22)
    pages = start + BTREEHEADER_SIZE

    def page_at(number):
        if not 0 <= number < total_pages:
            raise HelpFileError("B+ tree page %d out of range" % number)
        return pages + number * page_size

    page = root
    for _ in range(levels - 1):  # an index page's first child is its "previous page"
        page = unpack("<h", data, page_at(page) + 4)[0]
    for _ in range(total_pages):  # bounded even when the next-page chain loops
        if page == -1:
            return
        base = page_at(page)
        _, entries, _, next_page = unpack(LEAF_HEADER.format, data, base)
        yield base + LEAF_HEADER.size, entries, base + page_size
        page = next_page


def directory(data):
    """Maps each internal file name to (its offset, where that offset is stored)."""
    magic, directory_start, _, _ = unpack("<IiiI", data, 0)
    if magic != FILE_MAGIC:
        raise HelpFileError("not a Windows help file")
    files = {}
    for entry, count, end in btree_leaves(data, directory_start):
        for _ in range(count):
            nul = data.find(b"\0", entry, end)
            if nul < 0:
                raise HelpFileError("bad directory entry")
            name = data[entry:nul].decode("latin-1")
            files[name] = (unpack("<i", data, nul + 1)[0], nul + 1)
            entry = nul + 5
    return files


def context_offsets(data, files):
    """Maps context hashes to topic offsets, from |CONTEXT."""
    if "|CONTEXT" not in files:
        raise HelpFileError("the help file has no |CONTEXT")
    offsets = {}
    for entry, count, _ in btree_leaves(data, files["|CONTEXT"][0]):
        for i in range(count):
            value, topic = unpack("<Ii", data, entry + 8 * i)
            offsets[value] = topic
    return offsets


def read_contexts(path):
    """Reads "number name" lines; '#' starts a comment."""
    pairs = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            fields = line.split("#", 1)[0].split()
            if not fields:
                continue
            if len(fields) != 2 or not fields[0].isdigit():
                raise HelpFileError("%s:%d: expected a number and a context name" % (path, number))
            pairs.append((int(fields[0]), fields[1]))
    numbers = [n for n, _ in pairs]
    if len(set(numbers)) != len(numbers):
        raise HelpFileError("%s: a context number is given twice" % path)
    if any(n > 0xFFFFFFFF for n in numbers):
        raise HelpFileError("%s: a context number does not fit 32 bits" % path)
    return pairs


def fill(data, pairs):
    """Returns the help file with its |CTXOMAP holding pairs."""
    files = directory(data)
    if "|CTXOMAP" not in files:
        raise HelpFileError("the help file has no |CTXOMAP")
    offsets = context_offsets(data, files)
    entries = []
    for number, name in sorted(pairs):
        topic = offsets.get(context_hash(name))
        if topic is None:
            raise HelpFileError("no topic has the context name %r" % name)
        entries.append(struct.pack("<Ii", number, topic))
    if len(entries) > 0xFFFF:
        raise HelpFileError("too many context numbers")
    content = struct.pack("<H", len(entries)) + b"".join(entries)

    out = bytearray(data)
    old_offset, where = files["|CTXOMAP"]
    reserved, _, flags = unpack(FILEHEADER.format, data, old_offset)
    if FILEHEADER.size + len(content) <= reserved:
        FILEHEADER.pack_into(out, old_offset, reserved, len(content), flags)
        out[old_offset + FILEHEADER.size:old_offset + FILEHEADER.size + len(content)] = content
        return bytes(out)
    # Too big for its place: the new map goes to the end of the file and the
    # directory points there; the old bytes stay behind, unreferenced.
    new_offset = len(out)
    out += FILEHEADER.pack(FILEHEADER.size + len(content), len(content), flags) + content
    struct.pack_into("<i", out, where, new_offset)
    struct.pack_into("<I", out, 12, len(out))
    return bytes(out)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: ctxomap.py HELPFILE CONTEXTS\n")
        return 2
    path, contexts = argv[1], argv[2]
    try:
        pairs = read_contexts(contexts)
        with open(path, "rb") as f:
            data = f.read()
        result = fill(data, pairs)
    except (HelpFileError, OSError, UnicodeDecodeError) as e:
        sys.stderr.write("ctxomap: %s: %s\n" % (path, e))
        return 1
    scratch = path + ".new"
    with open(scratch, "wb") as f:
        f.write(result)
    os.replace(scratch, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
