"""The controller's planning limits as it starts, and the settings that change them.

A freshly started controller plans with a time limit of 1000 ms and a memory limit of 2048 MB
until SETTINGS_SET_TIMEOUT and SETTINGS_SET_MAX_RAM change them; a search stops after 30000
evaluations whatever the limits.
"""

from __future__ import annotations

from dataclasses import dataclass

DEFAULT_TIMEOUT_MS = 1000
DEFAULT_MEMORY_MB = 2048
MAX_EVALUATIONS = 30000


@dataclass(frozen=True)
class Limits:
    """The planner's time and memory limits; None stands for the controller's default."""

    timeout_ms: int | None = None
    memory_mb: int | None = None

    @property
    def effective_timeout_ms(self) -> int:
        return DEFAULT_TIMEOUT_MS if self.timeout_ms is None else self.timeout_ms

    @property
    def effective_memory_mb(self) -> int:
        return DEFAULT_MEMORY_MB if self.memory_mb is None else self.memory_mb

    def changes_from(self, held: Limits) -> Limits:
        """The settings that bring a controller holding `held` to these limits: each limit
        that differs in effect, None where nothing needs to be sent."""
        timeout = self.effective_timeout_ms
        memory = self.effective_memory_mb
        return Limits(timeout if timeout != held.effective_timeout_ms else None,
                      memory if memory != held.effective_memory_mb else None)
