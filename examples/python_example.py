# Reads a heat map with the tarvo module and prints what the callbacks receive.
# From the repository root: PYTHONPATH=build/python/3.11 python3 examples/python_example.py
from __future__ import print_function
import tarvo

def start(name, attributes):
    print("start", name, sorted(attributes.items()))

def end(name):
    print("end", name)

callbacks = {"Heatmap": [start, None, end], "Element": [start]}
try:
    warnings = tarvo.parse("heatmap", callbacks, "examples/heatmap/order_handling_durations.xml", tarvo.PARSE_STRICT)
    print("warnings:", repr(warnings))
except tarvo.ParseError as error:
    print("invalid document:", error)
