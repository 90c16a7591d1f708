"""python3 -m quorvel register|unregister LIBRARY  -- as regsvr32 does."""

import sys

from . import QuorvelError, register, registry_path, unregister


def main(argv):
    if len(argv) != 2 or argv[0] not in ("register", "unregister"):
        print("usage: python3 -m quorvel register|unregister LIBRARY\n"
              "  writes or removes the component's entries in %s" % registry_path(), file=sys.stderr)
        return 2
    try:
        (register if argv[0] == "register" else unregister)(argv[1])
    except (OSError, QuorvelError) as e:
        print("quorvel: %s" % e, file=sys.stderr)
        return 1
    print("%sed %s in %s" % (argv[0], argv[1], registry_path()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
