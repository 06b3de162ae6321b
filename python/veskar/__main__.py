"""Command line of the package: ``python3 -m veskar batch INPUT... --out DIR``."""

import sys

from .batch import main

sys.exit(main())
