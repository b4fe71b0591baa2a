"""Prints the id of every test method in the test_*.py modules beside this file, one per line."""
import os
import pathlib
import sys
import unittest

# Listing runs no test: it takes no Wine world (tests/e2e/harness.py).
os.environ["WINE_WORLD_HELD"] = "1"
here = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(here))


def walk(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from walk(item)
        else:
            yield item.id()


for test_id in walk(unittest.defaultTestLoader.discover(str(here), pattern="test_*.py")):
    print(test_id)
