"""Kept for the install test, which imports this from here."""
from harness import visible_windows  # noqa: F401
