"""A bdist_wheel command for setup.py where neither setuptools (70.1 and
later) nor the wheel package provides one, as in a fresh virtual environment
without network.

It zips what the build command put in build/lib with a .dist-info folder
made from the egg-info metadata setuptools writes anyway (PKG-INFO becomes
METADATA unchanged), the license files, WHEEL and RECORD. setuptools'
dist_info command, pip's metadata step, calls egg2dist for the same folder.

Runs under Python 2.7 and 3.x alike.
"""
import base64
import glob
import hashlib
import os
import shutil
import sys
import sysconfig
import zipfile

from setuptools import Command


def standard_bdist_wheel():
    """Whether setuptools or the wheel package provides bdist_wheel, so that
    this one is not needed."""
    for module in ("setuptools.command.bdist_wheel", "wheel.bdist_wheel"):
        try:
            __import__(module)
            return True
        except ImportError:
            pass
    return False


def wheel_tag():
    """The interpreter's python-abi-platform tag, such as
    cp311-cp311-linux_x86_64."""
    python = "cp%d%d" % sys.version_info[:2]
    soabi = sysconfig.get_config_var("SOABI")
    if soabi and soabi.startswith("cpython-"):
        abi = "cp" + soabi.split("-")[1]
    else:  # Python 2
        abi = python + ("mu" if sys.maxunicode > 0xFFFF else "m")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (python, abi, platform)


def license_files(distribution):
    """The license files setuptools found (56 and later) or, with an older
    one, the files its default patterns would match."""
    found = getattr(distribution.metadata, "license_files", None)
    if found is None:
        found = sorted(set(p for pattern in ("LICEN[CS]E*", "COPYING*", "NOTICE*", "AUTHORS*")
                           for p in glob.glob(pattern)))
    return [p for p in found if os.path.isfile(p)]


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d" % (name, digest, len(data))


class bdist_wheel(Command):
    description = "build a wheel (without the wheel package)"
    user_options = [("dist-dir=", "d", "directory for the wheel"),
                    ("bdist-dir=", "b", "ignored"), ("keep-temp", "k", "ignored")]
    boolean_options = ["keep-temp"]

    def initialize_options(self):
        self.dist_dir = None
        self.bdist_dir = None
        self.keep_temp = False

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    def egg2dist(self, egginfo_path, distinfo_path):
        """Fills the .dist-info folder `distinfo_path` from the egg-info
        folder `egginfo_path`."""
        if not os.path.isdir(distinfo_path):
            os.makedirs(distinfo_path)
        shutil.copyfile(os.path.join(egginfo_path, "PKG-INFO"), os.path.join(distinfo_path, "METADATA"))
        top_level = os.path.join(egginfo_path, "top_level.txt")
        if os.path.exists(top_level):
            shutil.copyfile(top_level, os.path.join(distinfo_path, "top_level.txt"))
        for path in license_files(self.distribution):
            shutil.copyfile(path, os.path.join(distinfo_path, os.path.basename(path)))

    def run(self):
        self.run_command("build")
        build_lib = self.get_finalized_command("build").build_platlib
        self.run_command("egg_info")
        egg_info = self.get_finalized_command("egg_info").egg_info
        name, version = self.distribution.get_name(), self.distribution.get_version()
        dist_info_name = "%s-%s.dist-info" % (name, version)
        dist_info = os.path.join(os.path.dirname(build_lib), "wheel-" + dist_info_name)
        if os.path.isdir(dist_info):
            shutil.rmtree(dist_info)
        self.egg2dist(egg_info, dist_info)
        tag = wheel_tag()
        with open(os.path.join(dist_info, "WHEEL"), "w") as f:
            f.write("Wheel-Version: 1.0\nGenerator: tarvo offline_wheel\nRoot-Is-Purelib: false\nTag: %s\n" % tag)

        files = []  # (name in the wheel, path)
        for base, prefix in ((build_lib, ""), (dist_info, dist_info_name + "/")):
            for root, dirs, names in os.walk(base):
                dirs.sort()
                for n in sorted(names):
                    path = os.path.join(root, n)
                    files.append((prefix + os.path.relpath(path, base).replace(os.sep, "/"), path))
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        wheel = os.path.join(self.dist_dir, "%s-%s-%s.whl" % (name, version, tag))
        record = []
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as z:
            for arcname, path in files:
                z.write(path, arcname)
                with open(path, "rb") as f:
                    record.append(record_line(arcname, f.read()))
            record.append(dist_info_name + "/RECORD,,")
            z.writestr(dist_info_name + "/RECORD", "".join(line + "\n" for line in record))
        self.announce("wrote " + wheel, level=2)
