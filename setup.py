# Builds the tarvo Python module from the C++ sources with nothing but the
# interpreter's setuptools and a C++20 compiler: no CMake, no network.
#
#   pip install --no-build-isolation .      pip wheel --no-build-isolation .
#
# The grammar tables are generated the way the CMake build makes them: the
# grammar compiler (tools/grammarc) is compiled with the same C++ compiler
# and run over src/schemas into the build directory. Doing it here rather
# than calling CMake keeps a pip install working on a machine that has a
# compiler but no CMake, and leaves only one tool between the grammar files
# and the tables.
#
# Written for Python 2.7 as well as 3.x: the same file builds the module for
# every interpreter tarvo supports.
import base64
import glob
import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
import zipfile

from setuptools import Command, Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(HERE, "VERSION")) as f:
    VERSION = f.read().strip()
PY2 = sys.version_info[0] == 2
SUMMARY = "Validating XML reader over built-in grammars"


def relative(*parts):
    return os.path.join(*parts).replace(os.sep, "/")


def files_under(directory, suffix, skip=()):
    found = []
    for root, dirs, files in os.walk(os.path.join(HERE, directory)):
        dirs[:] = sorted(d for d in dirs if d not in skip)
        found += [os.path.relpath(os.path.join(root, f), HERE) for f in sorted(files) if f.endswith(suffix)]
    return [relative(p) for p in found]


# The grammar compiler's sources, as listed in tools/grammarc/CMakeLists.txt.
GRAMMARC_SOURCES = [relative("tools", "grammarc", "main.cpp"), relative("src", "schema", "grammar_file.cpp")]
CXX_STANDARD = "-std=c++20"


def cxx_command():
    """The C++ compiler the interpreter was configured with, as a command line."""
    cxx = os.environ.get("CXX") or sysconfig.get_config_var("CXX") or "c++"
    return shlex.split(cxx)


def compile_in_parallel(compiler, jobs):
    """Makes `compiler` (a distutils CCompiler) compile a list of sources
    `jobs` at a time; an extension's sources are otherwise compiled one by
    one. Left as it is when the compiler lacks the steps this relies on."""
    needed = ("_setup_compile", "_get_cc_args", "_compile")
    if jobs < 2 or not all(hasattr(compiler, n) for n in needed):
        return
    from multiprocessing.pool import ThreadPool

    def compile(sources, output_dir=None, macros=None, include_dirs=None, debug=0, extra_preargs=None,
                extra_postargs=None, depends=None):
        macros, objects, extra_postargs, pp_opts, build = compiler._setup_compile(
            output_dir, macros, include_dirs, sources, depends, extra_postargs)
        cc_args = compiler._get_cc_args(pp_opts, debug, extra_preargs)

        def one(obj):
            if obj in build:
                src, ext = build[obj]
                compiler._compile(obj, src, ext, cc_args, extra_postargs, pp_opts)
        pool = ThreadPool(jobs)
        try:
            pool.map(one, objects)
        finally:
            pool.close()
        return objects
    compiler.compile = compile


class BuildExt(build_ext):
    """Generates the grammar tables before compiling, and puts the type stub
    beside the module."""

    def build_extensions(self):
        tables = self.generate_grammar_tables()
        for ext in self.extensions:
            if tables not in ext.sources:
                ext.sources.append(tables)
        # Python's own flags are for C; the C-only warning they may carry
        # would be repeated for every C++ source.
        for attribute in ("compiler_so", "compiler"):
            command = getattr(self.compiler, attribute, None)
            if isinstance(command, list) and "-Wstrict-prototypes" in command:
                command.remove("-Wstrict-prototypes")
        jobs = int(os.environ.get("TARVO_BUILD_JOBS", "0") or 0) or min(4, cpu_count())
        compile_in_parallel(self.compiler, jobs)
        build_ext.build_extensions(self)
        if not self.inplace:
            self.copy_stubs(self.build_lib)

    def get_outputs(self):
        # Listed so that an install's record, and with it pip uninstall,
        # includes them.
        stubs = [os.path.join(self.build_lib, "tarvo.pyi")] + [
            os.path.join(self.build_lib, "tarvo-stubs", n) for n in ("__init__.pyi", "py.typed")]
        return build_ext.get_outputs(self) + ([] if self.inplace else stubs)

    def generate_grammar_tables(self):
        out_dir = os.path.join(os.path.abspath(self.build_temp), "generated")
        if not os.path.isdir(out_dir):
            os.makedirs(out_dir)
        grammarc = os.path.join(out_dir, "tarvo-grammarc")
        tables = os.path.join(out_dir, "grammars.cpp")
        schemas = os.path.join(HERE, "src", "schemas")
        inputs = [os.path.join(HERE, s) for s in GRAMMARC_SOURCES] + glob.glob(os.path.join(schemas, "*"))
        if os.path.exists(tables) and all(os.path.getmtime(p) <= os.path.getmtime(tables) for p in inputs):
            return tables
        self.run_tool(cxx_command() + [CXX_STANDARD, "-O1", "-I", os.path.join(HERE, "src"), "-o", grammarc] +
                      [os.path.join(HERE, s) for s in GRAMMARC_SOURCES])
        self.run_tool([grammarc, "--catalogue", os.path.join(schemas, "catalogue.txt"), "--schemas-dir", schemas,
                       "--output", tables])
        return tables

    def run_tool(self, command):
        self.announce(" ".join(command), level=2)
        if subprocess.call(command) != 0:
            raise SystemExit("tarvo: command failed: " + " ".join(command))

    def copy_stubs(self, directory):
        """tarvo.pyi beside the module, for tools that look there, and the
        same stub as the PEP 561 stub package tarvo-stubs, which is where
        mypy looks for a single-file module's types."""
        stub = os.path.join(HERE, "src", "binding", "tarvo.pyi")
        stubs_package = os.path.join(directory, "tarvo-stubs")
        if not os.path.isdir(stubs_package):
            os.makedirs(stubs_package)
        shutil.copyfile(stub, os.path.join(directory, "tarvo.pyi"))
        shutil.copyfile(stub, os.path.join(stubs_package, "__init__.pyi"))
        open(os.path.join(stubs_package, "py.typed"), "w").close()


def cpu_count():
    try:
        return os.cpu_count() or 1
    except AttributeError:  # Python 2
        import multiprocessing
        return multiprocessing.cpu_count()


def metadata():
    return "".join(line + "\n" for line in [
        "Metadata-Version: 2.1", "Name: tarvo", "Version: " + VERSION, "Summary: " + SUMMARY, "License: MIT",
        "Requires-Python: >=2.7, !=3.0.*, !=3.1.*, !=3.2.*, !=3.3.*, !=3.4.*, !=3.5.*",
        "Classifier: Programming Language :: C++", "Classifier: Programming Language :: Python :: 2.7",
        "Classifier: Programming Language :: Python :: 3", "Classifier: License :: OSI Approved :: MIT License",
        "Classifier: Topic :: Text Processing :: Markup :: XML"])


def wheel_tag():
    python = "cp%d%d" % sys.version_info[:2]
    soabi = sysconfig.get_config_var("SOABI")
    if soabi and soabi.startswith("cpython-"):
        abi = "cp" + soabi.split("-")[1]
    else:  # Python 2
        abi = python + ("mu" if sys.maxunicode > 0xFFFF else "m")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (python, abi, platform)


class BdistWheel(Command):
    """Builds the wheel when the wheel package is not installed, as in a
    fresh virtual environment without network: the module, its stubs and
    the metadata, zipped in the wheel format."""

    description = "build a wheel of the tarvo module"
    user_options = [("dist-dir=", "d", "directory for the wheel"),
                    ("bdist-dir=", "b", "ignored"), ("keep-temp", "k", "ignored")]
    boolean_options = ["keep-temp"]

    def initialize_options(self):
        self.dist_dir = None
        self.bdist_dir = None
        self.keep_temp = False

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    # setuptools' dist_info command (pip's metadata step) calls this.
    def egg2dist(self, egginfo_path, distinfo_path):
        if not os.path.isdir(distinfo_path):
            os.makedirs(distinfo_path)
        with open(os.path.join(distinfo_path, "METADATA"), "w") as f:
            f.write(metadata())

    def run(self):
        self.run_command("build")
        build_lib = self.get_finalized_command("build").build_platlib
        dist_info = "tarvo-%s.dist-info" % VERSION
        files = []
        for root, dirs, names in os.walk(build_lib):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(root, name)
                files.append((os.path.relpath(path, build_lib).replace(os.sep, "/"), path))
        tag = wheel_tag()
        generated = [
            (dist_info + "/METADATA", metadata()),
            (dist_info + "/WHEEL", "Wheel-Version: 1.0\nGenerator: tarvo setup.py\nRoot-Is-Purelib: false\n"
                                   "Tag: %s\n" % tag),
            (dist_info + "/top_level.txt", "tarvo\n"),
        ]
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        wheel = os.path.join(self.dist_dir, "tarvo-%s-%s.whl" % (VERSION, tag))
        record = []
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as z:
            for name, path in files:
                with open(path, "rb") as f:
                    data = f.read()
                z.writestr(name, data)
                record.append(record_line(name, data))
            for name, text in generated:
                data = text.encode("utf-8")
                z.writestr(name, data)
                record.append(record_line(name, data))
            record.append(dist_info + "/RECORD,,")
            z.writestr(dist_info + "/RECORD", "".join(line + "\n" for line in record))
        self.announce("wrote " + wheel, level=2)


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d" % (name, digest, len(data))


commands = {"build_ext": BuildExt}
try:
    import wheel.bdist_wheel  # noqa: F401  (the real one is used when it is there)
except ImportError:
    commands["bdist_wheel"] = BdistWheel

compile_args = [CXX_STANDARD, "-fvisibility=hidden", "-fvisibility-inlines-hidden"]
if PY2:
    # Python 2 headers use `register` and type-punning casts.
    compile_args += ["-Wno-register", "-fno-strict-aliasing"]

setup(
    name="tarvo",
    version=VERSION,
    description=SUMMARY,
    license="MIT",
    python_requires=">=2.7, !=3.0.*, !=3.1.*, !=3.2.*, !=3.3.*, !=3.4.*, !=3.5.*",
    ext_modules=[Extension(
        "tarvo",
        # Every library source under src/, the binding's included.
        sources=files_under(relative("src", "binding"), ".cpp") + files_under("src", ".cpp", skip=("binding",)),
        # A changed header rebuilds the module.
        depends=files_under("src", ".h") + files_under("include", ".h"),
        include_dirs=[relative("include"), relative("src")],
        define_macros=[("TARVO_VERSION", '"%s"' % VERSION)],
        extra_compile_args=compile_args,
        language="c++",
    )],
    cmdclass=commands,
    # Beside CMake's own build/ tree, not in it.
    options={"build": {"build_base": relative("build-setuptools")}},
    zip_safe=False,
)
