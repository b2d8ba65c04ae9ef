# Builds the tarvo Python module from the C++ sources with nothing but the
# interpreter's setuptools and a C++20 compiler: no CMake, no network.
#
#   pip install --no-build-isolation .      pip wheel --no-build-isolation .
#   python setup.py sdist                   (a source archive pip builds the same wheel from)
#
# The sources are the ones CMake compiles: src/sources.txt lists the
# library's, tools/grammarc/sources.txt the grammar compiler's, and every
# .cpp file in src/binding is the module's. The grammar tables are generated
# the way the CMake build makes them: the grammar compiler is built with the
# same compiler and run over src/schemas into the build directory. Doing it
# here rather than calling CMake keeps a pip install working on a machine
# that has a compiler but no CMake.
#
# setuptools' own bdist_wheel (70.1 and later) or the wheel package's makes
# the wheel where either is installed; tools/python/offline_wheel.py stands
# in where neither is, as in a fresh virtual environment without network.
#
# Written for Python 2.7 as well as 3.x: the same file builds the module for
# every interpreter tarvo supports.
import glob
import io
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
PY2 = sys.version_info[0] == 2
PYTHON_VERSIONS = ["2.7"] + ["3.%d" % minor for minor in range(6, 14)]


def read_text(name):
    with io.open(os.path.join(HERE, name), encoding="utf-8") as f:
        return f.read()


def relative(*parts):
    return os.path.join(*parts).replace(os.sep, "/")


def listed_sources(list_file):
    """The paths in a source list (one a line from the repository root;
    blank lines and '#' lines skipped), as CMake's tarvo_source_list reads
    them."""
    lines = (line.strip() for line in read_text(list_file).splitlines())
    return [str(line) for line in lines if line and not line.startswith("#")]  # str: bytes in Python 2


def files_under(directory, suffix):
    found = []
    for root, dirs, files in os.walk(os.path.join(HERE, directory)):
        dirs.sort()
        found += [os.path.relpath(os.path.join(root, f), HERE) for f in sorted(files) if f.endswith(suffix)]
    return [relative(p) for p in found]


VERSION = read_text("VERSION").strip()
LIBRARY_SOURCES = listed_sources("src/sources.txt")
GRAMMARC_SOURCES = listed_sources("tools/grammarc/sources.txt")
MODULE_SOURCES = sorted(relative("src", "binding", os.path.basename(p))
                        for p in glob.glob(os.path.join(HERE, "src", "binding", "*.cpp")))
# A changed header rebuilds everything.
HEADERS = files_under("src", ".h") + files_under("include", ".h")


def compile_args(compiler_type, debug):
    """Compiler options by compiler family: MSVC spells them its own way."""
    if compiler_type == "msvc":
        return ["/std:c++20", "/EHsc", "/Zc:__cplusplus", "/utf-8"]
    args = ["-std=c++20", "-fvisibility=hidden", "-fvisibility-inlines-hidden"]
    if not debug:
        # The interpreter's own flags usually carry -g: a module with debug
        # information is fifteen times the size.
        args.append("-g0")
    if PY2:
        # Python 2 headers use `register` and type-punning casts.
        args += ["-Wno-register", "-fno-strict-aliasing"]
    return args


def link_args(compiler_type, debug):
    if debug or compiler_type == "msvc" or not sys.platform.startswith("linux"):
        return []
    return ["-s"]  # no symbol table: only the init function is looked up


def newer_than(target, inputs):
    """Whether `target` is missing or older than any of `inputs`."""
    if not os.path.exists(target):
        return True
    mtime = os.path.getmtime(target)
    return any(os.path.getmtime(p) > mtime for p in inputs)


def cpu_count():
    try:
        return os.cpu_count() or 1
    except AttributeError:  # Python 2
        import multiprocessing
        return multiprocessing.cpu_count()


class BuildExt(build_ext):
    """Generates the grammar tables, compiles the module's sources several at
    a time (each only when it or a header changed), and puts the type stubs
    beside the module."""

    def build_extensions(self):
        # Python's own flags are for C; the C-only warning they may carry
        # would be repeated for every C++ source.
        command = getattr(self.compiler, "compiler_so", None)
        if isinstance(command, list) and "-Wstrict-prototypes" in command:
            command.remove("-Wstrict-prototypes")
        kind = self.compiler.compiler_type
        for ext in self.extensions:
            ext.extra_compile_args = compile_args(kind, self.debug)
            ext.extra_link_args = link_args(kind, self.debug)
        tables = self.generate_grammar_tables(self.extensions[0])
        for ext in self.extensions:
            if tables not in ext.sources:
                ext.sources.append(tables)
        build_ext.build_extensions(self)
        if not self.inplace:
            self.copy_stubs(self.build_lib)

    def build_extension(self, ext):
        # The objects are made here, so the standard step only links them
        # (and skips that too when they are all older than the module).
        objects = self.compile_objects(ext, ext.sources)
        saved = ext.sources, ext.extra_objects, ext.depends
        ext.sources, ext.extra_objects, ext.depends = [], objects + list(ext.extra_objects or []), ext.depends + objects
        try:
            build_ext.build_extension(self, ext)
        finally:
            ext.sources, ext.extra_objects, ext.depends = saved

    def compile_objects(self, ext, sources):
        """Compiles each of `sources` that is newer than its object, or whose
        headers are, up to TARVO_BUILD_JOBS (default: the cores, at most 4)
        at a time; returns all the objects."""
        compiler = self.compiler
        output_dir = self.build_temp
        objects = [compiler.object_filenames([s], output_dir=output_dir)[0] for s in sources]
        stale = [s for s, o in zip(sources, objects) if self.force or newer_than(o, [s] + ext.depends)]

        def compile_one(source):
            compiler.compile([source], output_dir=output_dir, macros=ext.define_macros, include_dirs=ext.include_dirs,
                             debug=self.debug, extra_postargs=ext.extra_compile_args, depends=ext.depends)

        jobs = int(os.environ.get("TARVO_BUILD_JOBS", "0") or 0) or min(4, cpu_count())
        if compiler.compiler_type != "unix" or jobs < 2 or len(stale) < 2:
            for source in stale:
                compile_one(source)
        else:
            from multiprocessing.pool import ThreadPool
            pool = ThreadPool(jobs)
            try:
                pool.map(compile_one, stale)
            finally:
                pool.close()
        return objects

    def get_outputs(self):
        # Listed so that an install's record, and with it pip uninstall,
        # includes them.
        stubs = [os.path.join(self.build_lib, "tarvo.pyi")] + [
            os.path.join(self.build_lib, "tarvo-stubs", n) for n in ("__init__.pyi", "py.typed")]
        return build_ext.get_outputs(self) + ([] if self.inplace else stubs)

    def generate_grammar_tables(self, ext):
        """Builds the grammar compiler with the module's compiler and flags
        (the source it shares with the library is compiled once) and runs it
        over src/schemas; returns the generated source's path."""
        out_dir = os.path.join(self.build_temp, "generated")
        if not os.path.isdir(out_dir):
            os.makedirs(out_dir)
        tables = os.path.join(out_dir, "grammars.cpp")
        schemas = os.path.join(HERE, "src", "schemas")
        inputs = GRAMMARC_SOURCES + ext.depends + glob.glob(os.path.join(schemas, "*"))
        if not (self.force or newer_than(tables, inputs)):
            return tables
        objects = self.compile_objects(ext, GRAMMARC_SOURCES)
        grammarc = self.compiler.executable_filename("tarvo-grammarc", output_dir=out_dir)
        self.compiler.link_executable(objects, "tarvo-grammarc", output_dir=out_dir, target_lang="c++")
        command = [os.path.abspath(grammarc), "--catalogue", os.path.join(schemas, "catalogue.txt"),
                   "--schemas-dir", schemas, "--output", tables]
        self.announce(" ".join(command), level=2)
        if subprocess.call(command) != 0:
            raise SystemExit("tarvo: command failed: " + " ".join(command))
        return tables

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


commands = {"build_ext": BuildExt}
sys.path.insert(0, os.path.join(HERE, "tools", "python"))
import offline_wheel  # noqa: E402
if not offline_wheel.standard_bdist_wheel():
    commands["bdist_wheel"] = offline_wheel.bdist_wheel

setup(
    name="tarvo",
    version=VERSION,
    description="Validating XML reader over built-in grammars",
    long_description=read_text("README.md"),
    long_description_content_type="text/markdown",
    license="MIT",
    classifiers=[
        "Intended Audience :: Developers",
        "License :: OSI Approved :: MIT License",
        "Operating System :: POSIX :: Linux",
        "Programming Language :: C++",
        "Programming Language :: Python :: 2",
        "Programming Language :: Python :: 3",
    ] + ["Programming Language :: Python :: " + v for v in PYTHON_VERSIONS] + [
        "Programming Language :: Python :: Implementation :: CPython",
        "Topic :: Text Processing :: Markup :: XML",
        "Typing :: Typed",
    ],
    python_requires=">=2.7, !=3.0.*, !=3.1.*, !=3.2.*, !=3.3.*, !=3.4.*, !=3.5.*",
    ext_modules=[Extension(
        "tarvo",
        sources=MODULE_SOURCES + LIBRARY_SOURCES,
        depends=HEADERS,
        include_dirs=[relative("include"), relative("src")],
        define_macros=[("TARVO_VERSION", '"%s"' % VERSION)],
        language="c++",
    )],
    cmdclass=commands,
    # Beside CMake's own build/ tree, not in it.
    options={"build": {"build_base": relative("build-setuptools")}},
    zip_safe=False,
)
