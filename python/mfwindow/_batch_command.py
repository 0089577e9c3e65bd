"""mfwindow-batch: the command pip installs, which starts the C++ program
mfwindow-batch that the wheel carries in mfwindow/_bin with the same
arguments (`mfwindow-batch --help` tells them). It replaces this process,
so the exit status, the streams and the signals are the program's own.
"""

import os
import sys
from typing import Optional, Sequence

PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_bin",
                       "mfwindow-batch")


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = list(sys.argv[1:] if argv is None else argv)
    if not os.access(PROGRAM, os.X_OK):
        sys.stderr.write(
            "mfwindow-batch: this installation of mfwindow has no program "
            "%s (a package built without it)\n" % PROGRAM)
        return 127
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(PROGRAM, ["mfwindow-batch"] + args)
    return 127  # not reached: execv returns only by raising


if __name__ == "__main__":
    sys.exit(main())
