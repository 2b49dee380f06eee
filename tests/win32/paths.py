"""Where the builds put the DLLs."""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DLL32 = os.path.join(ROOT, "build", "win32", "bin", "roundcorner.dll")
DLL64 = os.path.join(ROOT, "build", "win64", "bin", "roundcorner.dll")
# Prints the shared image cases (tests/common/image_cases.h) for the emulated runs.
CASES_DUMP = os.path.join(ROOT, "build", "native", "tests", "native", "image_cases_dump")
