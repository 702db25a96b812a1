"""Builds one platform's wheel of the zelkolink package. Run by
build_wheels.py, which puts the native library into the package and sets
ZELKOLINK_WHEEL_VERSION and ZELKOLINK_WHEEL_PLATFORM; not meant to be run by
hand."""
import os

from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel


class NativeDistribution(Distribution):
    """Carries a native library, so its files install as platform files."""

    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    """Python code beside a native library it loads with ctypes: tagged
    py3-none-<platform>, one wheel per platform for every Python 3."""

    def get_tag(self):  # type: ignore[no-untyped-def]
        return "py3", "none", os.environ["ZELKOLINK_WHEEL_PLATFORM"]


setup(
    version=os.environ["ZELKOLINK_WHEEL_VERSION"],
    package_data={"zelkolink": ["py.typed", "libZelkoLink.so.1", "ZelkoLink.dll"]},
    distclass=NativeDistribution,
    cmdclass={"bdist_wheel": PlatformWheel},
)
