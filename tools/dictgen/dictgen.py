#!/usr/bin/python3
"""Generates dicom/DataDictionaryTable.cpp, the toolkit's built-in data dictionary, and dicom/Tags.h, its named tags.

Source: the PS3.6 data dictionary as shipped by Debian's python3-pydicom
(module pydicom._dicom_dict). Run from anywhere with the system Python:

    /usr/bin/python3 tools/dictgen/dictgen.py            # writes both files
    /usr/bin/python3 tools/dictgen/dictgen.py --check    # fails if either is stale

Conventions of the table (the toolkit and its dump rely on them):
  * only the groups in GROUPS; every group except those in NO_GROUP_LENGTH gets a
    (gggg,0000) UL "Group Length" row ("Group 7FE0 Length" for 7FE0);
  * the command, file meta and structural groups (FIXED_GROUPS) hold exactly the rows
    of FIXED_ROWS: they are the toolkit's own, not the edition's;
  * repeating groups appear at their base numbers 5000 and 6000 only; repeating
    element ranges (0020,31xx), (0028,04xy), (0028,08xy) are left out, since their
    base numbers would collide with other attributes;
  * retired names end in " (RET)";
  * where several VRs are allowed the row keeps the last one and the name gets the
    others, each followed by " or" ("LUT Data US or", "... (RET) US or SS or");
  * items and delimiters carry the pseudo-VR "DL"; (7FE0,0010) is OW;
  * names are Windows-1252: the apostrophe becomes 0x92 and NAME_OVERRIDES gives the
    micro sign and en dash the ASCII source spells "u" and "-";
  * rows sorted strictly by (group, element), so a binary search finds exactly
    what a scan from the first row would.

Conventions of the named tags (fw::tag::PatientName and so on):
  * one constant per row of the table whose attribute has a keyword in the source
    and is not retired there; the name is the keyword as the source spells it;
  * repeating groups at their base numbers, as in the table (OverlayRows is 6000,0010);
  * group lengths, items and delimiters only where the source names them.
"""

import argparse
import collections
import os
import sys

from pydicom import __version__ as PYDICOM_VERSION
from pydicom._dicom_dict import DicomDictionary, RepeatersDictionary

GROUPS = [
    0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028,
    0x0032, 0x0038, 0x003A, 0x0040, 0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072,
    0x0088, 0x0100, 0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040, 0x2050, 0x2100,
    0x2110, 0x2120, 0x2130, 0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C,
    0x300E, 0x4000, 0x4008, 0x4FFE, 0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0,
    0xFFFA, 0xFFFC, 0xFFFE,
]

NO_GROUP_LENGTH = {0x4FFE, 0xFFFA, 0xFFFC, 0xFFFE}

# Groups whose rows are exactly these, whatever the edition of the source says.
FIXED_GROUPS = {0x0000, 0x0002, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE}
FIXED_ROWS = [
    (0x0000, 0x0000, "UL", "Group Length"),
    (0x0000, 0x0002, "UI", "Affected SOP Class UID"),
    (0x0000, 0x0003, "UI", "Requested SOP Class UID"),
    (0x0000, 0x0100, "US", "Command Field"),
    (0x0000, 0x0110, "US", "Message ID"),
    (0x0000, 0x0120, "US", "Message ID Being Responded To"),
    (0x0000, 0x0600, "AE", "Move Destination"),
    (0x0000, 0x0700, "US", "Priority"),
    (0x0000, 0x0800, "US", "Data Set Type"),
    (0x0000, 0x0900, "US", "Status"),
    (0x0000, 0x0901, "AT", "Offending Element"),
    (0x0000, 0x0902, "LO", "Error Comment"),
    (0x0000, 0x0903, "US", "Error ID"),
    (0x0000, 0x1000, "UI", "Affected SOP Instance UID"),
    (0x0000, 0x1001, "UI", "Requested SOP Instance UID"),
    (0x0000, 0x1002, "US", "Event Type ID"),
    (0x0000, 0x1005, "AT", "Attribute Identifier List"),
    (0x0000, 0x1008, "US", "Action Type ID"),
    (0x0000, 0x1020, "US", "Number of Remaining Sub-Operations"),
    (0x0000, 0x1021, "US", "Number of Completed Sub-Operations"),
    (0x0000, 0x1022, "US", "Number of Failed Sub-Operations"),
    (0x0000, 0x1023, "US", "Number of Warning Sub-Operations"),
    (0x0000, 0x1030, "AE", "Move Originator AET"),
    (0x0000, 0x1031, "US", "Move Originator Message ID"),
    (0x0002, 0x0000, "UL", "Group Length"),
    (0x0002, 0x0001, "OB", "File Meta Information Version"),
    (0x0002, 0x0002, "UI", "Media Storage SOP Class UID"),
    (0x0002, 0x0003, "UI", "Media Storage SOP Instance UID"),
    (0x0002, 0x0010, "UI", "Transfer Syntax UID"),
    (0x0002, 0x0012, "UI", "Implementation Class UID"),
    (0x0002, 0x0013, "SH", "Implementation Version Name"),
    (0x0002, 0x0016, "AE", "Source Application Entity Title"),
    (0x0002, 0x0100, "UI", "Private Information Creator UID"),
    (0x0002, 0x0102, "OB", "Private Information"),
    (0x7FE0, 0x0000, "UL", "Group 7FE0 Length"),
    (0x7FE0, 0x0010, "OW", "Pixel Data"),
    (0xFFFA, 0xFFFA, "SQ", "Digital Signatures Sequence"),
    (0xFFFC, 0xFFFC, "OB", "Data Set Trailing Padding"),
    (0xFFFE, 0xE000, "DL", "Item"),
    (0xFFFE, 0xE00D, "DL", "Item Delimitation Item"),
    (0xFFFE, 0xE0DD, "DL", "Sequence Delimitation Item"),
]

# Rows the toolkit fixes by name although they come from the source: attributes
# whose two VRs the dump shows in the name, kept as the toolkit has always named
# them (two of them were retired by later editions).
FIXED_NAMES = {
    (0x0028, 0x0110): ("SS", "Smallest Image Pixel Value in Plane US or"),
    (0x0028, 0x0111): ("SS", "Largest Image Pixel Value in Plane US or"),
}

MICRO = "\u00b5"
EN_DASH = "\u2013"
RIGHT_QUOTE = "\u2019"

# Characters the ASCII source cannot spell (the base name, before " (RET)").
NAME_OVERRIDES = {
    (0x0018, 0x8150): "Exposure Time in " + MICRO + "S",
    (0x0018, 0x8151): "X-Ray Tube Current in " + MICRO + "A",
    (0x0020, 0x9251): "R" + EN_DASH + "R Interval Time Nominal",
    (0x6000, 0x1100): "Overlay Descriptor " + EN_DASH + " Gray",
    (0x6000, 0x1101): "Overlay Descriptor " + EN_DASH + " Red",
    (0x6000, 0x1102): "Overlay Descriptor " + EN_DASH + " Green",
    (0x6000, 0x1103): "Overlay Descriptor " + EN_DASH + " Blue",
    (0x6000, 0x1200): "Overlays " + EN_DASH + " Gray",
    (0x6000, 0x1201): "Overlays " + EN_DASH + " Red",
    (0x6000, 0x1202): "Overlays " + EN_DASH + " Green",
    (0x6000, 0x1203): "Overlays " + EN_DASH + " Blue",
}

REPEATING_GROUP_BASES = {"50xx": 0x5000, "60xx": 0x6000}

DICOM_FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "dicom")
OUTPUT = os.path.join(DICOM_FOLDER, "DataDictionaryTable.cpp")
TAGS_OUTPUT = os.path.join(DICOM_FOLDER, "Tags.h")


def split_vr(vr_field):
    """'US or SS or OW' -> ('OW', ' US or SS or'); 'CS' -> ('CS', '')."""
    choices = [v.strip() for v in vr_field.split(" or ")]
    return choices[-1], "".join(" " + v + " or" for v in choices[:-1])


def make_name(key, name, retired, alternatives):
    name = NAME_OVERRIDES.get(key, name).replace("'", RIGHT_QUOTE)
    if retired:
        name += " (RET)"
    return name + alternatives


def source_rows():
    """(group, element) -> (vr, name) from the source, groups of GROUPS only."""
    rows = {}
    for tag, (vr_field, _vm, name, retired, _keyword) in DicomDictionary.items():
        group, element = tag >> 16, tag & 0xFFFF
        if group not in GROUPS or group in FIXED_GROUPS:
            continue
        vr, alternatives = split_vr(vr_field)
        key = (group, element)
        rows[key] = (vr, make_name(key, name, retired == "Retired", alternatives))
    for mask, (vr_field, _vm, name, retired, _keyword) in RepeatersDictionary.items():
        base = REPEATING_GROUP_BASES.get(mask[:4])
        if base is None:
            continue  # repeating elements, or groups outside the table
        vr, alternatives = split_vr(vr_field)
        key = (base, int(mask[4:], 16))
        assert key not in rows, key
        rows[key] = (vr, make_name(key, name, retired == "Retired", alternatives))
    return rows


def build_table():
    rows = source_rows()
    for key, (vr, name) in FIXED_NAMES.items():
        assert key in rows, key
        rows[key] = (vr, name)
    for key in NAME_OVERRIDES:
        assert key in rows, key
    for group in GROUPS:
        if group not in NO_GROUP_LENGTH and group not in FIXED_GROUPS:
            assert (group, 0) not in rows, group
            rows[(group, 0)] = ("UL", "Group Length")
    for group, element, vr, name in FIXED_ROWS:
        # The toolkit's own rows must still be attributes of the standard.
        assert element == 0 or (group << 16 | element) in DicomDictionary, (group, element)
        rows[(group, element)] = (vr, name)
    table = sorted((g, e, vr, name) for (g, e), (vr, name) in rows.items())

    keys = [(g, e) for g, e, _, _ in table]
    assert keys == sorted(set(keys)), "rows must be strictly ascending"
    assert {g for g, _ in keys} == set(GROUPS), "every group must have rows"
    for _g, _e, vr, name in table:
        assert len(vr) == 2 and vr.isalpha() and vr.isupper(), vr
        name.encode("cp1252")
    return table


def c_string(text):
    """C string literal of the Windows-1252 bytes; octal escapes never swallow a digit."""
    out = []
    for byte in text.encode("cp1252"):
        if byte >= 0x80:
            out.append("\\%03o" % byte)
        elif byte in (0x22, 0x5C):
            out.append("\\" + chr(byte))
        else:
            out.append(chr(byte))
    return '"' + "".join(out) + '"'


def render(table):
    vr_counts = collections.Counter(vr for _, _, vr, _ in table)
    retired = sum(1 for *_, name in table if "(RET)" in name)
    lines = [
        "// clang-format off",
        "// The built-in data dictionary: generated by tools/dictgen/dictgen.py from the",
        "// PS3.6 dictionary of python3-pydicom %s. Do not edit; run the generator." % PYDICOM_VERSION,
        "//",
        "// %d rows in %d groups, %d retired; strictly ascending by (group, element)."
        % (len(table), len({g for g, *_ in table}), retired),
        "// VRs: " + ", ".join("%s %d" % (vr, n) for vr, n in sorted(vr_counts.items(), key=lambda x: (-x[1], x[0]))),
        '#include "dicom/DataDictionary.h"',
        "",
        "namespace fw {",
        "",
        "const DictionaryEntry DataDictionary[] = {",
    ]
    for group, element, vr, name in table:
        lines.append('    {0x%04X, 0x%04X, "%s", %s},' % (group, element, vr, c_string(name)))
    lines += [
        "    {0x0000, 0x0000, \"\", nullptr},",
        "};",
        "",
        "const std::size_t DataDictionaryRows = sizeof(DataDictionary) / sizeof(DataDictionary[0]) - 1;",
        "",
        "} // namespace fw",
        "",
    ]
    return "\n".join(lines)


def source_keyword(group, element):
    """(keyword, retired) of the source's attribute at a table row; ("", False) when it has none."""
    entry = DicomDictionary.get(group << 16 | element)
    if entry is None:
        masks = [m for m, base in REPEATING_GROUP_BASES.items() if base == group]
        for mask in masks:
            entry = RepeatersDictionary.get("%s%04X" % (mask, element))
            if entry is not None:
                break
    if entry is None:
        return "", False
    _vr, _vm, _name, retired, keyword = entry
    return keyword, retired == "Retired"


def named_tags(table):
    """(keyword, group, element) of every table row with a current keyword, in table order."""
    tags = []
    for group, element, _vr, _name in table:
        keyword, retired = source_keyword(group, element)
        if keyword and not retired:
            assert keyword.isidentifier(), keyword
            tags.append((keyword, group, element))
    keywords = [k for k, _, _ in tags]
    assert len(keywords) == len(set(keywords)), "keywords must be unique"
    return tags


def render_tags(table):
    tags = named_tags(table)
    lines = [
        "// clang-format off",
        "// Named data element tags: generated by tools/dictgen/dictgen.py from the",
        "// keywords of python3-pydicom %s. Do not edit; run the generator." % PYDICOM_VERSION,
        "//",
        "// %d constants, one per non-retired keyword of the built-in dictionary's groups;" % len(tags),
        "// repeating groups at their base numbers (OverlayData is 6000,3000).",
        "// Constants only: using one costs what writing its two numbers would.",
        "#pragma once",
        "",
        '#include "dicom/Tag.h"',
        "",
        "namespace fw::tag {",
    ]
    group = None
    for keyword, g, e in tags:
        if g != group:
            group = g
            lines += ["", "// Group %04X" % g]
        lines.append("inline constexpr Tag %s{0x%04X, 0x%04X};" % (keyword, g, e))
    lines += [
        "",
        "} // namespace fw::tag",
        "",
    ]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="fail when a committed file differs")
    parser.add_argument("--output", default=OUTPUT)
    parser.add_argument("--tags-output", default=TAGS_OUTPUT)
    args = parser.parse_args()

    table = build_table()
    outputs = [(args.output, render(table)), (args.tags_output, render_tags(table))]
    if args.check:
        stale = 0
        for path, text in outputs:
            try:
                with open(path, encoding="ascii") as f:
                    current = f.read()
            except FileNotFoundError:
                current = None
            if current != text:
                print("dictgen: %s is stale" % path, file=sys.stderr)
                stale = 1
        return stale
    for path, text in outputs:
        with open(path, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        print("dictgen: wrote %s" % os.path.normpath(path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
