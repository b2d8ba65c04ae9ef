# The XML reading mode (-X) against xmllint's well-formedness verdict.
#
# Documents are generated from a seed: well-formed ones that use every
# construct the mode reads (byte-order mark, XML declaration, comments,
# processing instructions, a DOCTYPE with an internal subset, CDATA,
# character and predefined references, entities whose text holds markup,
# XML names, both quotes, line ends),
# and one-mistake copies of them, each with one well-formedness error. tarvo
# reads them with tests/xml/any.grammar, where any element may stand
# anywhere, so only the syntax decides; every verdict must equal
# `xmllint --noout`'s.
#
#   TARVO=build/tarvo python3 wellformed_agree.py [--seed N] [--count N] [--keep DIR]
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

TARVO = os.environ.get("TARVO", "build/tarvo")
XMLLINT = os.environ.get("XMLLINT", "xmllint")
HERE = os.path.dirname(os.path.abspath(__file__))
GRAMMAR = os.path.join(HERE, "any.grammar")

TEXTS = ["x", "caf\u00e9", "\u65e5\u672c", "\U0001F600", "a &amp; b", "&lt;&gt;&quot;&apos;", "&#233;&#x1F600;",
         "line\r\nend", "tab\there", " ", "]", "]]", "a > b"]
VALUES = ["1", "", "caf\u00e9", "a&#10;b", "t\tu", "&lt;&amp;", "&#x41;", "x\r\ny", ">"]
ATTRIBUTES = ["x-y", "data-id", "xml:lang", "ns:z", "_u", "v.w", "\u00e9t\u00e9", "n2"]


class Doc:
    """A document as a list of pieces, so that mistakes can be put between them."""

    def __init__(self, rnd):
        self.rnd = rnd
        self.prolog = []
        self.body = []

    def misc(self):
        r = self.rnd.random()
        if r < 0.3:
            return "<!--%s-->" % self.rnd.choice(["", " c ", "a-b", "\u00e9", " > ] "])
        if r < 0.5:
            return "<?%s %s?>" % (self.rnd.choice(["pi", "x-y", "xml-stylesheet", "p.q"]), self.rnd.choice(["", "a b", "?", "]]>"]))
        return self.rnd.choice([" ", "\n", "\r\n", "\t"])


# Entities whose text holds markup, for a document's internal subset, and
# the references to them its content may hold.
MARKUP_ENTITIES = ("<!ENTITY m1 \"<a id='1'/>t&amp;<b>&#233;</b>\">\n"
                   "<!ENTITY m2 \"[&m1;]<!--c--><?p?><![CDATA[<]]>\">\n")
MARKUP_REFERENCES = ["&m1;", "&m2;"]


def element(rnd, depth, out, mistakes, refs=()):
    name = rnd.choice(["a", "b"]) if depth else "doc"
    attrs = []
    if name == "a" and rnd.random() < 0.5:
        attrs.append(("id", rnd.choice(VALUES)))
    for n in rnd.sample(ATTRIBUTES, rnd.randint(0, 2)):
        attrs.append((n, rnd.choice(VALUES)))
    tag = "<" + name
    for i, (n, v) in enumerate(attrs):
        q = rnd.choice(['"', "'"])
        tag += rnd.choice([" ", "\n", "\t  "]) + n + rnd.choice(["=", " = "]) + q + v + q
        mistakes.append(("attribute", len(out), tag))
    tag += rnd.choice(["", " ", "\n"])
    if depth > 3 or rnd.random() < 0.3:
        out.append(tag + "/>")
        return
    out.append(tag + ">")
    for _ in range(rnd.randint(0, 4)):
        r = rnd.random()
        if refs and r < 0.1:
            out.append(rnd.choice(refs))
        elif r < 0.35:
            element(rnd, depth + 1, out, mistakes, refs)
        elif r < 0.6:
            out.append(rnd.choice(TEXTS).replace("]]", "] ]") if rnd.random() < 0.5 else rnd.choice(TEXTS[:7]))
            mistakes.append(("text", len(out) - 1, None))
        elif r < 0.7:
            out.append("<![CDATA[%s]]>" % rnd.choice(["", "<a>&amp;", "]", "x]]y", "\u00e9"]))
        elif r < 0.85:
            out.append("<!--%s-->" % rnd.choice(["", " c ", "a-b"]))
            mistakes.append(("comment", len(out) - 1, None))
        else:
            out.append("<?p %s?>" % rnd.choice(["", "x", "<>"]))
    out.append("</" + name + rnd.choice(["", " ", "\n"]) + ">")


def generate(rnd):
    pieces = []
    if rnd.random() < 0.2:
        pieces.append("\ufeff")
    if rnd.random() < 0.6:
        decl = '<?xml version="1.%d"' % rnd.choice([0, 0, 1])
        if rnd.random() < 0.5:
            decl += " encoding='%s'" % rnd.choice(["UTF-8", "utf-8"])
        if rnd.random() < 0.3:
            decl += ' standalone="%s"' % rnd.choice(["yes", "no"])
        pieces.append(decl + "?>")
    d = Doc(rnd)
    for _ in range(rnd.randint(0, 2)):
        pieces.append(d.misc())
    if rnd.random() < 0.5:
        dt = "<!DOCTYPE doc"
        if rnd.random() < 0.5:
            dt += ' SYSTEM "doc.dtd"'
        refs = []
        if rnd.random() < 0.6:
            dt += " [\n<!ELEMENT doc ANY>\n<!ATTLIST a id CDATA '>]'>\n<!-- ] -->\n<?pi ]>?>\n"
            if rnd.random() < 0.5:
                dt += MARKUP_ENTITIES
                refs = MARKUP_REFERENCES
            dt += "]"
        pieces.append(dt + ">")
    else:
        refs = []
    for _ in range(rnd.randint(0, 2)):
        pieces.append(d.misc())
    body, mistakes = [], []
    element(rnd, 0, body, mistakes, refs)
    trailer = [d.misc() for _ in range(rnd.randint(0, 2))]
    return pieces, body, trailer, mistakes


# One well-formedness error each: (name, function of (prolog, body, trailer, rnd) -> new pieces or None).
def spoil(kind, pieces, body, trailer, rnd, mistakes):
    body = list(body)
    i = rnd.randrange(len(body))
    if kind == "dashes in comment":
        body.insert(i, "<!-- a -- b -->")
    elif kind == "unterminated comment":
        body = body[:i] + ["<!-- a "]
    elif kind == "late xml declaration":
        body.insert(max(i, 1), '<?xml version="1.0"?>')
    elif kind == "forbidden reference":
        body.insert(max(i, 1), rnd.choice(["&#0;", "&#xD800;", "&#x110000;", "&#xFFFE;", "&#1;"]))
    elif kind == "undeclared entity":
        # Where the DOCTYPE names an external subset, which the mode never
        # reads, the entity could be declared there: XML then leaves the
        # reference to validation, while tarvo refuses it.
        if any(p.startswith("<!DOCTYPE") and "SYSTEM" in p for p in pieces):
            return None
        body.insert(max(i, 1), "&nope;")
    elif kind == "bare ampersand":
        body.insert(max(i, 1), "a & b")
    elif kind == "duplicate attribute":
        j = body[0].rfind(">")
        body[0] = body[0][:j].rstrip("/") + ' d="1" d="2"' + body[0][j - (1 if body[0][j - 1] == "/" else 0):]
    elif kind == "no space between attributes":
        j = body[0].rfind(">")
        body[0] = body[0][:j].rstrip("/") + ' p="1"q="2"' + body[0][j - (1 if body[0][j - 1] == "/" else 0):]
    elif kind == "lt in value":
        j = body[0].rfind(">")
        body[0] = body[0][:j].rstrip("/") + ' p="1<2"' + body[0][j - (1 if body[0][j - 1] == "/" else 0):]
    elif kind == "unquoted value":
        j = body[0].rfind(">")
        body[0] = body[0][:j].rstrip("/") + " p=1 " + body[0][j - (1 if body[0][j - 1] == "/" else 0):]
    elif kind == "cdata end in text":
        body.insert(max(i, 1), "a]]>b")
    elif kind == "space after lt":
        body.insert(max(i, 1), "< a/>")
    elif kind == "text after root":
        trailer = trailer + ["x"]
    elif kind == "second root":
        trailer = trailer + ["<doc/>"]
    elif kind == "control character":
        body.insert(max(i, 1), "a\x01b")
    elif kind == "bad utf-8":
        body.insert(max(i, 1), "a\udcc3(b")
    elif kind == "digit name":
        body.insert(max(i, 1), "<1a/>")
    elif kind == "missing end tag":
        body = body[:-1]
    elif kind == "wrong end tag":
        if not body[-1].startswith("</"):
            return None
        body[-1] = "</dox>"
    elif kind == "version 2":
        pieces = ['<?xml version="2.0"?>'] + [p for p in pieces if not p.startswith("<?xml") and p != "\ufeff"]
    elif kind == "two doctypes":
        pieces = pieces + ["<!DOCTYPE doc>", "<!DOCTYPE doc>"]
    elif kind == "no root":
        body = []
    elif kind in ("markup entity left open", "markup entity in itself"):
        subsets = [j for j, p in enumerate(pieces) if p.startswith("<!DOCTYPE") and "[" in p]
        if not subsets:
            return None
        declared = "<!ENTITY bad '<a>'>" if kind == "markup entity left open" else "<!ENTITY bad '<b>&bad;</b>'>"
        pieces = list(pieces)
        pieces[subsets[0]] = pieces[subsets[0]].replace("\n]", "\n" + declared + "\n]")
        body.insert(max(i, 1), "&bad;")
    return pieces, body, trailer


KINDS = ["dashes in comment", "unterminated comment", "late xml declaration", "forbidden reference",
         "undeclared entity", "bare ampersand", "duplicate attribute", "no space between attributes", "lt in value",
         "unquoted value", "cdata end in text", "space after lt", "text after root", "second root",
         "control character", "bad utf-8", "digit name", "missing end tag", "wrong end tag", "version 2",
         "two doctypes", "no root", "markup entity left open", "markup entity in itself"]


def encode(parts):
    return "".join(parts).encode("utf-8", "surrogateescape")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=20261207)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--keep")
    args = ap.parse_args()
    print("seed", args.seed)
    rnd = random.Random(args.seed)
    work = args.keep or tempfile.mkdtemp(prefix="tarvo-xml-")
    os.makedirs(work, exist_ok=True)
    files = []
    for n in range(args.count):
        pieces, body, trailer, mistakes = generate(rnd)
        path = os.path.join(work, "ok%04d.xml" % n)
        open(path, "wb").write(encode(pieces + body + trailer))
        files.append((path, "well-formed"))
        kind = KINDS[n % len(KINDS)]
        spoiled = spoil(kind, pieces, body, trailer, rnd, mistakes)
        if spoiled:
            path = os.path.join(work, "bad%04d.xml" % n)
            open(path, "wb").write(encode(spoiled[0] + spoiled[1] + spoiled[2]))
            files.append((path, kind))
    p = subprocess.run([TARVO, "check", "-X", "-U", "-j", "1", "--format", "json", "--grammar-file", GRAMMAR]
                       + [f for f, _ in files], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    verdicts = {}
    for line in p.stdout.decode("utf-8").splitlines():
        record = json.loads(line)
        verdicts[record["path"]] = record["valid"]
    agree = disagree = 0
    per_kind = {}
    for path, kind in files:
        lint = subprocess.run([XMLLINT, "--noout", path], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
        ours = verdicts.get(path)
        counts = per_kind.setdefault(kind, [0, 0])
        if ours == lint:
            agree += 1
            counts[0] += 1
        else:
            disagree += 1
            counts[1] += 1
            print("DISAGREE (tarvo %s, xmllint %s, %s): %s" % (ours, lint, kind, path))
    for kind, (a, d) in sorted(per_kind.items()):
        print("  %-28s %4d agree %4d disagree" % (kind, a, d))
    print("%d documents: %d agree, %d disagree" % (len(files), agree, disagree))
    if not args.keep and disagree == 0:
        shutil.rmtree(work)
    return 1 if disagree else 0


if __name__ == "__main__":
    sys.exit(main())
