#!/usr/bin/env python3
"""The layer check passes the tree and fails each include that breaks a layer."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# (file the include is written in, its text, extra include folder, what the check reports)
BAD = [
    ("telephony/bad.cpp", '#include "host/json_host.h"', None, "upwards"),
    ("telephony/bad.cpp", '#include "peers/virtual_modem/virtual_modem.h"', None, "upwards"),
    ("audio/bad.cpp", '#include "../prompts/play_list.h"', None, "= prompts/play_list.h (prompts, rank 6): upwards"),
    # through a public include folder of the platform, as the build once declared it
    ("telephony/bad.cpp", '#include "sim/wave_devices.h"', "platform", "platform: telephony/bad.cpp"),
    ("control/core/bad.cpp", '#include "platform/sim/sim.h"', None, "platform: control/core/bad.cpp"),
    ("audio/bad.cpp", "#include <datalink/data_link.h>", None, "sideways"),
    ("audio/bad.cpp", '# include "datalink/data_link.h"', None, "sideways"),
    # and what the folders themselves forbid
    ("telephony/bad.cpp", "#include <windows.h>", None, "= platform/sim/win32/windows.h"),
    ("telephony/bad.cpp", '#include "sim/wave_devices.h"', None, "unresolved"),
    ("platform/bad.h", '#include "sim/sim.h"', None, "circle: folders that include each other: platform, platform/sim"),
    ("control/core/bad.h", '#include "control/front/module.h"', None, "upwards"),
    ("platform/sim/bad.cpp", '#include "platform/win/clock_win.cpp"', None, "sideways"),
    ("examples/bad.cpp", '#include "platform/platform.h"', None, "without a rank"),
]

# What the compiler does not read is no include.
GOOD = [
    ("telephony/ok.cpp", '// #include "host/json_host.h"\n/* #include "host/json_host.h" */\n'
                         'const char* glob = "a/*";\n#include "telephony/line.h"\n'),
    ("telephony/ok.cpp", 'const char* s = R"(\n#include "host/json_host.h"\n)";\n'),
]


def run(path=None, text=None, include_dir=None):
    problems = check_layers.check(os.path.abspath(ROOT), [(path, text)] if path else [],
                                  [include_dir] if include_dir else [])
    return (1 if problems else 0), "\n".join(problems)


def main():
    failures = []
    code, out = run()
    if code != 0:
        failures.append("the tree does not pass:\n" + out)
    for path, text, include_dir, expected in BAD:
        code, out = run(path, text, include_dir)
        if code == 0 or expected not in out:
            failures.append(f"{path}: {text!r} not refused with {expected!r}:\n{out}")
    for path, text in GOOD:
        code, out = run(path, text)
        if code != 0:
            failures.append(f"{path}: {text!r} refused:\n{out}")
    for f in failures:
        print("FAIL:", f)
    print(f"{len(BAD) + len(GOOD) + 1 - len(failures)} of {len(BAD) + len(GOOD) + 1} cases hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
