#!/usr/bin/env python3
"""Writes engine/sortorder/sort_order_tables.inc: the weights and case maps of the Paradox sort
orders whose language-driver tables were published with the InterBase 6 source (IPL 1.0).

Read from repository zabulus/core:
  src/intl/collations/pw1252intl.h  ("Language driver ansiintl", Windows-1252)
  src/intl/collations/pw1252i850.h  ("Language driver ansii850", Windows-1252)
  src/intl/collations/pd437intl.h   (Paradox 'intl', code page 437)
The weights below are those tables' NoCaseOrderTbl entries written as
(primary - FIRST_PRIMARY, secondary - FIRST_SECONDARY or None for NULL_SECONDARY, expands), the
maps their ToUpper/ToLowerConversionTbl, the expansions their ExpansionTbl. None of the three has
a tertiary level, compressions or ignorable ("special") bytes.

Output format (our own): per sort order, 256 entries {primary, secondary, second}, where primary is
the primary weight (>= 1 for every byte but 0), secondary is 0 for none or the secondary weight + 1,
second is 0 or the byte whose weights the expanding byte's second half takes; then the upper and
lower maps as 256 bytes each.
"""
import sys

ident = list(range(256))

def ascii_letters(sec_upper):
    w = {}
    for i, s in enumerate(sec_upper):
        w[65 + i] = (65 + i, s)
        w[97 + i] = (65 + i, 0)
    return w

def build(rules, explicit, expansions):
    w = [None] * 256
    for (lo, hi, delta) in rules:
        for b in range(lo, hi + 1):
            w[b] = (b + delta, None, 0)
    for b, v in explicit.items():
        w[b] = (v[0], v[1], v[2] if len(v) > 2 else 0)
    out = []
    for b in range(256):
        p, s, e = w[b]
        second = expansions[b] if e else 0
        out.append((p, 0 if s is None else s + 1, second))
    return out

def upper_map(extra):
    m = ident[:]
    for b in range(97, 123):
        m[b] = b - 32
    for b, v in extra.items():
        m[b] = v
    return m

def lower_map(extra):
    m = ident[:]
    for b in range(65, 91):
        m[b] = b + 32
    for b, v in extra.items():
        m[b] = v
    return m

# Expansions: the byte -> second byte of its two-letter form (only bytes flagged "expands" use it).
exp1252 = {228: 101, 196: 69, 246: 101, 214: 69, 223: 115, 254: 104, 222: 72, 252: 101, 220: 69, 198: 69, 230: 101}
exp437 = {132: 101, 142: 69, 148: 101, 153: 69, 225: 115, 129: 101, 154: 69, 146: 69, 145: 101}

# ANSIINTL
E = 1
intl1252 = ascii_letters([5, 1, 2, 2, 5, 1, 1, 1, 5, 1, 1, 1, 1, 2, 6, 1, 1, 1, 1, 1, 4, 1, 1, 1, 3, 1])
intl1252.update({
    192: (65, 7), 193: (65, 6), 194: (65, 8), 195: (65, 9), 196: (65, 10, E), 197: (92, None), 198: (105, None),
    199: (67, 3), 200: (69, 8), 201: (69, 7), 202: (69, 9), 203: (69, 6), 204: (73, 8), 205: (73, 7), 206: (73, 9),
    207: (73, 6), 208: (68, 3), 209: (78, 3), 210: (79, 8), 211: (79, 7), 212: (79, 9), 213: (79, 10),
    214: (79, 12, E), 215: (170, None), 216: (79, 11), 217: (85, 6), 218: (85, 5), 219: (85, 7), 220: (85, 8, E),
    221: (89, 4), 222: (84, 2, E), 223: (83, 2, E), 224: (65, 2), 225: (65, 1), 226: (65, 3), 227: (65, 4),
    228: (65, 10, E), 229: (91, None), 230: (104, None), 231: (67, 1), 232: (69, 3), 233: (69, 2), 234: (69, 4),
    235: (69, 1), 236: (73, 3), 237: (73, 2), 238: (73, 4), 239: (73, 1), 240: (68, 1), 241: (78, 1), 242: (79, 2),
    243: (79, 1), 244: (79, 3), 245: (79, 4), 246: (79, 12, E), 247: (171, None), 248: (79, 5), 249: (85, 2),
    250: (85, 1), 251: (85, 3), 252: (85, 8, E), 253: (89, 2), 254: (84, 2, E), 255: (89, 1)})
ansiintl = dict(
    name="ANSIINTL", codepage=1252, source="src/intl/collations/pw1252intl.h",
    weights=build([(0, 64, 0), (91, 96, 2), (123, 127, -24), (128, 191, -22)], intl1252, exp1252),
    upper=upper_map({224: 65, 225: 65, 226: 65, 227: 195, 228: 196, 229: 197, 230: 198, 231: 199,
                     232: 69, 233: 69, 234: 69, 235: 69, 236: 73, 237: 73, 238: 73, 239: 73, 240: 208, 241: 209,
                     242: 79, 243: 79, 244: 79, 245: 213, 246: 214, 248: 216, 249: 85, 250: 85, 251: 85, 252: 220,
                     253: 89, 254: 222, 255: 89}),
    lower=lower_map({b: b + 32 for b in range(192, 223) if b != 215}))

# ANSII850
i850 = ascii_letters([8, 1, 2, 2, 5, 1, 1, 1, 5, 1, 1, 1, 1, 2, 7, 1, 1, 1, 1, 1, 4, 1, 1, 1, 3, 1])
i850.update({
    170: (65, 1), 186: (79, 1),
    192: (65, 11), 193: (65, 10), 194: (65, 12), 195: (65, 14), 196: (65, 15, E), 197: (65, 13), 198: (65, 9),
    199: (67, 3), 200: (69, 8), 201: (69, 7), 202: (69, 9), 203: (69, 6), 204: (73, 8), 205: (73, 7), 206: (73, 9),
    207: (73, 6), 208: (68, 3), 209: (78, 3), 210: (79, 9), 211: (79, 8), 212: (79, 10), 213: (79, 11),
    214: (79, 13, E), 215: (164, None), 216: (79, 12), 217: (85, 6), 218: (85, 5), 219: (85, 7), 220: (85, 8, E),
    221: (89, 4), 222: (84, 2, E), 223: (83, 2, E), 224: (65, 4), 225: (65, 3), 226: (65, 5), 227: (65, 7),
    228: (65, 15, E), 229: (65, 6), 230: (65, 2), 231: (67, 1), 232: (69, 3), 233: (69, 2), 234: (69, 4),
    235: (69, 1), 236: (73, 3), 237: (73, 2), 238: (73, 4), 239: (73, 1), 240: (68, 1), 241: (78, 1), 242: (79, 3),
    243: (79, 2), 244: (79, 4), 245: (79, 5), 246: (79, 13, E), 247: (165, None), 248: (79, 6), 249: (85, 2),
    250: (85, 1), 251: (85, 3), 252: (85, 8, E), 253: (89, 2), 254: (84, 2, E), 255: (89, 1)})
u850 = {b: b - 32 for b in range(224, 255) if b != 247}
u850[255] = 89
ansii850 = dict(
    name="ANSII850", codepage=1252, source="src/intl/collations/pw1252i850.h",
    weights=build([(0, 64, 0), (91, 96, 0), (123, 169, -26), (171, 185, -27), (187, 191, -28)], i850, exp1252),
    upper=upper_map(u850),
    lower=lower_map({b: b + 32 for b in range(192, 223) if b != 215}))

# 'intl' (code page 437)
i437 = ascii_letters([4, 1, 2, 1, 5, 1, 1, 1, 5, 1, 1, 1, 1, 2, 4, 1, 1, 1, 1, 1, 4, 1, 1, 1, 2, 1])
i437.update({
    128: (67, 3), 129: (85, 5, E), 130: (69, 2), 131: (65, 3), 132: (65, 5, E), 133: (65, 2), 134: (91, None),
    135: (67, 1), 136: (69, 4), 137: (69, 1), 138: (69, 3), 139: (73, 1), 140: (73, 4), 141: (73, 3),
    142: (65, 5, E), 143: (92, None), 144: (69, 6), 145: (104, None), 146: (105, None), 147: (79, 3),
    148: (79, 5, E), 149: (79, 2), 150: (85, 3), 151: (85, 2), 152: (89, 1), 153: (79, 5, E), 154: (85, 5, E),
    160: (65, 1), 161: (73, 2), 162: (79, 1), 163: (85, 1), 164: (78, 1), 165: (78, 3), 225: (83, 2, E)})
intl437 = dict(
    name="intl", codepage=437, source="src/intl/collations/pd437intl.h",
    weights=build([(0, 64, 0), (91, 96, 2), (123, 127, -24), (155, 159, -49), (166, 224, -55), (226, 255, -56)],
                  i437, exp437),
    upper=upper_map({129: 154, 130: 69, 131: 65, 132: 142, 133: 65, 134: 143, 135: 128, 136: 69, 137: 69, 138: 69,
                     139: 73, 140: 73, 141: 73, 145: 146, 147: 79, 148: 153, 149: 79, 150: 85, 151: 85, 152: 89,
                     160: 65, 161: 73, 162: 79, 163: 85, 164: 165, 237: 232}),
    lower=lower_map({128: 135, 142: 132, 143: 134, 144: 130, 146: 145, 153: 148, 154: 129, 165: 164, 232: 237}))

tables = [ansiintl, ansii850, intl437]

def check(t):
    w = t["weights"]
    # Our sort key puts primaries first with 0 as the end: every byte but 0 needs a primary >= 1,
    # and bytes 1..64 must weigh as themselves (the fast path copies such values).
    assert w[0][0] == 0 and all(w[b][0] >= 1 for b in range(1, 256)), t["name"]
    assert all(w[b] == (b, 0, 0) for b in range(1, 65)), t["name"]
    assert all(t["upper"][b] == b for b in range(1, 65)), t["name"]
    # Bytes of one primary all have a secondary or none (so secondaries line up position by position).
    by_primary = {}
    for b in range(256):
        by_primary.setdefault(w[b][0], set()).add(w[b][1] == 0)
    assert all(len(v) == 1 for v in by_primary.values()), t["name"]
    assert max(p for p, _, _ in w) <= 255 and max(s for _, s, _ in w) <= 255

for t in tables:
    check(t)

def row(vals):
    return ", ".join(str(v) for v in vals)

out = ["// Generated by tools/gen_sort_orders.py from the published language-driver tables named there",
       "// (repository zabulus/core, src/intl/collations/). Do not edit by hand.", ""]
for t in tables:
    ident_name = "k" + "".join(ch for ch in t["name"].title() if ch.isalnum())
    out.append(f"// {t['name']}: {t['source']}")
    out.append(f"constexpr Table {ident_name}{{\"{t['name']}\", {t['codepage']}, \"{t['source']}\",")
    out.append("    {{")
    for i in range(0, 256, 8):
        out.append("        " + ", ".join("{%d, %d, %d}" % e for e in t["weights"][i:i + 8]) + ",")
    out.append("    }},")
    for key in ("upper", "lower"):
        out.append("    {{")
        for i in range(0, 256, 16):
            out.append("        " + row(t[key][i:i + 16]) + ",")
        out.append("    }},")
    out.append("};")
    out.append("")
out.append("constexpr const Table* kTables[] = {" + ", ".join(
    "&k" + "".join(ch for ch in t["name"].title() if ch.isalnum()) for t in tables) + "};")
path = sys.argv[1] if len(sys.argv) > 1 else "engine/sortorder/sort_order_tables.inc"
open(path, "w").write("\n".join(out) + "\n")
