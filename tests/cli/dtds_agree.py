# DTDs read as grammars (`--dtd`), against tarvo's own grammars and xmllint.
#
# Round trip: the DTD export of every grammar, read back, must give the
# grammar's own tables: the same elements, attributes and lists, every
# context numbered as before (the export notes how each row is reached).
# `tarvo check --dtd` must print byte for byte what `tarvo check` prints,
# over the examples and over generated valid and one-mistake documents.
#
# Differential: every DTD under tests/dtd/ is read by tarvo and, through a
# DOCTYPE, by `xmllint --valid`, over documents generated from the imported
# grammar (valid ones, and one-mistake mutations). Verdicts must agree,
# except where the import said on stderr that it checks more loosely.
#
#   TARVO=build/tarvo python3 dtds_agree.py [--seed N] [--count N] [--keep DIR]
import argparse
import json
import os
import random
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from exports_agree import Generator, Grammar, ROOT, TARVO, XMLLINT, run, tarvo_verdicts, to_xml  # noqa: E402

def grammar_json(args):
    rc, out, err = run([TARVO, "grammar", "--format", "json"] + args)
    assert rc == 0, err
    return json.loads(out)


def match_contexts(orig, imp):
    """Maps each (element or TEXT, context) of `imp` to the one of `orig` it stands for.

    Raises AssertionError where the two tables differ in more than numbering."""
    names = [e["name"] for e in orig["elements"]]
    assert names == [e["name"] for e in imp["elements"]], "elements differ"
    for eo, ei in zip(orig["elements"], imp["elements"]):
        assert eo["attributes"] == ei["attributes"], "attributes of %s differ" % eo["name"]
    go, gi = Grammar(orig), Grammar(imp)
    mapping, back = {}, {}
    work = []

    def pair(lo, li, where):
        closes = Grammar.may_close(lo), Grammar.may_close(li)
        assert closes[0] == closes[1], "%s: may close in one, not in the other" % where
        so = {n: c for n, c in lo if n != "END"}
        si = {n: c for n, c in li if n != "END"}
        assert set(so) == set(si), "%s: %s against %s" % (where, sorted(so), sorted(si))
        for n in so:
            key_i, key_o = (n, si[n]), (n, so[n])
            if key_i in mapping:
                assert mapping[key_i] == key_o, "%s: %s/%d stands for two contexts" % (where, n, si[n])
                continue
            assert key_o not in back, "%s: %s/%d has two images" % (where, n, so[n])
            mapping[key_i], back[key_o] = key_o, key_i
            work.append((key_o, key_i))

    for e in range(len(names)):
        pair(go.first(e), gi.first(e), "first of " + names[e])
    while work:
        o, i = work.pop()
        pair(go.after(o), gi.after(i), "after %s/%d" % o)
    for e in orig["roots"]:
        mapping.setdefault((e, 0), (e, 0))
    rows = lambda g: sum(len(e["rows"]) for e in g["elements"]) + len(g["text_rows"])
    assert rows(orig) == rows(imp), "row counts differ"
    return mapping


def generate(g, name, count, seed, work, docs, doctype=None, tokens=()):
    rng = random.Random("%d/%s" % (seed, name))
    gen = Generator(g, rng)
    gen.attributes = lambda e, gen=gen: named_values(gen, e)
    for i in range(count):
        tree = gen.document()
        what, where = "valid", None
        if i % 3:
            m = (tokens and rng.random() < 0.2 and break_token(tree, tokens, rng)) or gen.mutate(tree)
            if m:
                what, where = m
        text = to_xml(tree)
        if doctype:
            head, body = text.split("\n", 1)
            text = '%s\n<!DOCTYPE %s SYSTEM "%s">\n%s' % (head, tree[0], doctype, body)
        path = os.path.join(work, "%s_%04d.xml" % (name, i))
        with open(path, "w") as f:
            f.write(text)
        docs[path] = (what, where)


def break_token(tree, places, rng):
    """A value that is no name token, for an attribute whose type the import checks loosely."""
    nodes = []

    def walk(n):
        nodes.append(n)
        for c in n[2]:
            if isinstance(c, list):
                walk(c)
    walk(tree)
    found = [(n, i) for n in nodes for i, (k, v) in enumerate(n[1]) if (n[0], k) in places]
    if not found:
        return None
    n, i = rng.choice(found)
    n[1][i][1] = "two words"
    return "token", n[0]


COUNTER = [0]


def named_values(gen, e):
    """Attribute values that are also names, each unique: fit for every attribute type but IDREF."""
    out = []
    for a in gen.g.info["elements"][e]["attributes"]:
        if not a["required"] and gen.rng.random() < 0.5:
            continue
        COUNTER[0] += 1
        out.append([a["name"], gen.rng.choice(a["values"]) if a["values"] else "v%d" % COUNTER[0]])
    gen.rng.shuffle(out)
    return out


def round_trip(name, count, seed, work, report):
    dtd = os.path.join(work, name + ".dtd")
    rc, out, err = run([TARVO, "export", name, "--format", "dtd", "-o", dtd])
    assert rc == 0, err
    orig = grammar_json([name])
    try:
        mapping = match_contexts(orig, grammar_json(["--dtd", dtd]))
    except AssertionError as e:
        return ["%s: the imported tables differ: %s" % (name, e)]
    docs = {}
    examples = os.path.join(ROOT, "examples", name)
    for f in sorted(os.listdir(examples)):
        docs[os.path.join(examples, f)] = ("example", None)
    generate(Grammar(orig), name, count, seed, work, docs)
    paths = list(docs)
    _, want = tarvo_verdicts([name], paths)
    _, got = tarvo_verdicts(["--dtd", dtd], paths)
    renumbered = sum(1 for k, v in mapping.items() if k != v)
    report.append("%-30s %4d documents: check --dtd output %s; %d of %d contexts renumbered" %
                  (name, len(paths), "identical" if got == want else "different", renumbered, len(mapping)))
    if renumbered:
        return ["%s: the imported tables number %d contexts otherwise" % (name, renumbered)]
    if got != want:
        return ["%s: check --dtd prints other messages than check %s" % (name, name)]
    return []


def xmllint_valid(paths, work):
    rc, out, err = run([XMLLINT, "--noout", "--nonet", "--valid", "--path", work] + paths)
    return {p: not re.search(r"^%s:\d+: .*(error|warning) ?:" % re.escape(p), err, re.M) for p in paths}


def loosened(stderr):
    out = set()
    for m in re.finditer(r"checked more loosely than the DTD at (element (\S+)|attribute \S+ of (\S+)):", stderr):
        out.add((m.group(2) or m.group(3)).rstrip(":"))
    return out


def generated(dtd, name, count, seed, work, doctype):
    """Documents generated from the grammar `dtd` imports, and the elements it checks loosely."""
    rc, out, err = run([TARVO, "grammar", "--format", "json", "--dtd", dtd])
    assert rc == 0, err
    tokens = set((e, a) for a, e in re.findall(r"at attribute (\S+) of (\S+): type ", err))
    docs = {}
    generate(Grammar(json.loads(out)), name, count, seed, work, docs, doctype=doctype, tokens=tokens)
    return docs, loosened(err)


def judge(docs, tarvo, lint, loose, how):
    """Failures, agreements and loosened acceptances of tarvo's verdicts against xmllint's."""
    failures, agree, loose_count = [], 0, 0
    for p, (what, where) in docs.items():
        if what == "valid" and not tarvo[p]:
            failures.append("%s: generated as valid, but tarvo refuses it" % p)
        if lint[p] == tarvo[p]:
            agree += 1
        elif tarvo[p] and where in loose:
            loose_count += 1
        else:
            failures.append("%s: tarvo %s says %s, xmllint --valid says %s (%s in %s)" %
                            (p, how, "valid" if tarvo[p] else "invalid", "valid" if lint[p] else "invalid", what,
                             where))
    return failures, agree, loose_count


def differential(dtd, count, seed, work, report):
    name = os.path.splitext(os.path.basename(dtd))[0]
    local = os.path.join(work, os.path.basename(dtd))
    shutil.copy(dtd, local)
    docs, loose = generated(local, name, count, seed, work, os.path.basename(dtd))
    paths = list(docs)
    tarvo, _ = tarvo_verdicts(["--dtd", local], paths)
    failures, agree, loose_count = judge(docs, tarvo, xmllint_valid(paths, work), loose, "--dtd")
    report.append("%-30s %4d documents, %4d valid: %d agree, %d accepted only at loosened places" %
                  (os.path.basename(dtd), len(paths), sum(tarvo.values()), agree, loose_count))
    return failures


def internal_differential(dtd, count, seed, work, report):
    """The DTD as each document's internal subset, its general entities used in the text:
    `tarvo check --internal-dtd` against `xmllint --valid`."""
    with open(dtd) as f:
        subset = f.read()
    if "%" in subset or "<![" in subset:
        return []  # parameter entities in declarations and conditional sections stand only in external DTDs
    name = os.path.splitext(os.path.basename(dtd))[0] + "_internal"
    docs, loose = generated(dtd, name, count, seed, work, "x.dtd")
    uses = 0
    for i, p in enumerate(docs):
        with open(p) as f:
            text = f.read().replace(' SYSTEM "x.dtd">', " [\n%s]>" % subset, 1)
        if i % 2:
            for plain, entity in (("some text", "&some;"), (">42<", ">&answer;<")):
                if ("<!ENTITY %s " % entity.strip("><&;")) in subset and plain in text:
                    text = text.replace(plain, entity)
                    uses += 1
        with open(p, "w") as f:
            f.write(text)
    paths = list(docs)
    rc, out, err = run([TARVO, "check", "--internal-dtd"] + paths)
    if "No grammar found" in err:
        return ["%s: --internal-dtd found no grammar: %s" % (name, err[:300])]
    # The XML mode's messages give a column too.
    tarvo = {p: not re.search(r"^File %s, line " % re.escape(p), err, re.M) for p in paths}
    failures, agree, loose_count = judge(docs, tarvo, xmllint_valid(paths, work), loose, "--internal-dtd")
    report.append("%-30s %4d documents, %4d valid, %d entity uses: %d agree, %d accepted only at loosened places" %
                  (name, len(paths), sum(tarvo.values()), uses, agree, loose_count))
    return failures


def command_line(work):
    """import-dtd's outputs, exit statuses and messages."""
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append("%s: got %.300r, want %.300r" % (what, got, want))

    library = os.path.join(ROOT, "tests", "dtd", "library.dtd")
    out_file = os.path.join(work, "library.grammar")
    rc, out, err = run([TARVO, "import-dtd", library, "--root", "shelf"])
    rc2, out2, err2 = run([TARVO, "import-dtd", library, "-o", out_file])
    expect("import-dtd status", (rc, rc2, out2), (0, 0, ""))
    with open(out_file) as f:
        written = f.read()
    expect("-o and --root", written.replace("\ngrammar library\n", "\ngrammar shelf\n"),
           out.replace("#   root: a document may begin with any declared element, not only shelf\n", ""))
    expect("stderr", err, "tarvo: %s: checked more loosely than the DTD at root: a document may begin with "
                          "any declared element, not only shelf\n%s" % (library, err2))
    expect("loosened places as comments", all(("#   " + l.split(" at ", 1)[1]) in out for l in err.splitlines()), True)
    rc, out, err = run([TARVO, "check", "--grammar-file", out_file, os.path.join(work, "library_0001.xml")])
    rc2, out2, err2 = run([TARVO, "check", "--dtd", library, os.path.join(work, "library_0001.xml")])
    expect("the written file reads as the DTD", (rc, out), (rc2, out2))
    broken = os.path.join(work, "broken.dtd")
    with open(broken, "w") as f:
        f.write("<!ELEMENT a EMPTY>\n<!ELEMENT r (a?, a)>\n")
    for args in (["import-dtd", broken], ["check", "--dtd", broken, broken]):
        rc, out, err = run([TARVO] + args)
        expect(" ".join(args[:2]), (rc, out, err), (2, "", "%s:2: the content model of 'r' is not deterministic: "
                                                        "'a' may stand at two places at its start\n" % broken))
    rc, out, err = run([TARVO, "check", "--dtd", broken, "--grammar-file", out_file, broken])
    expect("--dtd with --grammar-file", rc, 2)
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=int(os.environ.get("TARVO_EXPORT_SEED", "12")))
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--keep", help="keep the documents and DTDs in this directory")
    a = ap.parse_args()
    if not shutil.which(XMLLINT):
        print("xmllint not found (Debian: libxml2-utils)", file=sys.stderr)
        return 1
    names = [n for n in re.findall(r"^(\S+) +\d+ ", run([TARVO, "grammars"])[1], re.M) if n != "total"]
    dtds = sorted(os.path.join(ROOT, "tests", "dtd", f) for f in os.listdir(os.path.join(ROOT, "tests", "dtd"))
                  if f.endswith(".dtd"))
    work = a.keep or tempfile.mkdtemp(prefix="tarvo-dtds-")
    os.makedirs(work, exist_ok=True)
    report, failures = [], []
    try:
        for n in names:
            failures += round_trip(n, a.count, a.seed, work, report)
        for d in dtds:
            failures += differential(d, a.count, a.seed, work, report)
            failures += internal_differential(d, a.count, a.seed, work, report)
        failures += command_line(work)
    finally:
        if not a.keep:
            shutil.rmtree(work)
    print("seed %d" % a.seed)
    for line in report:
        print(line)
    for f in failures[:20]:
        print("FAIL " + f)
    if failures:
        print("%d disagreements; replay with --seed %d --keep DIR" % (len(failures), a.seed))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
