#!/usr/bin/env python3
"""Writes the UEFI Shell that an OVMF image carries to a file of its own.

Once keys are enrolled, the firmware refuses the Shell in its own volume like
any unsigned image; a copy taken out here can be signed and booted from a disk.
OVMF keeps its DXE volume in an LZMA-compressed GUID-defined section; inside
it, the Shell is an application file whose PE32 section is the image.

Debian's build of that Shell also refuses to start at all while Secure Boot is
on (a Shell in the firmware's own volume would be a way around it): it reads
the SecureBoot variable, then SetupMode. The copy written here is a lab tool
that the test signs with a key made for one run, so that check is turned off
by renaming the variable it reads; every image the Shell starts is still
checked by the firmware.

    extract-shell.py OVMF_CODE.fd SHELL.efi
"""
import lzma
import sys
import uuid

LZMA_SECTION = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF").bytes_le
SHELL_FILE = uuid.UUID("7C04A583-9E3E-4F1C-AD65-E05268D0B4D1").bytes_le
# UEFI Platform Initialization, volume 3: the section and file types.
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
FILE_APPLICATION = 0x09
FILE_ATTRIB_LARGE = 0x01
# The Shell's own Secure Boot check: the two names side by side, UTF-16.
SECURE_BOOT_CHECK = "SecureBoot\0SetupMode\0".encode("utf-16-le")
SECURE_BOOT_RENAMED = "SecureBooX\0SetupMode\0".encode("utf-16-le")


def fail(text):
    sys.exit("extract-shell: " + text)


def u24(data, at):
    return int.from_bytes(data[at:at + 3], "little")


def sections(data, start, end):
    """(type, body) of each section in data[start:end]; 4-byte aligned."""
    at = start
    while at + 4 <= end:
        size, kind, header = u24(data, at), data[at + 3], 4
        if size == 0xFFFFFF:  # the size follows in 32 bits
            size, header = int.from_bytes(data[at + 4:at + 8], "little"), 8
        if size < header or at + size > end:
            fail("malformed section at 0x%X" % at)
        yield kind, data[at + header:at + size]
        at = (at + size + 3) & ~3


def dxe_volumes(firmware):
    """The decompressed contents of each LZMA GUID-defined section."""
    at = firmware.find(LZMA_SECTION)
    while at >= 4:
        header = at - 4
        size, kind = u24(firmware, header), firmware[header + 3]
        data_offset = int.from_bytes(firmware[at + 16:at + 18], "little")
        if kind == SECTION_GUID_DEFINED and 24 <= data_offset < size <= len(firmware) - header:
            # LZMA "alone" format: properties, dictionary, then the length.
            decompressor = lzma.LZMADecompressor(format=lzma.FORMAT_ALONE)
            try:
                yield decompressor.decompress(firmware[header + data_offset:header + size])
            except lzma.LZMAError as error:
                fail("the LZMA section at 0x%X does not decompress: %s" % (header, error))
        at = firmware.find(LZMA_SECTION, at + 1)


def shell_image(volume):
    """The PE32 section of the Shell's application file, or None."""
    at = volume.find(SHELL_FILE)
    while at >= 0:
        # An FFS file header starts 8-byte aligned: name, checksums, type,
        # attributes, a 24-bit size (or 32-bit for a large file), state.
        if at % 8 == 0 and volume[at + 18] == FILE_APPLICATION:
            header, size = 24, u24(volume, at + 20)
            if volume[at + 19] & FILE_ATTRIB_LARGE:
                header, size = 32, int.from_bytes(volume[at + 24:at + 32], "little")
            if header < size <= len(volume) - at:
                for kind, body in sections(volume, at + header, at + size):
                    if kind == SECTION_PE32:
                        return body
        at = volume.find(SHELL_FILE, at + 1)
    return None


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    with open(sys.argv[1], "rb") as f:
        firmware = f.read()
    for volume in dxe_volumes(firmware):
        image = shell_image(volume)
        if image is not None:
            if image[:2] != b"MZ":
                fail("the Shell's PE32 section is not a PE image")
            image = image.replace(SECURE_BOOT_CHECK, SECURE_BOOT_RENAMED)
            with open(sys.argv[2], "wb") as f:
                f.write(image)
            return
    fail("no Shell in " + sys.argv[1])


if __name__ == "__main__":
    main()
