"""Builds the extension against an installed libxelmdapi (found with
pkg-config, PKG_CONFIG_PATH=<prefix>/lib/pkgconfig) or, when none is
installed, against the source tree's build (XELMD_BUILD, default ../build)."""
import glob
import os
import subprocess

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


def pkg_config(*args):
    try:
        return subprocess.run(["pkg-config", *args, "xelmdapi"], check=True,
                              capture_output=True, text=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        return None


def library():
    """(include dirs, library dir)"""
    libdir = pkg_config("--variable=libdir")
    if libdir:
        includes = [f[2:] for f in pkg_config("--cflags-only-I") if f.startswith("-I")]
        return includes, libdir[0]
    build = os.environ.get("XELMD_BUILD", os.path.join(SOURCE, "build"))
    return [os.path.join(SOURCE, "api")], os.path.join(os.path.abspath(build), "lib")


includes, libdir = library()
extension = Extension(
    "xelmd._xelmd",
    sources=sorted(glob.glob(os.path.join("src", "*.cc")))
    + [os.path.relpath(os.path.join(SOURCE, "tools", "record", "connection_file.cc"))],
    include_dirs=includes + [SOURCE],
    library_dirs=[libdir],
    runtime_library_dirs=[libdir],
    libraries=["xelmdapi"],
    extra_compile_args=["-std=c++17", "-fvisibility=hidden"],
    language="c++",
)
setup(ext_modules=[extension])
