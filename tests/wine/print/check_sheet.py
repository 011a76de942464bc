#!/usr/bin/env python3
"""Checks the PostScript jobs that one run of presses left in a CUPS spool.

    check_sheet.py SPOOL_DIR EXPECTED_JOBS TEXT_FILE OUT_DIR [PAPER]

PAPER is the paper the jobs must ask for: A4 (the default) or Letter, for a printer without A4.

TEXT_FILE holds the title and the template's lines (sheet_print_probe.exe --text). Prints one line
per failed check ("FAIL ...") and the figures measured on the first page; exits 1 on any failure.
"""
import glob
import os
import re
import subprocess
import sys
import unicodedata

DPI = 300
MM_PER_INCH = 25.4
PAPER_POINTS = {"A4": (595, 842), "Letter": (612, 792)}
TITLE_CENTRE_MM = 104.99
TITLE_TOP_MM, TITLE_BOTTOM_MM = 14.23, 23.23
TEXT_LEFT_MM, TEXT_BOTTOM_MM = 12.12, 186.75
CENTRE_TOLERANCE_MM = 0.5
PIXEL_MM = MM_PER_INCH / DPI
WINDOW_ONLY = ["VELMORA", "DASTRIN", "É recomendado imprimir este documento."]
# Lines that change from one job to the next however equal the pages are.
VOLATILE = re.compile(rb"^%%(CreationDate|For|Creator):")

failures = []


def fail(what):
    failures.append(what)
    print("FAIL " + what)


def px(mm):
    return mm / PIXEL_MM


def mm(pixels):
    return pixels * PIXEL_MM


def job_attribute(control_file, name):
    """The first value of a job attribute in a CUPS control file (IPP encoding: tag, name, value)."""
    data = open(control_file, "rb").read()
    key = len(name).to_bytes(2, "big") + name.encode()
    at = data.find(key)
    if at < 0:
        return None
    at += len(key)
    length = int.from_bytes(data[at:at + 2], "big")
    return data[at + 2:at + 2 + length]


def check_structure(path, paper):
    data = open(path, "rb").read()
    lines = data.split(b"\n")
    titles = [l for l in lines if l.startswith(b"%%Title:")]
    if titles != [b"%%Title: "] and titles != [b"%%Title:"]:
        fail(f"{path}: document name is not empty: {titles!r}")
    if sum(1 for l in lines if l.startswith(b"%%Page: ")) != 1 or data.count(b"showpage") != 1:
        fail(f"{path}: not exactly one page")
    if b"%%Pages: 1" not in lines:
        fail(f"{path}: %%Pages does not say 1")
    points = PAPER_POINTS[paper]
    if not re.search(rb"/PageSize\s*\[\s*%d\s+%d\s*\]" % points, data):
        fail(f"{path}: page size is not {paper} ({points[0]} x {points[1]} points)")
    if b"%%Orientation: Portrait" not in lines:
        fail(f"{path}: not portrait")
    return [l for l in lines if not VOLATILE.match(l)]


def read_pgm(path):
    data = open(path, "rb").read()
    fields = re.match(rb"P5\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s+(\d+)\s", data)
    width, height = int(fields.group(1)), int(fields.group(2))
    pixels = data[fields.end():]
    return width, height, [pixels[y * width:(y + 1) * width] for y in range(height)]


def ink_columns(row):
    """First and last non-white column of a row, or None."""
    left = len(row) - len(row.lstrip(b"\xff"))
    if left == len(row):
        return None
    return left, len(row.rstrip(b"\xff")) - 1


def check_pixels(job, out_dir, paper):
    pgm = os.path.join(out_dir, "page300.pgm")
    subprocess.run(["gs", "-q", "-dSAFER", "-sDEVICE=pgmraw", f"-r{DPI}", "-o", pgm, job], check=True)
    width, height, rows = read_pgm(pgm)
    points = PAPER_POINTS[paper]
    expected = (int(points[0] / 72 * DPI), int(points[1] / 72 * DPI))
    if (width, height) != expected:
        fail(f"rendered page is {width} x {height} pixels, not {paper}'s {expected[0]} x {expected[1]}")

    inked = [y for y in range(height) if ink_columns(rows[y])]
    if not inked:
        fail("the page is blank")
        return {}
    top, bottom = inked[0], inked[-1]

    # The title: every inked row from the page's top down to the first blank gap after it.
    title_rows = []
    for y in inked:
        if title_rows and y > title_rows[-1] + 1:
            break
        title_rows.append(y)
    spans = [ink_columns(rows[y]) for y in title_rows]
    left, right = min(s[0] for s in spans), max(s[1] for s in spans)
    centre = mm((left + right + 1) / 2)
    if abs(centre - TITLE_CENTRE_MM) > CENTRE_TOLERANCE_MM:
        fail(f"title centred on {centre:.2f} mm, not {TITLE_CENTRE_MM} mm")
    if mm(title_rows[0]) < TITLE_TOP_MM or mm(title_rows[-1] + 1) > TITLE_BOTTOM_MM:
        fail(f"title ink {mm(title_rows[0]):.2f}..{mm(title_rows[-1] + 1):.2f} mm outside its box's "
             f"{TITLE_TOP_MM}..{TITLE_BOTTOM_MM} mm")

    if mm(bottom + 1) > TEXT_BOTTOM_MM + PIXEL_MM:
        fail(f"ink at {mm(bottom + 1):.2f} mm, below the text box's bottom {TEXT_BOTTOM_MM} mm")
    text_left = min(ink_columns(rows[y])[0] for y in inked if y > title_rows[-1])
    if mm(text_left) < TEXT_LEFT_MM - PIXEL_MM:
        fail(f"text starts {mm(text_left):.2f} mm from the left edge, left of {TEXT_LEFT_MM} mm")
    return {"title-centre-mm": centre, "title-ink-width-mm": mm(right + 1 - left),
            "title-ink-top-mm": mm(title_rows[0]), "text-left-mm": mm(text_left),
            "ink-top-mm": mm(top), "ink-bottom-mm": mm(bottom + 1)}


def normalise(text):
    # The fonts sent to the printer share one glyph between look-alike characters, and the text
    # read back names the other one (the soft hyphen for "-", the Greek question mark for ";");
    # spacing is not kept either.
    text = unicodedata.normalize("NFKC", text).replace("\u00ad", "-")
    return " ".join(text.split())


def check_text(job, expected_file, out_dir):
    pdf = os.path.join(out_dir, "page.pdf")
    subprocess.run(["ps2pdf", job, pdf], check=True)
    printed = subprocess.run(["pdftotext", pdf, "-"], check=True, capture_output=True).stdout.decode("utf-8")
    got = [normalise(l) for l in printed.splitlines() if normalise(l)]
    expected_lines = open(expected_file, encoding="utf-8").read().splitlines()
    title, paragraphs = normalise(expected_lines[0]), [normalise(l) for l in expected_lines[1:]]
    if len(expected_lines) - 1 != 37:
        fail(f"the template holds {len(expected_lines) - 1} lines, not 37")

    if not got or got[0] != title:
        fail(f"first printed line is {got[:1]!r}, not the title {title!r}")
    at = 1
    for number, paragraph in enumerate(paragraphs, start=1):
        if not paragraph:
            continue
        # A paragraph wider than the box arrives as several printed lines.
        joined = ""
        while at < len(got) and len(joined) < len(paragraph):
            joined = (joined + " " + got[at]).strip()
            at += 1
        if joined != paragraph:
            fail(f"line {number}: printed {joined!r}, expected {paragraph!r}")
            return
    if at != len(got):
        fail(f"printed text goes on after the last line: {got[at:]!r}")
    whole = normalise(printed)
    for line in WINDOW_ONLY:
        if line in whole:
            fail(f"the window-only line {line!r} is printed")


def main():
    spool, expected_jobs, text_file, out_dir = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    paper = sys.argv[5] if len(sys.argv) > 5 else "A4"
    jobs = sorted(glob.glob(os.path.join(spool, "d*-001")))
    print(f"jobs {len(jobs)}")
    if len(jobs) != expected_jobs:
        fail(f"{len(jobs)} jobs in the queue, expected {expected_jobs}")
    for control in sorted(glob.glob(os.path.join(spool, "c*"))):
        name = job_attribute(control, "job-name")
        if name != b"":
            fail(f"{control}: job name {name!r} is not empty")
        copies = job_attribute(control, "copies")
        if copies is not None and int.from_bytes(copies, "big") != 1:
            fail(f"{control}: {int.from_bytes(copies, 'big')} copies, not 1")
    if jobs:
        pages = [check_structure(job, paper) for job in jobs]
        for job, page in zip(jobs[1:], pages[1:]):
            if page != pages[0]:
                fail(f"{job} differs from {jobs[0]}")
        fonts = sorted(set(re.findall(rb"/FontName /(\S+) def", open(jobs[0], "rb").read())))
        print("fonts " + " ".join(f.decode() for f in fonts))
        figures = check_pixels(jobs[0], out_dir, paper)
        for key, value in figures.items():
            print(f"{key} {value:.2f}")
        check_text(jobs[0], text_file, out_dir)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
