# Every export and description of grammars whose names and values hold what
# XML and DTDs cannot (written by tarvo_hostile_grammars), read back:
#  - RELAX NG: well-formed XML (xmllint --noout), and a schema xmllint
#    compiles;
#  - DTD: a DTD xmllint reads without a parse error;
#  - text: UTF-8 without control characters but line ends;
#  - JSON: a JSON text; dot: UTF-8 and a Graphviz graph (by `dot` when
#    installed, by a reading of its syntax otherwise);
#  - the places listed as loosened: printable, as the text.
#
#   python3 exports_well_formed.py PATH/TO/tarvo_hostile_grammars [COUNT] [SEED]
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

XMLLINT = os.environ.get("XMLLINT", "xmllint")
CONTROL = re.compile(r"[\x00-\x09\x0b-\x1f\x7f-\x9f]")


def run(args):
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def check_rng(path, empty):
    rc, _, err = run([XMLLINT, "--noout", path])
    if rc != 0:
        return "not well-formed: " + err
    rc, _, err = run([XMLLINT, "--noout", "--relaxng", path, empty])
    if "failed to compile" in err or "parser error" in err:
        return "not a schema xmllint compiles: " + err
    return None


def check_dtd(path, empty):
    _, _, err = run([XMLLINT, "--noout", "--dtdvalid", path, empty])
    # The document is not valid against it; the DTD itself must read cleanly.
    bad = [line for line in err.splitlines() if line.startswith(path) or "Could not parse DTD" in line]
    return "DTD not read cleanly: " + err if bad else None


def check_text(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        return "not UTF-8: %s" % e
    m = CONTROL.search(text)
    return "control character %r at %d" % (m.group(), m.start()) if m else None


def check_json(path):
    with open(path, "rb") as f:
        try:
            json.loads(f.read().decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as e:
            return "not JSON: %s" % e
    return None


DOT_TOKEN = re.compile(r'\s+|"(?:[^"\\]|\\.)*"|[A-Za-z_][A-Za-z_0-9]*|-?\d+(?:\.\d+)?|->|[{}\[\];,=]', re.S)


def check_dot(path, dot):
    with open(path, "rb") as f:
        try:
            text = f.read().decode("utf-8")
        except UnicodeDecodeError as e:
            return "not UTF-8: %s" % e
    if dot:
        rc, _, err = run([dot, "-Tcanon", "-o", os.devnull, path])
        return "dot refuses it: " + err if rc != 0 else None
    at, depth = 0, 0
    while at < len(text):
        m = DOT_TOKEN.match(text, at)
        if not m:
            return "not Graphviz syntax at %d: %r" % (at, text[at:at + 40])
        depth += {"{": 1, "}": -1}.get(m.group(), 0)
        if depth < 0:
            return "unbalanced braces"
        at = m.end()
    return "unbalanced braces" if depth else None


def main():
    generator = sys.argv[1]
    count = sys.argv[2] if len(sys.argv) > 2 else "200"
    seed = sys.argv[3] if len(sys.argv) > 3 else "1"
    if not shutil.which(XMLLINT):
        print("xmllint not found: skipped")
        return 77
    dot = shutil.which("dot")
    work = tempfile.mkdtemp(prefix="tarvo-hostile-")
    try:
        rc, out, err = run([generator, work, count, seed])
        if rc != 0:
            print("generator failed: " + err)
            return 1
        print(out.strip())
        empty = os.path.join(work, "empty.xml")
        with open(empty, "w") as f:
            f.write('<?xml version="1.0"?>\n<x/>\n')
        failures = []
        for n in range(int(count)):
            base = os.path.join(work, str(n))
            checks = [(".rng", lambda p: check_rng(p, empty)), (".dtd", lambda p: check_dtd(p, empty)),
                      (".loosened", check_text)]
            for one in ("", ".one"):
                checks += [(one + ".txt", check_text), (one + ".json", check_json),
                           (one + ".dot", lambda p: check_dot(p, dot))]
            for suffix, check in checks:
                problem = check(base + suffix)
                if problem:
                    failures.append("%s%s: %s" % (n, suffix, problem.strip()[:600]))
        for f in failures:
            print(f)
        if failures:
            print("%d problems; the files are kept in %s" % (len(failures), work))
            return 1
        print("all read back well-formed (Graphviz check: %s)" % ("dot" if dot else "syntax"))
        shutil.rmtree(work)
        return 0
    except BaseException:
        print("the files are kept in " + work)
        raise


if __name__ == "__main__":
    sys.exit(main())
