"""The environment that makes the tool's dlopen of the framework open the
simulated trackpad, for the Python tests."""
import os
import sys


def environment(redirect, **extra):
    """This process's environment with the loader redirect `redirect` (the
    built libmtredirect) put in, and `extra` on top. dyld takes the full path;
    Linux's loader cuts LD_PRELOAD at spaces and colons, so there the redirect
    goes in by its bare name, found through its folder on the search path."""
    if sys.platform == "darwin":
        return dict(os.environ, DYLD_INSERT_LIBRARIES=redirect, **extra)
    return dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(redirect),
                LD_PRELOAD=os.path.basename(redirect), **extra)
