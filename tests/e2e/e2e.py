#!/usr/bin/env python3
"""End-to-end: the real AtuaTarvo.exe under Wine against real table files in the prefix.

usage: e2e.py SCENARIO --source DIR --native DIR --win64 DIR

Each scenario writes the product's table (or none) at c:\\VisualTarvo\\based\\movimento.db of the
project's Wine prefix, works the program through e2e_drive.exe, and then checks what the user saw
and what is on disk: files byte-identical, or both indexes present, verified by the checker and
every record read back by pxlib through the new primary index.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys

TITLE = "Atualização N.º 01 TARVO"
QUESTION = "O TARVO será atualizado.  Continuar?"
UNEXPECTED = "Erro inesperado. Sistema não atualizado.\\r"
NOT_INSTALLED = UNEXPECTED + "É necessário instalar o TARVO antes de executar a atualização."
SUCCESS = "Atualização executada com sucesso."
TABLE = "c:\\VisualTarvo\\based\\movimento.db"

# name: (table options or None, prepare, answer, hold the table open, what the user sees, files after)
SCENARIOS = {
    "confirmed": (["--records", "3000"], None, "yes", False,
                  [f"box: {TITLE} | {SUCCESS}", "exit: 0"], "both"),
    "answered-no": (["--records", "500"], None, "no", False, ["running", "exit: 0"], "unchanged"),
    "dialog-closed": (["--records", "500"], None, "close", False, ["running", "exit: 0"], "unchanged"),
    "no-table": (None, None, "yes", False, [f"box: {TITLE} | {NOT_INSTALLED}", "running", "exit: 0"], "unchanged"),
    "no-cnpj": (["--records", "500", "--no-cnpj"], None, "yes", False,
                [f"error: {TITLE} | Field 'cad_cd_cnpj' not found in table {TABLE}.", "running", "exit: 0"], "primary"),
    # An update killed just after the switch of CNPJ_IDX was committed: a journal and temporary
    # files wait for the program's own recovery, which the first open of the next run does (the
    # new run could not rebuild a pair left half in place).
    "after-power-loss": (["--records", "2000"], "interrupt", "yes", False,
                         [f"box: {TITLE} | {SUCCESS}", "exit: 0"], "both"),
    "already-updated": (["--records", "2000"], "add-both", "yes", False,
                        [f"box: {TITLE} | {SUCCESS}", "exit: 0"], "both"),
    "duplicate-key": (["--records", "500", "--duplicate-key"], None, "yes", False,
                      [f"error: {TITLE} | <engine>", "running", "exit: 0"], "unchanged"),
    "product-running": (["--records", "500"], None, "yes", True,
                        [f"error: {TITLE} | <engine>", "running", "exit: 0"], "unchanged"),
}
# Tables under the international sort orders, with CNPJ and CPF values of every kind mixed.
for _order in ("ANSIINTL", "ANSII850", "intl"):
    SCENARIOS["sort-order-" + _order.lower()] = (["--records", "20000", "--mixed-ids", "--sort-order", _order], None, "yes", False,
                                                 [f"box: {TITLE} | {SUCCESS}", "exit: 0"], "both")


def snapshot(folder):
    if not os.path.isdir(folder):
        return {}
    return {name: hashlib.sha256(open(os.path.join(folder, name), "rb").read()).hexdigest()
            for name in sorted(os.listdir(folder))}


def find(folder, ext):
    for name in os.listdir(folder):
        if name.lower() == "movimento." + ext.lower():
            return os.path.join(folder, name)
    return None


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    ap.add_argument("--source", required=True)
    ap.add_argument("--native", required=True)
    ap.add_argument("--win64", required=True)
    a = ap.parse_args()
    table_opts, prepare, answer, hold, expected, after = SCENARIOS[a.scenario]

    prefix = os.environ.get("WINEPREFIX", os.path.join(a.source, "build", "wineprefix"))
    based = os.path.join(prefix, "drive_c", "VisualTarvo", "based")
    shutil.rmtree(based, ignore_errors=True)
    os.makedirs(based)
    table = os.path.join(based, "movimento.db")
    tool = os.path.join(a.native, "tests", "e2e", "e2e-table")
    checker = os.path.join(a.native, "engine", "check", "tarvo-check")

    failures = []
    if table_opts is not None:
        r = run([os.path.join(a.native, "tools", "make-movimento"), table, "--seed", "7"] + table_opts)
        assert r.returncode == 0, r.stderr
        before_digest = run([tool, "digest", table]).stdout.strip()
        if prepare:
            r = run([tool, prepare, table])
            if prepare == "interrupt":
                # The process died where it was meant to, leaving what an interrupted update leaves.
                assert r.returncode == 3, f"the update was not interrupted ({r.returncode}): {r.stderr}"
                left = sorted(os.listdir(based))
                assert "movimento.db.atuajnl" in left and any(n.endswith(".atuatmp") for n in left), \
                    f"no committed journal and temporary files after the interruption: {left}"
                print("left by the interrupted update:", " ".join(left))
            else:
                assert r.returncode == 0, r.stderr
    before = snapshot(based)

    exe = "Z:" + os.path.join(a.win64, "app", "AtuaTarvo.exe").replace("/", "\\")
    drive = [os.path.join(a.source, "tools", "wine-run.sh"),
             os.path.join(a.win64, "tests", "wine", "e2e", "e2e_drive.exe"),
             "--exe=" + exe, "--answer=" + answer]
    if hold:
        drive.append("--hold=c:\\VisualTarvo\\based\\movimento.db")
    r = run(drive, timeout=240)
    seen = [line for line in r.stdout.splitlines() if line.strip()]
    print("the user saw:\n  " + "\n  ".join(seen))
    if r.returncode != 0:
        failures.append(f"driver failed ({r.returncode}): {r.stderr.strip()}")
    want = [f"confirm: {QUESTION}"] + expected
    if len(seen) != len(want):
        failures.append(f"expected {len(want)} observations, got {len(seen)}: {want}")
    for got, exp in zip(seen, want):
        if exp.endswith("<engine>"):
            # The engine's own message: a sentence naming the table, ended by the report's full stop.
            head = exp[: -len("<engine>")]
            text = got[len(head):]
            if not got.startswith(head) or "movimento.db" not in text.lower() or not text.endswith("."):
                failures.append(f"expected the engine's message naming the table, got: {got}")
        elif got != exp:
            failures.append(f"expected: {exp}\n       got: {got}")

    now = snapshot(based)
    if after == "unchanged":
        if now != before:
            failures.append(f"files changed: before {before}, after {now}")
    else:
        px = find(based, "PX")
        xg, yg = find(based, "XG0"), find(based, "YG0")
        if px is None:
            failures.append("no primary index file")
        if after == "both" and (xg is None or yg is None):
            failures.append("no CNPJ_IDX files")
        if after == "primary" and (xg or yg):
            failures.append("a secondary index was written")
        c = run([checker, table])
        print(c.stdout)
        if c.returncode != 0:
            failures.append(f"the checker found problems: {c.stdout}{c.stderr}")
        if px:
            # pxlib reads single-level primary trees only; a deeper one the checker has walked, and
            # pxlib then reads every record in chain order.
            m = re.search(r"primary index on \S+, (\d+) levels?", c.stdout)
            d = run([tool, "digest", table] + ([px] if m is None or int(m.group(1)) <= 1 else []))
            if d.returncode != 0 or d.stdout.strip() != before_digest:
                failures.append(f"records read back through the index differ: {d.stdout}{d.stderr} vs {before_digest}")
        extra = set(now) - {os.path.basename(p) for p in (table, px, xg, yg) if p}
        if extra:
            failures.append(f"unexpected files left in the folder: {sorted(extra)}")

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
