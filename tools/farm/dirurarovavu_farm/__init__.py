# SPDX-License-Identifier: MIT
"""dirurarovavu-farm: runs DirUrarovavu on farm nodes and compares the nodes.
Python 3 standard library only: farm nodes get it from the distribution's python3."""

__license__ = "MIT"
