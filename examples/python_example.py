from __future__ import print_function
import tarvo

def start(name, attributes):
    print("start", name, sorted(attributes.items()))

callbacks = {"Heatmap": [start], "Element": [start, None, lambda name: print("end", name)]}
try:
    print("warnings:", repr(tarvo.parse("heatmap", callbacks, "examples/heatmap/order_handling_durations.xml", tarvo.PARSE_STRICT)))
except tarvo.ParseError as error:
    print("invalid:", error.errors)
