# tarvo check --format sarif judged by the SARIF 2.1.0 JSON schema, with a
# validator from the npm registry that ./dev sarif-validator installs into
# the build tree. Exits 77 (skipped) when npm is missing.
# Environment: TARVO (the tool), SARIF_VALIDATOR (the install directory).
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
TARVO = os.environ.get("TARVO", "build/tarvo")
TOOLS = os.environ.get("SARIF_VALIDATOR", "build/sarif-validator")
SKIP = 77

MISTAKES = (b'<?xml version="1.0"?><Heatmap>\n<Colors gradient_color_space="rgb"/>\n<Element id="i" value="1"/>\n'
            b'<Elemnt/>\n<Element model_file="m" id="i" value="1" bogus="1"/>\nhello</Heatmap>')


def main():
    if not shutil.which("npm") or not shutil.which("node"):
        print("npm is missing: SARIF schema check skipped")
        return SKIP
    subprocess.run(["sh", os.path.join(ROOT, "dev"), "sarif-validator", TOOLS], check=True)
    examples = os.path.join(ROOT, "examples")
    every = sorted(os.path.join(d, f) for d, _, fs in os.walk(examples) for f in fs if f.endswith(".xml"))
    with tempfile.TemporaryDirectory() as tmp:
        doc = os.path.join(tmp, "a b,c:%d.xml")
        with open(doc, "wb") as f:
            f.write(MISTAKES)
        runs = [["heatmap", doc], ["-A", "-U", "-E", "heatmap", doc], ["heatmap", doc + ".none"],
                ["heatmap"] + every, ["--max-errors", "0", "-X", "lumoTools"] + every, ["-a"] + every]
        logs = []
        for i, args in enumerate(runs):
            out = subprocess.run([TARVO, "check", "--format", "sarif"] + args, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=300).stdout
            logs.append(os.path.join(tmp, "%d.sarif" % i))
            with open(logs[-1], "wb") as f:
                f.write(out)
        stream = subprocess.run([TARVO, "check", "--stream", "--format", "sarif", "heatmap", "-"], stdout=subprocess.PIPE,
                                input=b"<Heatmap/>\n<Heatmap><Nope/></Heatmap>", timeout=300).stdout
        logs.append(os.path.join(tmp, "stream.sarif"))
        with open(logs[-1], "wb") as f:
            f.write(stream)
        rc = subprocess.run(["node", os.path.join(HERE, "sarif_schema.js"), TOOLS] + logs).returncode
    print("%d passed, %d failed" % ((len(logs), 0) if rc == 0 else (0, len(logs))))
    return 1 if rc else 0


if __name__ == "__main__":
    sys.exit(main())
