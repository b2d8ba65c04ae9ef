# The RELAX NG and DTD exports of every grammar against tarvo itself.
#
# For each grammar: the examples, then documents generated from the grammar
# (valid ones, and one-mistake mutations of them), are judged by tarvo in
# strict mode, by xmllint with the RELAX NG export and by xmllint with the
# DTD export. Every verdict must agree with tarvo's, except where the export
# said on stderr that it accepts more: such documents are counted apart. The
# same documents are also checked with the grammar loaded from its grammar
# file, whose output must equal the built-in grammar's byte for byte.
#
#   TARVO=build/tarvo python3 exports_agree.py [--seed N] [--count N] [--keep DIR] [GRAMMAR...]
#
# The seed is printed; the same seed gives the same documents.
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

TARVO = os.environ.get("TARVO", "build/tarvo")
XMLLINT = os.environ.get("XMLLINT", "xmllint")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def run(args, **kw):
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600, **kw)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


class Grammar:
    """A grammar's content automata, as `tarvo grammar --format json` gives them."""

    def __init__(self, info):
        self.info = info
        self.names = [e["name"] for e in info["elements"]]
        self.index = {n: i for i, n in enumerate(self.names)}

    def items(self, lst):
        out = []
        for it in lst:
            if it == "END":
                out.append(("END", None))
            else:
                name, ctx = it.rsplit("/", 1)
                out.append((name, int(ctx)))
        return out

    def first(self, e):
        return self.items(self.info["elements"][e]["first"])

    def after(self, item):
        name, ctx = item
        if name == "TEXT":
            return self.items(self.info["text_rows"][ctx])
        return self.items(self.info["elements"][self.index[name]]["rows"][ctx])

    @staticmethod
    def may_close(lst):
        return not lst or any(name in ("END", "TEXT") for name, _ in lst)


class Generator:
    def __init__(self, grammar, rng):
        self.g = grammar
        self.rng = rng
        self.size = self.min_sizes()

    def min_sizes(self):
        """Fewest elements a valid subtree of each element needs (fixpoint)."""
        g, inf = self.g, float("inf")
        size = [inf] * len(g.names)
        for _ in range(len(g.names) + 2):
            for e in range(len(g.names)):
                size[e] = min(size[e], 1 + self.cheapest(g.first(e), size, set()))
        return size

    def cheapest(self, lst, size, seen):
        """Fewest elements to reach a close from a list (bounded search over positions)."""
        best = 0 if Grammar.may_close(lst) else float("inf")
        for item in lst:
            name = item[0]
            if name == "END" or item in seen:
                continue
            cost = 0 if name == "TEXT" else size[self.g.index[name]]
            if cost >= best:
                continue
            best = min(best, cost + self.cheapest(self.g.after(item), size, seen | {item}))
        return best

    def attributes(self, e):
        out = []
        for a in self.g.info["elements"][e]["attributes"]:
            if not a["required"] and self.rng.random() < 0.5:
                continue
            value = self.rng.choice(a["values"]) if a["values"] else self.rng.choice(["x", "a b", "12", "v&amp;w"])
            out.append([a["name"], value])
        self.rng.shuffle(out)
        return out

    def element(self, e, depth):
        return [self.g.names[e], self.attributes(e), self.content(self.g.first(e), depth)]

    def content(self, lst, depth):
        children, after_text = [], False
        while True:
            options = [it for it in lst if it[0] != "END" and not (it[0] == "TEXT" and after_text)]
            closing = Grammar.may_close(lst)
            deep = depth > 6 or len(children) > 6
            if closing and (not options or deep or self.rng.random() < 0.25):
                return children
            if deep:
                # Keep the document finite: the cheapest way to a close.
                def cost(it):
                    own = 0 if it[0] == "TEXT" else self.size[self.g.index[it[0]]]
                    return own + self.cheapest(self.g.after(it), self.size, {it})
                options = [min(options, key=cost)]
            if not options:
                return children
            item = self.rng.choice(options)
            if item[0] == "TEXT":
                children.append(self.rng.choice(["some text", "a &lt; b", "42"]))
                after_text = True
            else:
                children.append(self.element(self.g.index[item[0]], depth + 1))
                after_text = False
            lst = self.g.after(item)

    def document(self):
        roots = [self.g.index[r] for r in self.g.info["roots"]] or list(range(len(self.g.names)))
        e = self.rng.choice(roots) if self.rng.random() < 0.85 else self.rng.randrange(len(self.g.names))
        return self.element(e, 0)

    # One mistake each; returns (tree, element name the mistake lies in), or None when it does not apply.
    def mutate(self, tree):
        nodes = []

        def walk(n):
            nodes.append(n)
            for c in n[2]:
                if isinstance(c, list):
                    walk(c)
        walk(tree)
        rng, g = self.rng, self.g
        kind = rng.choice(["misplaced", "missing", "unknown", "text", "required", "value", "attribute"])
        n = rng.choice(nodes)
        decl = g.info["elements"][g.index[n[0]]]["attributes"]
        if kind == "misplaced":
            n[2].insert(rng.randint(0, len(n[2])), self.element(rng.randrange(len(g.names)), 5))
        elif kind == "missing":
            kids = [i for i, c in enumerate(n[2]) if isinstance(c, list)]
            if not kids:
                return None
            del n[2][rng.choice(kids)]
        elif kind == "unknown":
            n[2].insert(rng.randint(0, len(n[2])), ["Unknown" + str(rng.randint(1, 9)), [], []])
        elif kind == "text":
            at = rng.randint(0, len(n[2]))
            if (at > 0 and isinstance(n[2][at - 1], str)) or (at < len(n[2]) and isinstance(n[2][at], str)):
                return None
            n[2].insert(at, "stray")
        elif kind == "required":
            given = [i for i, (k, v) in enumerate(n[1]) if any(a["name"] == k and a["required"] for a in decl)]
            if not given:
                return None
            del n[1][rng.choice(given)]
        elif kind == "value":
            listed = [i for i, (k, v) in enumerate(n[1]) if any(a["name"] == k and a["values"] for a in decl)]
            if not listed:
                return None
            n[1][rng.choice(listed)][1] = "not-listed"
        elif kind == "attribute":
            n[1].append(["bogus", "1"])
        return kind, n[0]


def serialize(n, out, indent=""):
    name, attrs, kids = n
    out.append("<" + name + "".join(' %s="%s"' % (k, v) for k, v in attrs))
    if not kids:
        out.append("/>")
        return
    out.append(">")
    # Whitespace only between elements that hold no text, where every reader ignores it.
    pretty = not any(isinstance(c, str) for c in kids)
    for c in kids:
        if pretty:
            out.append("\n" + indent + "  ")
        if isinstance(c, str):
            out.append(c)
        else:
            serialize(c, out, indent + "  ")
    if pretty:
        out.append("\n" + indent)
    out.append("</" + name + ">")


def to_xml(tree):
    out = ['<?xml version="1.0" encoding="UTF-8"?>\n']
    serialize(tree, out)
    out.append("\n")
    return "".join(out)


def tarvo_verdicts(grammar_args, paths):
    """Per file: valid or not, and the whole output for comparison."""
    rc, out, err = run([TARVO, "check"] + grammar_args + paths)
    bad = set(m for m in re.findall(r"^File (.+?)(?:, line \d+)?: ", err, re.M))
    return {p: p not in bad for p in paths}, out + err


def xmllint_verdicts(args, paths):
    rc, out, err = run([XMLLINT, "--noout", "--nonet"] + args + paths)
    verdicts = {}
    for p in paths:
        failed = re.search(r"^(%s fails to validate|Document %s does not validate)" % (re.escape(p), re.escape(p)), err, re.M)
        well_formed_error = re.search(r"^%s:\d+: parser error" % re.escape(p), err, re.M)
        verdicts[p] = not failed and not well_formed_error
    return verdicts


def loosened(stderr):
    """Elements named in the export's 'accepts more' lines (an attribute counts for its element)."""
    out = set()
    for m in re.finditer(r"accepts more than tarvo at (element (\S+)|attribute \S+ of (\S+)):", stderr):
        out.add((m.group(2) or m.group(3)).rstrip(":"))
    return out


def check_grammar(name, count, seed, work, report):
    rc, out, err = run([TARVO, "grammar", "--format", "json", name])
    assert rc == 0, err
    g = Grammar(json.loads(out))
    grammar_file = os.path.join(ROOT, g.info["grammar_file"])
    schemas, loose = {}, {}
    for fmt in ("rng", "dtd"):
        path = os.path.join(work, name + "." + fmt)
        rc, out, err = run([TARVO, "export", name, "--format", fmt, "-o", path])
        assert rc == 0, err
        schemas[fmt], loose[fmt] = path, loosened(err)

    docs = {}  # path -> (what, element the mistake lies in, or None)
    examples = os.path.join(ROOT, "examples", name)
    for f in sorted(os.listdir(examples)):
        docs[os.path.join(examples, f)] = ("example", None)
    rng = random.Random("%d/%s" % (seed, name))
    gen = Generator(g, rng)
    for i in range(count):
        tree = gen.document()
        what, where = "valid", None
        if i % 3:
            m = gen.mutate(tree)
            if m:
                what, where = m
        path = os.path.join(work, "%s_%04d.xml" % (name, i))
        with open(path, "w") as f:
            f.write(to_xml(tree))
        docs[path] = (what, where)
    paths = list(docs)

    # Examples that name their DTD in a DOCTYPE are also read as their
    # DOCTYPE says, finding the exported DTD by its SYSTEM name.
    with_doctype = []
    for p in paths:
        with open(p, "rb") as f:
            if docs[p][0] == "example" and b"<!DOCTYPE" in f.read(300):
                with_doctype.append(p)
    assert os.path.basename(schemas["dtd"]) == g.info["system_name"]

    tarvo, text = tarvo_verdicts([name], paths)
    _, loaded_text = tarvo_verdicts(["--grammar-file", grammar_file], paths)
    failures = []
    if loaded_text != text:
        failures.append("the grammar loaded from %s reads the documents differently" % grammar_file)
    verdicts = {"rng": xmllint_verdicts(["--relaxng", schemas["rng"]], paths),
                "dtd": xmllint_verdicts(["--dtdvalid", schemas["dtd"]], paths)}
    rc, out, err = run([XMLLINT, "--noout", "--nonet", "--valid", "--path", work] + with_doctype)
    for p in with_doctype:
        ok = not re.search(r"^%s:\d+: (validity|parser) (error|warning)|^%s:\d+: warning: failed to load" %
                           (re.escape(p), re.escape(p)), err, re.M)
        if ok != tarvo[p]:
            failures.append("%s: tarvo says %s, xmllint --valid with its DOCTYPE says %s" %
                            (p, "valid" if tarvo[p] else "invalid", "valid" if ok else "invalid"))
    counts = {"documents": len(paths), "valid": sum(tarvo.values()), "loosened rng": 0, "loosened dtd": 0}
    for p in paths:
        what, where = docs[p]
        if what == "valid" and not tarvo[p]:
            failures.append("%s: generated as valid, but tarvo refuses it" % p)
        for fmt in ("rng", "dtd"):
            v = verdicts[fmt][p]
            if v == tarvo[p]:
                continue
            if v and where in loose[fmt]:
                counts["loosened " + fmt] += 1
                continue
            failures.append("%s: tarvo says %s, xmllint with the %s export says %s (%s)" %
                            (p, "valid" if tarvo[p] else "invalid", fmt, "valid" if v else "invalid", what))
    report[name] = counts
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=int(os.environ.get("TARVO_EXPORT_SEED", "12")))
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--keep", help="keep the documents and schemas in this directory")
    ap.add_argument("grammars", nargs="*")
    a = ap.parse_args()
    if not shutil.which(XMLLINT):
        print("xmllint not found (Debian: libxml2-utils)", file=sys.stderr)
        return 1
    names = a.grammars or [json.loads(run([TARVO, "grammar", "--format", "json", n])[1])["name"]
                           for n in re.findall(r"^(\S+) +\d+ ", run([TARVO, "grammars"])[1], re.M) if n != "total"]
    work = a.keep or tempfile.mkdtemp(prefix="tarvo-exports-")
    os.makedirs(work, exist_ok=True)
    report, failures = {}, []
    try:
        for n in names:
            failures += check_grammar(n, a.count, a.seed, work, report)
    finally:
        if not a.keep:
            shutil.rmtree(work)
    print("seed %d" % a.seed)
    for n, c in report.items():
        print("%-30s %4d documents, %4d valid; accepted only at loosened places: rng %d, dtd %d" %
              (n, c["documents"], c["valid"], c["loosened rng"], c["loosened dtd"]))
    for f in failures[:20]:
        print("FAIL " + f)
    if failures:
        print("%d disagreements; replay with --seed %d --keep DIR" % (len(failures), a.seed))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
