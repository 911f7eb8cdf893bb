#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/.

The seeds are ordinary inputs of the kind each target decodes (see the comment at the top of
each target), a few good ones and a few at the edges, so that a short run starts from shapes the
code really meets. Run it again after changing a target's input format:
    python3 tests/fuzz/make_seeds.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD = 1, 2, 3, 4, 11

USB_CLASS = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
DISK_CLASS = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
CDROM_CLASS = "{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"


def utf16(text):
    return text.encode("utf-16-le")


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def connector_arguments():
    seeds = {
        "empty": "",
        "hide": " /HIDE",
        "delay": " /D:3000",
        "delay_hide": " /D:3000 /HIDE",
        "lower_negative": "x/d:-40 hide",
        "huge_delay": " /D:99999999999999",
        "second_colon": " /D:12:34",
        "hide_first": "HIDE /D:5",
        "sign_space": " /D: +7",
        "key_at_start": "D:100 HIDE",
        "non_ascii": " /D:1\u0131\u00e9 /H\u0130DE",
    }
    for name, text in seeds.items():
        write("fuzz_connector_arguments", name, utf16(text))


def agent_arguments():
    target = r"C:\Program Files\Stonevault\KX7AutoConnector.exe"
    seeds = {
        "usual": "/D:3000 /HIDE /S:" + target,
        "lower": "/d:10 /s:c:\\a b\\c.exe",
        "no_number": "/D:abc /S:",
        "no_space": "/D:3000/S:x.exe",
        "path_259": "/S:" + "C:\\" + "a" * 256,
        "path_260": "/S:" + "C:\\" + "a" * 257,
        "hide_only": "/HIDE",
        "empty": "",
        "negative": "/D:-2147483649 /S:x",
        "beyond_latin1": "/S:C:\\Z\u0142oty\\\U0001F511.exe",
    }
    for name, text in seeds.items():
        write("fuzz_agent_arguments", name, text.encode("utf-16-le"))


def interface_names():
    usb = "\\\\?\\USB#VID_6B2F&PID_1180#0123456789AB#" + USB_CLASS
    fips = "\\\\?\\USB#VID_6B2F&PID_1181#0123456789AC#" + USB_CLASS
    disk = "\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_STONEVAULT_KX7&Rev_2.00#0123456789AB&0#" + DISK_CLASS
    fips_disk = "\\\\?\\USBSTOR#Disk&Ven_SVI&Prod_KX7FIPS&Rev_2.00#0123456789AC&0#" + DISK_CLASS
    other = "\\\\?\\HID#VID_046D&PID_C52B&MI_00#7&1a2b3c&0&0000#" + USB_CLASS
    root = "\\\\?\\ROOT#NET#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}"
    seeds = {
        "plug_unlock_unplug": ["+" + usb, "+" + disk, "-" + disk, "-" + usb],
        "fips": ["+" + fips, "+" + fips_disk, "-" + fips],
        "twice": ["+" + usb, "+" + usb, "-" + usb, "-" + usb, "-" + usb],
        "others": ["+" + other, "+" + root, "-" + other, "-" + root],
        "short": ["+\\\\?\\", "+", "-x", "+\\\\?\\NOHASH", "+\\\\?\\USB#VID_6B2F&PID_1180"],
        "lower_case": ["+" + usb.lower(), "-" + usb],
    }
    for name, lines in seeds.items():
        write("fuzz_interface_names", name, "\n".join(lines).encode("latin-1"))


def device_path():
    seeds = {
        "cdrom": "\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive&rev_2.00#0123456789ab&0#"
        + CDROM_CLASS,
        "disk": "\\\\?\\usbstor#disk&ven_svi&prod_kx7fips&rev_2.00#0123456789ab&0#" + DISK_CLASS,
        "no_hash": "\\\\?\\usbstor",
        "one_hash": "\\\\?\\usbstor#cdrom",
        "prefix_only": "\\\\?\\",
        "amp_first": "\\\\?\\usbstor#x#&0#{c}",
        "no_amp": "\\\\?\\usbstor#ven_svi#SERIAL#{c}",
        "too_long": "\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive#" + "s" * 240 + "#{c}",
        "vendor_at_start": "ven_svi&prod_virtual_cd_drive#usbstor#x#{c}",
    }
    for name, text in seeds.items():
        write("fuzz_device_path", name, utf16(text))


def typed(value_type, data):
    return struct.pack("<I", value_type) + data


def registry_values():
    seeds = {
        "sz": typed(REG_SZ, utf16("OFFICE-PC\0")),
        "expand_sz": typed(REG_EXPAND_SZ, utf16("%SystemRoot%\0")),
        "unterminated": typed(REG_SZ, utf16("OFFICE-PC")),
        "odd_size": typed(REG_SZ, utf16("AB\0") + b"\x41"),
        "empty": typed(REG_SZ, b""),
        "inner_nul": typed(REG_SZ, utf16("AB\0CD\0")),
        "longest": typed(REG_SZ, utf16("x" * 1022 + "\0")),
        "too_long": typed(REG_SZ, utf16("x" * 1023 + "\0")),
        "dword": typed(REG_DWORD, struct.pack("<I", 10)),
        "dword_negative": typed(REG_DWORD, struct.pack("<I", 0xFFFFFFFF)),
        "dword_short": typed(REG_DWORD, b"\x01\x02\x03"),
        "qword": typed(REG_QWORD, struct.pack("<Q", 7)),
        "binary": typed(REG_BINARY, b"\x00\x01\x02\x03"),
    }
    for name, data in seeds.items():
        write("fuzz_registry_values", name, data)


def ata_words(text):
    """The text as IDENTIFY words (first character in the high byte), little-endian."""
    if len(text) % 2:
        text += " "
    out = b""
    for i in range(0, len(text), 2):
        out += struct.pack("<H", ord(text[i]) << 8 | ord(text[i + 1]))
    return out


def ata_string():
    seeds = {
        "padded": bytes([10]) + ata_words("  AB12".ljust(20)),
        "full": bytes([10]) + ata_words("WD-WCC4N1234567ABCDE"),
        "blanks": bytes([10]) + ata_words(" " * 20),
        "inner_nul": bytes([4]) + ata_words("  A\0BC  "),
        "none": bytes([0]),
        "long": bytes([255]) + ata_words("  S" * 170),
    }
    # A whole IDENTIFY answer: words 10-19 hold the serial.
    identify = bytearray(512)
    identify[20:40] = ata_words("    S3Z9NB0K123456  ")
    seeds["identify"] = bytes(identify)
    for name, data in seeds.items():
        write("fuzz_ata_string", name, data)


def product_key():
    value = bytearray(164)
    value[52:67] = bytes(range(1, 16))
    seeds = {
        "usual": typed(REG_BINARY, bytes(value)),
        "all_ones": typed(REG_BINARY, bytes(52) + b"\xff" * 15 + bytes(97)),
        "short": typed(REG_BINARY, bytes(value[:60])),
        "longest": typed(REG_BINARY, bytes(value)),
        "too_long": typed(REG_BINARY, bytes(value) + b"\x00"),
        "as_string": typed(REG_SZ, bytes(value[:100])),
        "empty": typed(REG_BINARY, b""),
    }
    for name, data in seeds.items():
        write("fuzz_product_key", name, data)


def reply(data=b"", status=0, transferred=None, failed=False):
    """One answer of the scripted drive: reached or not, status, transfer length, data."""
    if transferred is None:
        transferred = len(data)
    return bytes([1 if failed else 0, status]) + struct.pack("<H", transferred) + data


def identity_reply(major=2, minor=0, vendor=0x6B2F, product=0x1180, tag=b"1"):
    identifier = bytes(range(0x4B, 0x4B + 15)) + tag
    return bytes([major, minor]) + struct.pack(">HH", vendor, product) + identifier


def inquiry_reply():
    data = bytearray(36)
    data[0] = 5
    data[1] = 0x80
    data[8:16] = b"SVI     "
    data[16:32] = b"Virtual CD Drive"
    data[32:36] = b"2.00"
    return bytes(data)


def drive_header(disk_class=False, mode=0x1F, paths=(b"",), mode_size=4):
    out = bytes([1 if disk_class else 0])
    out += struct.pack("<I", REG_DWORD) + bytes([mode_size]) + struct.pack("<I", mode) + bytes(4)
    out += bytes([len(paths)])
    for path in paths:
        out += bytes([len(path)]) + path
    return out


def drive_turn(refusal_code=27):
    status = bytes([0x10]) + bytes(31)
    setup = bytes([0x10]) + bytes(347)
    turn = reply(status) + reply(setup)
    turn += reply() + reply()  # timing: announce, write
    turn += reply() + reply(status=2)  # packet: announce, refused write
    turn += reply(bytes([refusal_code, 0x41, 0, 0]))
    turn += reply(inquiry_reply(), transferred=200)
    turn += reply(identity_reply())
    return turn


def drive_replies():
    discovery = reply(identity_reply()) + reply(inquiry_reply())
    custom = b"\\\\?\\usbstor#cdrom&ven_svi&prod_virtual_cd_drive#x&0#{c}"
    seeds = {
        "one_drive": drive_header() + discovery + drive_turn(),
        "two_drives": drive_header(paths=(b"", b"")) + discovery + discovery + drive_turn(29),
        "retries": drive_header() + reply(failed=True) * 3 + discovery + drive_turn(30),
        "check_condition": drive_header() + reply(status=2) + drive_turn(77),
        "other_vendor": drive_header() + reply(identity_reply(vendor=0x1234)) + drive_turn(),
        "old_firmware": drive_header() + reply(identity_reply(1, 18)) + reply(inquiry_reply()),
        "short_inquiry": drive_header() + reply(identity_reply()) + reply(inquiry_reply()[:5] + bytes(31),
                                                                          transferred=5),
        "disk_class": drive_header(disk_class=True) + discovery + drive_turn(),
        "custom_path": drive_header(paths=(custom,)) + discovery + drive_turn(28),
        "negative_mode": drive_header(mode=0x80000000) + discovery,
        "empty_mode": drive_header(mode_size=0) + discovery,
        "long_mode": drive_header(mode_size=8) + discovery,
    }
    for name, data in seeds.items():
        write("fuzz_drive_replies", name, data)


def sim_call(block, data_in, length, data=b""):
    selector = {6: 0, 10: 1, 16: 2}[len(block)]
    return bytes([selector]) + block + bytes([1 if data_in else 0]) + struct.pack(
        "<H", length) + data


def vendor_block(opcode, buffer_id, subcommand, length):
    return bytes([opcode, 0x01, buffer_id, subcommand]) + struct.pack("<H", length) + bytes(10)


def announce_for(write_block):
    words = sum(write_block[2 * k] << 8 | write_block[2 * k + 1] for k in range(5))
    checksum = -words & 0xFFFF
    return bytes([0x3B, 0x01, 0x10, write_block[2]]) + struct.pack("<H", checksum) + b"FML\0"


def sim_read(subcommand, length):
    return sim_call(vendor_block(0x3C, 0xCE, subcommand, length), True, length)


def sim_write(subcommand, data):
    block = vendor_block(0x3B, 0xCD, subcommand, len(data))
    return sim_call(announce_for(block), False, 0) + sim_call(block, False, len(data), data)


def sim_commands():
    inquiry = sim_call(bytes([0x12, 0, 0, 0, 36, 0]), True, 36)
    timing = struct.pack("<HHHHHH", 4464, 10, 20, 0x2345, 0, 0)
    seeds = {
        "inquiry": inquiry,
        "reads": sim_read(0x01, 22) + sim_read(0x32, 32) + sim_read(0x30, 348) + sim_read(0x02, 4),
        "timing": sim_write(0x03, timing),
        "packet": sim_write(0x41, bytes(range(128))) + sim_read(0x02, 4),
        "unannounced": sim_call(vendor_block(0x3B, 0xCD, 0x03, 12), False, 12, timing),
        "wrong_length": sim_read(0x01, 21) + sim_read(0x01, 23),
        "wrong_direction": sim_call(vendor_block(0x3C, 0xCE, 0x01, 22), False, 22, bytes(22)),
        "everything": inquiry + sim_read(0x01, 22) + sim_read(0x32, 32) + sim_read(0x30, 348)
        + sim_write(0x03, timing) + sim_write(0x41, bytes(128)) + sim_read(0x02, 4) + inquiry,
    }
    for name, data in seeds.items():
        write("fuzz_sim_commands", name, data)


def main():
    shutil.rmtree(os.path.join(HERE, "corpus"), ignore_errors=True)
    connector_arguments()
    agent_arguments()
    interface_names()
    device_path()
    registry_values()
    ata_string()
    product_key()
    drive_replies()
    sim_commands()


if __name__ == "__main__":
    main()
