"""python3 -m quorvel register|unregister [LIBRARY]  -- as regsvr32 does (default: the installed library)."""

import sys

from . import SONAME, QuorvelError, register, registry_path, unregister


def main(argv):
    if len(argv) not in (1, 2) or argv[0] not in ("register", "unregister"):
        print("usage: python3 -m quorvel register|unregister [LIBRARY]\n"
              "  writes or removes the component's entries in %s\n"
              "  (LIBRARY: the component, by default the installed %s)" % (registry_path(), SONAME), file=sys.stderr)
        return 2
    try:
        path = (register if argv[0] == "register" else unregister)(argv[1] if len(argv) == 2 else None)
    except (OSError, QuorvelError) as e:
        print("quorvel: %s" % e, file=sys.stderr)
        return 1
    print("%sed %s in %s" % (argv[0], path, registry_path()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
