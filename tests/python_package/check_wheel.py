"""Checks a tarvo wheel as an index would show it and pip would install it.

    check_wheel.py SOURCE WHEEL [OTHER_WHEEL]

Run by the interpreter the wheel was built for. The wheel must hold the
module, stripped, its stubs and complete metadata (the README as long
description, a classifier per Python version, Typing :: Typed, the license
file), with a RECORD that matches; it must have been made by the standard
bdist_wheel wherever setuptools or the wheel package provides one. With
OTHER_WHEEL (built from the sdist, say), both must hold the same bytes.
"""
import base64
import email.parser
import hashlib
import os
import subprocess
import sys
import sysconfig
import zipfile

# The interpreter's own flags carry -g; a module built with them is over 15
# MB, a stripped one about 2 MB with the interpreter's -O2.
MAX_MODULE_BYTES = 3 * 1024 * 1024


def fail(message):
    sys.exit("check_wheel: " + message)


def read_source(source, name):
    with open(os.path.join(source, name), "rb") as f:
        return f.read()


def check_record(wheel, names, dist_info):
    lines = wheel.read(dist_info + "/RECORD").decode("utf-8").splitlines()
    listed = {}
    for line in lines:
        name, digest, size = line.rsplit(",", 2)
        listed[name] = (digest, size)
    if set(listed) != set(names):
        fail("RECORD lists %s, the wheel holds %s" % (sorted(listed), sorted(names)))
    for name in names:
        if name == dist_info + "/RECORD":
            continue
        data = wheel.read(name)
        digest = "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
        if listed[name] != (digest, str(len(data))):
            fail("RECORD entry of %s does not match its content" % name)


def check_metadata(text, source, version):
    metadata = email.parser.Parser().parsestr(text)
    readme = read_source(source, "README.md").decode("utf-8")
    # setuptools before 57 or so writes the description as a header
    # field, later ones as the body.
    description = metadata.get_payload() or metadata.get("Description", "")
    expected = {
        "Name": "tarvo",
        "Version": read_source(source, "VERSION").decode("ascii").strip(),
        "License": "MIT",
        "Description-Content-Type": "text/markdown",
    }
    for field, value in expected.items():
        if metadata.get(field) != value:
            fail("METADATA %s is %r, expected %r" % (field, metadata.get(field), value))
    if not metadata.get("Summary") or not metadata.get("Requires-Python"):
        fail("METADATA has no Summary or Requires-Python")
    first, heading = readme.splitlines()[0], "## The Python module"
    if not description.lstrip().startswith(first) or heading not in description:
        fail("the long description is not the README: %r" % description[:200])
    classifiers = set(metadata.get_all("Classifier") or [])
    wanted = ["Typing :: Typed", "License :: OSI Approved :: MIT License", "Programming Language :: Python :: 2.7"]
    wanted += ["Programming Language :: Python :: 3.%d" % minor for minor in range(6, version[1] + 1)]
    missing = [c for c in wanted if c not in classifiers]
    if missing:
        fail("METADATA lacks the classifiers %s" % missing)


def check_generator(wheel_file, source):
    """The stand-in makes the wheel only where no standard bdist_wheel is
    installed."""
    generator = [line for line in wheel_file.splitlines() if line.startswith("Generator:")]
    offline = generator == ["Generator: tarvo offline_wheel"]
    sys.path.insert(0, os.path.join(source, "tools", "python"))
    from offline_wheel import standard_bdist_wheel
    if offline == standard_bdist_wheel():
        fail("made by %s, although a standard bdist_wheel is %savailable" % (generator, "" if offline else "not "))
    return generator[0]


def check_module(wheel, name):
    size = wheel.getinfo(name).file_size
    if size > MAX_MODULE_BYTES:
        fail("the module is %d bytes, more than a stripped build's %d" % (size, MAX_MODULE_BYTES))
    if not sys.platform.startswith("linux"):
        return size
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "check_wheel_%d_%s" % (os.getpid(), name))
    with open(path, "wb") as f:
        f.write(wheel.read(name))
    try:
        sections = subprocess.check_output(["readelf", "-S", "-W", path]).decode("ascii", "replace")
    finally:
        os.remove(path)
    kept = [s for s in (".symtab", ".debug_info", ".debug_line") if " %s " % s in sections]
    if kept:
        fail("the module is not stripped: it has %s" % kept)
    return size


def check(source, path):
    version = sys.version_info[:2]
    wheel = zipfile.ZipFile(path)
    names = wheel.namelist()
    dist_info = [n.split("/")[0] for n in names if n.endswith(".dist-info/METADATA")]
    if len(dist_info) != 1:
        fail("%s: no single .dist-info/METADATA in %s" % (path, names))
    dist_info = dist_info[0]
    module = "tarvo" + (sysconfig.get_config_var("EXT_SUFFIX") or ".so")
    required = {module, "tarvo.pyi", "tarvo-stubs/__init__.pyi", "tarvo-stubs/py.typed",
                dist_info + "/METADATA", dist_info + "/WHEEL", dist_info + "/RECORD"}
    licenses = {dist_info + "/LICENSE", dist_info + "/licenses/LICENSE"} & set(names)
    optional = {dist_info + "/top_level.txt"}
    if not required <= set(names) or len(licenses) != 1 or set(names) - required - licenses - optional:
        fail("%s holds %s" % (path, sorted(names)))
    if wheel.read(licenses.pop()) != read_source(source, "LICENSE"):
        fail("the wheel's license file is not LICENSE")
    check_record(wheel, names, dist_info)
    check_metadata(wheel.read(dist_info + "/METADATA").decode("utf-8"), source, version)

    generator = check_generator(wheel.read(dist_info + "/WHEEL").decode("utf-8"), source)
    size = check_module(wheel, module)
    print("%s: %d files, module %d bytes, %s" % (os.path.basename(path), len(names), size, generator))
    return wheel


def main():
    source, wheels = sys.argv[1], sys.argv[2:]
    first = check(source, wheels[0])
    for other_path in wheels[1:]:
        other = check(source, other_path)
        if os.path.basename(other_path) != os.path.basename(wheels[0]):
            fail("the wheels are named %s and %s" % (wheels[0], other_path))
        differ = [n for n in first.namelist() if n not in other.namelist() or first.read(n) != other.read(n)]
        if differ or len(first.namelist()) != len(other.namelist()):
            fail("%s and %s differ in %s" % (wheels[0], other_path, differ))
        print("%s: the same as %s" % (other_path, wheels[0]))


if __name__ == "__main__":
    main()
