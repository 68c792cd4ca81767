"""`python -m dral`: the `dral` command line."""

from .cli import main

raise SystemExit(main())
