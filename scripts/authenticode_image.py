"""The bytes an Authenticode signature covers, compared with an exe rebuilt from source (scripts/rebuild).

Signing (osslsigncode, signtool) changes exactly three things of the image it is given: it appends the
certificate table, 8-byte aligned, after zero padding of up to 7 bytes; it points the certificate-table
entry of the data directories (IMAGE_DIRECTORY_ENTRY_SECURITY: file offset and size) at it; and it may set
the optional header's CheckSum. Those are also exactly the bytes the Authenticode digest leaves out. So a
signed exe is the rebuilt exe signed when, with these three taken back, the two are equal byte for byte;
anything else is named by the first header field or section where it differs.
"""

import re
import struct

import pefile

SECURITY_ENTRY = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']
TABLE_ALIGNMENT = 8


class Differs(Exception):
    """The signed exe is not the rebuilt exe signed: where, as (description, file offset)."""

    def __init__(self, where, offset):
        super().__init__(f'{where} at offset {offset:#x} ({offset})')
        self.where, self.offset = where, offset


def layout(image):
    """(CheckSum offset, certificate-table entry offset, table offset, table size, CheckSum) of a PE image."""
    if image[:2] != b'MZ':
        raise Differs('the DOS header (no MZ: not a PE file)', 0)
    try:
        pe = pefile.PE(data=bytes(image), fast_load=True)
    except pefile.PEFormatError as error:
        raise Differs(f'the PE headers ({str(error.value).rstrip(".")}: not a PE file)', 0) from error
    try:
        optional = pe.OPTIONAL_HEADER
        directories = optional.DATA_DIRECTORY
        if len(directories) <= SECURITY_ENTRY:
            raise Differs('the optional header (no certificate-table entry)', optional.get_file_offset())
        entry = directories[SECURITY_ENTRY]
        return (optional.get_field_absolute_offset('CheckSum'), entry.get_file_offset(), entry.VirtualAddress,
                entry.Size, optional.CheckSum)
    finally:
        pe.close()


def unsigned_image(signed, rebuilt):
    """The signed image with its signature taken back, as it was when signed: the table and the padding
    before it cut off, the CheckSum and the certificate-table entry as the rebuilt exe has them. Returns
    (image, what signing changed, in words, or None when it carries no signature); raises Differs when the
    signature is not laid out as signing lays it out."""
    checksum, entry, table, size, signed_checksum = layout(signed)
    if table == 0 and size == 0:
        return signed, None
    if table % TABLE_ALIGNMENT or table + size != len(signed):
        raise Differs(f'the certificate table ({size} bytes at {table:#x}, file {len(signed)} bytes: not one '
                      f'{TABLE_ALIGNMENT}-byte aligned table at the end)', entry)
    image = bytearray(signed[:table])
    padding = len(image) - len(rebuilt)
    if 0 < padding < TABLE_ALIGNMENT and not any(image[len(rebuilt):]):
        del image[len(rebuilt):]
    else:
        padding = 0
    ours = layout(rebuilt)
    if ours[:2] == (checksum, entry):
        image[checksum:checksum + 4] = rebuilt[checksum:checksum + 4]
        image[entry:entry + 8] = rebuilt[entry:entry + 8]
    changed = (f'a certificate table of {size} bytes after {padding} bytes of zero padding, its data-directory '
               f'entry, and the CheckSum ({signed_checksum:#010x}, built {ours[4]:#010x})')
    return bytes(image), changed


def first_difference(one, other):
    """The first offset where two byte strings differ (the shorter's length when one is a prefix), or None."""
    if one == other:
        return None
    step = 1 << 16
    for start in range(0, min(len(one), len(other)), step):
        if one[start:start + step] != other[start:start + step]:
            return start + next(i for i, (a, b) in enumerate(zip(one[start:start + step], other[start:start + step]))
                                if a != b)
    return min(len(one), len(other))


def field_at(structure, offset):
    """The name of the field of a pefile structure that holds the file offset, or None outside it."""
    start = structure.get_file_offset()
    if not start <= offset < start + structure.sizeof():
        return None
    position = start
    elements = re.findall(r'(\d*)([a-zA-Z])', structure.__format_str__.lstrip('<'))
    for (count, code), names in zip(elements, structure.__keys__):
        width = struct.calcsize('<' + count + code)
        if offset < position + width:
            return names[0]
        position += width
    return None


def where(image, offset):
    """The header field or section of the (rebuilt) PE image that holds the file offset, in words."""
    if offset >= len(image):
        return 'the end of the file (the rebuilt exe has no byte there)'
    pe = pefile.PE(data=bytes(image), fast_load=True)
    try:
        headers = [('the DOS header', pe.DOS_HEADER), ('the PE signature', pe.NT_HEADERS),
                   ('the COFF file header', pe.FILE_HEADER), ('the optional header', pe.OPTIONAL_HEADER)]
        headers += [(f'the data directory {entry.name}', entry) for entry in pe.OPTIONAL_HEADER.DATA_DIRECTORY]
        sections = list(pe.sections)
        for index, section in enumerate(sections):
            headers.append((f'the section header of {section_name(section, index, sections)}', section))
        for label, structure in headers:
            field = field_at(structure, offset)
            if field:
                return f'header field {field} of {label}'
        for index, section in enumerate(sections):
            if section.PointerToRawData <= offset < section.PointerToRawData + section.SizeOfRawData:
                return f'section {section_name(section, index, sections)}'
        if offset < pe.DOS_HEADER.e_lfanew:
            return 'the DOS stub'
        if offset < pe.OPTIONAL_HEADER.SizeOfHeaders:
            return 'the headers (between the structures)'
        return 'the bytes after the last section'
    finally:
        pe.close()


def section_name(section, index, sections):
    name = section.Name.rstrip(b'\0').decode('ascii', 'replace')
    twins = [other for other in sections if other.Name == section.Name]
    if len(twins) > 1:
        return f'{name} (section {index + 1} of {len(sections)})'
    return name


def compare(signed, rebuilt):
    """What signing changed (None when unsigned), when the signed image is the rebuilt one signed; raises
    Differs otherwise."""
    image, changed = unsigned_image(signed, rebuilt)
    offset = first_difference(image, rebuilt)
    if offset is None:
        return changed
    if offset >= min(len(image), len(rebuilt)):
        raise Differs(f'the length (without its signature {len(image)} bytes, rebuilt {len(rebuilt)})', offset)
    raise Differs(where(rebuilt, offset), offset)
