"""Names and values that a careless program would mangle or choke on: format directives, key names of the
longest length, "#" and "&" where the interface scan cuts, brackets and quotes, CJK, characters that code
page 950 lacks, and control characters. Each must come out verbatim, converted as far as the code page can.

What Wine's converter does with characters outside code page 950 (no default character of the program's
own): Latin letters with marks and a few symbols take a best-fit letter (é to e, ä to a, ß to s, ® to R),
everything else becomes "?", one per UTF-16 unit, so a character beyond the BMP gives "??". Wine's table also
lacks the ETEN extension rows C6A1-C8FE (kana, Cyrillic) that Python's cp950 codec maps."""

import unittest

import harness
from harness import CDROM, CDROM_GUID, DISK, USB_PREFIX, device, entry_name, interface, utc

WINE_BEST_FIT = {"é": "e", "ä": "a", "ß": "s", "®": "R"}


def wine_cp950(text):
    out = bytearray()
    for ch in text:
        if ch in WINE_BEST_FIT:
            out += WINE_BEST_FIT[ch].encode("ascii")
            continue
        try:
            encoded = ch.encode("cp950")
        except UnicodeEncodeError:
            encoded = None
        if encoded is None or (len(encoded) == 2 and 0xC6A1 <= int.from_bytes(encoded, "big") <= 0xC8FE):
            encoded = b"?" * (len(ch.encode("utf-16-le")) // 2)
        out += encoded
    return bytes(out)


FORMAT = "Disk&Ven_%s%n&Prod_%ls%p%x&Rev_%%"
LONGEST = "Disk&Ven_" + "W" * 246  # 255 units, the registry's limit for a key name
LONG_LINKED = "Disk&Ven_Long&Prod_" + "L" * 221  # 240 units; its entry name is 255 units
AMPERSANDS = "Disk&&Ven_&&&Prod_&[x]&Rev_&"
HASHED = "#Disk#Ven_Hash#"
CJK = "Disk&Ven_金士頓&Prod_隨身碟&Rev_1.00"
CONTROL = "Disk&Ven_Bell\x07&Prod_Tab\tEsc\x1b&Rev_1"
ODD_TEXT = "é€😀Жäא\u0e01\u00a0ß\u2013\u2019·®½"


def hostile_fixture():
    t = utc(2021, 2, 3, 4, 5, 6)
    keys = device(FORMAT, t, "%s%s%s%n%n%n", "%ls%hs%I64d%*d")
    keys += device(LONGEST, t, "n" * 255, "d" * 255, instance="I" * 255)
    keys += device(LONG_LINKED, t, "long linked", "Disk drive")
    keys += device(AMPERSANDS, t, 'quote " and [brackets] and \\ backslash', "&&&")
    keys += device(HASHED, t, "hash #1", "#")
    keys += device(CJK, t, "金士頓 隨身碟 USB 裝置", "磁碟機")
    keys += device(CONTROL, t, "line one\r\nline two\x01\x7f", "tab\there")
    keys += device("Disk&Ven_Odd&Prod_" + ODD_TEXT + "&Rev_1", t, "A" + ODD_TEXT + "Z", ODD_TEXT)
    later = utc(2024, 12, 31, 16, 30, 0)
    keys += interface(DISK, entry_name(FORMAT, "%n&0"), later)
    keys += interface(DISK, USB_PREFIX + LONG_LINKED + "#0&", later)
    keys += interface(DISK, entry_name(AMPERSANDS, "&&&0"), later)
    keys += interface(DISK, USB_PREFIX + HASHED + "#0", later)  # cut at its first "#": empty name, an orphan
    keys += interface(CDROM, entry_name(CJK, "金&0", CDROM_GUID), later)
    keys += interface(CDROM, entry_name(CONTROL, "\x01&0", CDROM_GUID), later)
    keys += interface(CDROM, USB_PREFIX + "Disk&Ven_Gone&Prod_" + ODD_TEXT, later)
    return keys


class Hostile(unittest.TestCase):
    def test_names_and_values_come_out_verbatim(self):
        keys = hostile_fixture()
        self.assertEqual(len(LONGEST), 255)
        self.assertEqual(len(USB_PREFIX + LONG_LINKED + "#0&"), 255)
        expected = harness.expected_report(keys)
        for needle in (FORMAT, "%s%s%s%n%n%n", "line one\r\nline two", LONGEST, "n" * 255, CJK, "A" + ODD_TEXT):
            self.assertIn(needle, expected)
        result = harness.Prefix("hostile", keys).run()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(result.created), 1)
        written = result.files[result.created[0]]
        self.assertEqual(written.decode("cp950", "replace"), wine_cp950(expected).decode("cp950", "replace"))
        self.assertEqual(written, wine_cp950(expected))


if __name__ == "__main__":
    unittest.main()
