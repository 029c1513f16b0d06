"""Type information for the difrax extension module."""

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, final

__all__ = ["Pattern", "__version__", "read", "read_bytes"]

__version__: str

@final
class Pattern:
    """One diffraction pattern. Extra file columns are deliberately not returned."""

    # The class is built by __new__ (its __init__ is object's), so the
    # constructor's parameters belong there.
    def __new__(
        cls,
        x: Sequence[SupportsFloat | SupportsIndex],
        y: Sequence[SupportsFloat | SupportsIndex],
    ) -> Pattern: ...
    @property
    def x(self) -> list[float]:
        """Diffraction angle 2θ, in degrees, strictly increasing."""

    @property
    def y(self) -> list[float]:
        """Intensity in the file's units (counts or counts per second)."""

def read(path: str, *, index: int = 0, block: str | None = None) -> Pattern:
    """Load one XRD pattern as x (2theta degrees) and y (intensity)."""

def read_bytes(data: bytes, filename: str, *, index: int = 0, block: str | None = None) -> Pattern:
    """Load bytes using content detection and a filename hint."""
