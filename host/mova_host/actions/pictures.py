"""The picture files of `plan` and `explain`: the plan (--svg), the plan driven (--animate) and
one picture per step (--frames)."""

from __future__ import annotations

import argparse
from dataclasses import dataclass
from pathlib import Path
from typing import Mapping

from .. import svg
from ..geometry import Layout
from ..plans import Plan


@dataclass
class PictureFiles:
    """Where the pictures go; none of a kind without its name."""

    svg: str | None = None
    animate: str | None = None
    frames: str | None = None

    @classmethod
    def of(cls, args: argparse.Namespace) -> PictureFiles:
        return cls(getattr(args, "svg", None), getattr(args, "animate", None), getattr(args, "frames", None))

    @staticmethod
    def _numbered(path: str, count: int) -> Path:
        """The file of the `count`th plan of a mission: the name given for the first, then -2,
        -3, ... before the suffix."""
        p = Path(path)
        return p if count == 1 else p.with_name(f"{p.stem}-{count}{p.suffix}")

    def write(self, plan: Plan, layout: Layout, *, count: int = 1, title: str | None = None,
              names: Mapping[int, str] | None = None) -> list[Path]:
        """Writes the pictures of the `count`th plan; returns what was written (the frames as a
        pattern). A plan that was not found is drawn, not animated."""
        written = []
        if self.svg:
            path = self._numbered(self.svg, count)
            svg.write_svg(path, svg.render_plan(plan, layout=layout, title=title, names=names))
            written.append(path)
        if self.animate and plan.found:
            path = self._numbered(self.animate, count)
            svg.write_svg(path, svg.render_animation(plan, layout=layout, names=names))
            written.append(path)
        if self.frames and plan.found:
            folder = Path(self.frames)
            for step in range(plan.num_steps + 1):
                frame = svg.render_plan(plan, layout=layout, step=step, names=names)
                svg.write_svg(folder / f"plan{count}-step{step:02d}.svg", frame)
            written.append(folder / f"plan{count}-step*.svg")
        return written
