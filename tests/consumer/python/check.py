# Imports the module built in the directory given first and reads the
# document given second with it; prints what run.cmake expects.
import sys

sys.path.insert(0, sys.argv[1])
import tarvo  # noqa: E402

assert tarvo.__file__.startswith(sys.argv[1]), tarvo.__file__
ends = []
warnings = tarvo.parse("heatmap", {"*": [None, None, ends.append]}, sys.argv[2])
print("tarvo %s: %s, %d elements" % (tarvo.__version__, "valid" if warnings == "" else warnings, len(ends)))
