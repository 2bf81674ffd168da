from __future__ import annotations

import math
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

from support import NS, numbers, parse, random_scenario

import random

from mova_host import Plan, Road, RoadKind
from mova_host import svg
from mova_host.errors import OutputError
from mova_host.geometry import grid_layout
from mova_host.exact import solve

ROADS = (
    Road(RoadKind.TWO_LANES, 0, 1),
    Road(RoadKind.ONE_LANE, 1, 5),
    Road(RoadKind.ONE_WAY, 5, 4),
    Road(RoadKind.TWO_LANES, 4, 0),
    Road(RoadKind.ONE_LANE, 0, 2),  # passes over position 1 in the grid: drawn bent
)
# V1 0 -> 1 -> 5, V2 1 -> 0 -> 4 (waits first), V3 stays on 2 (no road used).
PLAN = Plan(
    found=True,
    roads=ROADS,
    obstacles=((4, 5),),
    goals=(5, 4, 2),
    steps=((0, 1, 2), (0, 1, 2), (1, 0, 2), (5, 4, 2)),
)


class PlanPictureTest(unittest.TestCase):
    def setUp(self):
        self.root = parse(svg.render_plan(PLAN))
        self.layout = grid_layout()

    def test_all_twelve_positions_at_their_places(self):
        positions = self.root.findall(".//s:g[@class='position']", NS)
        self.assertEqual([int(p.get("data-pos")) for p in positions], list(range(12)))
        for group in positions:
            circle = group.find("s:circle", NS)
            x, y = self.layout[int(group.get("data-pos"))]
            self.assertEqual((float(circle.get("cx")), float(circle.get("cy"))), (x, y))
            self.assertEqual(group.find("s:text", NS).text, group.get("data-pos"))

    def test_roads_by_kind(self):
        roads = self.root.findall(".//s:g[@id='roads']/s:g", NS)
        found = [(r.get("data-kind"), int(r.get("data-from")), int(r.get("data-to"))) for r in roads]
        self.assertEqual(found, [(r.kind.value, r.a, r.b) for r in ROADS])
        for road in roads:
            paths = road.findall("s:path", NS)
            kind = road.get("data-kind")
            with self.subTest(kind=kind):
                if kind == "one-way":
                    self.assertEqual(paths[0].get("marker-end"), "url(#arrow)")
                elif kind == "two-lanes":
                    self.assertEqual(len(paths), 2)  # band and dashed centre line
                    self.assertIsNotNone(paths[1].get("stroke-dasharray"))
                else:
                    self.assertEqual(len(paths), 1)
                    self.assertIsNone(paths[0].get("marker-end"))
        widths = {r.get("data-kind"): float(r.find("s:path", NS).get("stroke-width")) for r in roads}
        self.assertGreater(widths["two-lanes"], widths["one-lane"])
        bent = roads[4].find("s:path", NS).get("d")
        self.assertIn("Q", bent)
        self.assertNotIn("Q", roads[0].find("s:path", NS).get("d"))

    def test_one_way_arrow_points_at_its_destination(self):
        road = self.root.find(".//s:g[@data-kind='one-way']/s:path", NS)
        points = numbers(road.get("d"))
        end, start = points[-1], points[0]
        self.assertLess(math.dist(end, self.layout[4]), math.dist(start, self.layout[4]))

    def test_obstacle_marked_on_its_road(self):
        obstacle = self.root.find(".//s:g[@class='obstacle']", NS)
        self.assertEqual((obstacle.get("data-from"), obstacle.get("data-to")), ("4", "5"))
        circle = obstacle.find("s:circle", NS)
        middle = [(a + b) / 2 for a, b in zip(self.layout[4], self.layout[5])]
        self.assertEqual([float(circle.get("cx")), float(circle.get("cy"))], middle)

    def test_paths_follow_the_plan_in_the_vehicle_colours(self):
        paths = self.root.findall(".//s:path[@class='path']", NS)
        self.assertEqual([int(p.get("data-vehicle")) for p in paths], [1, 2, 3])
        for path in paths:
            v = int(path.get("data-vehicle"))
            with self.subTest(vehicle=v):
                self.assertEqual(path.get("stroke"), svg.COLOURS[v])
                self.assertEqual(path.get("data-positions").split(), [str(p) for p in PLAN.path(v)])
                # Corners of the drawn path lie on the positions it visits, in order.
                visited = [p for i, p in enumerate(PLAN.path(v)) if i == 0 or p != PLAN.path(v)[i - 1]]
                points = numbers(path.get("d"))
                self.assertEqual(len(points), len(visited))
                for point, position in zip(points, visited):
                    self.assertLess(math.dist(point, self.layout[position]), 12)
        self.assertEqual(len({p.get("stroke") for p in paths}), 3)

    def test_step_numbers_of_each_move(self):
        steps = {(int(g.get("data-vehicle")), g.get("data-steps"))
                 for g in self.root.findall(".//s:g[@class='step']", NS)}
        self.assertEqual(steps, {(1, "2"), (1, "3"), (2, "2"), (2, "3")})

    def test_start_and_goal_badges(self):
        for kind, where in (("start", PLAN.steps[0]), ("goal", PLAN.goals)):
            badges = self.root.findall(f".//s:g[@class='{kind}']", NS)
            self.assertEqual(sorted((int(b.get("data-vehicle")), int(b.get("data-pos"))) for b in badges),
                             [(v, where[v - 1]) for v in (1, 2, 3)])


class FramesAndAnimationTest(unittest.TestCase):
    def test_one_frame_per_step_shows_the_vehicles_there(self):
        for step in range(PLAN.num_steps + 1):
            root = parse(svg.render_plan(PLAN, step=step))
            with self.subTest(step=step):
                vehicles = root.findall(".//s:g[@class='vehicle']", NS)
                self.assertEqual([int(v.get("data-pos")) for v in vehicles], list(PLAN.steps[step]))
                self.assertEqual(root.find("s:title", NS).text, f"Step {step} of 3")

    def test_animation_moves_each_vehicle_through_its_positions(self):
        root = parse(svg.render_animation(PLAN))
        layout = grid_layout()
        for group in root.findall(".//s:g[@class='vehicle']", NS):
            v = int(group.get("data-vehicle"))
            animations = {a.get("attributeName"): a for a in group.iter(f"{{{NS['s']}}}animate")}
            xs = [float(x) for x in animations["cx"].get("values").split(";")]
            ys = [float(y) for y in animations["cy"].get("values").split(";")]
            self.assertEqual(list(zip(xs, ys))[:-1], [layout[p] for p in PLAN.path(v)])
            self.assertEqual(len(animations["cx"].get("keyTimes").split(";")), len(xs))
        counters = root.findall(".//s:g[@id='step-counter']/s:text", NS)
        self.assertEqual([c.get("data-step") for c in counters], ["0", "1", "2", "3"])

    def test_history_is_drawn_and_no_plan_still_draws_the_network(self):
        later = Plan(True, ROADS, (), (5, 4, 2), PLAN.steps[2:], history=PLAN.steps[:2])
        root = parse(svg.render_plan(later))
        travelled = root.findall(".//s:path[@class='travelled']", NS)
        self.assertEqual(travelled[0].get("data-positions"), "0 0 1")
        self.assertEqual(root.find(".//s:g[@class='start'][@data-vehicle='1']", NS).get("data-pos"), "0")
        failed = Plan(False, ROADS, (), (5, 4, 2), ((0, 1, 2),))
        root = parse(svg.render_plan(failed, layout="circle"))
        self.assertEqual(len(root.findall(".//s:g[@class='position']", NS)), 12)
        self.assertEqual(root.find("s:title", NS).text, "No plan found")
        network = parse(svg.render_network(ROADS, [(0, 1)]))
        self.assertEqual(len(network.findall(".//s:g[@id='roads']/s:g", NS)), 5)
        self.assertEqual(len(network.findall(".//s:g[@class='obstacle']", NS)), 1)


def boxes(root: ET.Element, css: str) -> list[tuple[float, float, float, float]]:
    out = []
    for group in root.findall(f".//s:g[@class='{css}']", NS):
        rect = group.find("s:rect", NS)
        x, y = float(rect.get("x")), float(rect.get("y"))
        out.append((x, y, x + float(rect.get("width")), y + float(rect.get("height"))))
    return out


def overlap(a, b) -> bool:
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class PlanMarksTest(unittest.TestCase):
    def test_after_a_replan_the_vehicles_are_marked_where_they_stand(self):
        later = Plan(True, ROADS, ((4, 5),), (5, 4, 2), PLAN.steps[2:], history=PLAN.steps[:2])
        root = parse(svg.render_plan(later))
        now = {int(g.get("data-vehicle")): int(g.get("data-pos")) for g in root.findall(".//s:g[@class='now']", NS)}
        self.assertEqual(now, {1: 1, 2: 0, 3: 2})
        self.assertEqual(root.find(".//s:g[@class='start'][@data-vehicle='1']", NS).get("data-pos"), "0")

    def test_frames_draw_what_is_to_come_solid(self):
        for step in range(PLAN.num_steps + 1):
            root = parse(svg.render_plan(PLAN, step=step))
            with self.subTest(step=step):
                for v in (1, 2, 3):
                    coming = root.find(f".//s:path[@class='path'][@data-vehicle='{v}']", NS)
                    done = root.find(f".//s:path[@class='path-done'][@data-vehicle='{v}']", NS)
                    self.assertEqual(coming.get("data-positions").split(), [str(p) for p in PLAN.path(v)[step:]])
                    self.assertEqual(done.get("data-positions").split(), [str(p) for p in PLAN.path(v)[:step + 1]])
                    self.assertGreater(float(coming.get("opacity")), 2 * float(done.get("opacity")))
                numbered = {int(n) for g in root.findall(".//s:g[@class='step']", NS) for n in g.get("data-steps").split()}
                self.assertTrue(all(n > step for n in numbered))

    def test_direction_marks_point_where_the_vehicles_go(self):
        root = parse(svg.render_plan(PLAN))
        layout = grid_layout()
        marks = root.findall(".//s:path[@class='direction']", NS)
        self.assertEqual(sorted((int(m.get("data-vehicle")), int(m.get("data-from")), int(m.get("data-to"))) for m in marks),
                         [(1, 0, 1), (1, 1, 5), (2, 0, 4), (2, 1, 0)])
        for mark in marks:
            tip = numbers(mark.get("d"))[0]
            a, b = layout[int(mark.get("data-from"))], layout[int(mark.get("data-to"))]
            self.assertLess(math.dist(tip, b), math.dist(tip, a))

    def test_step_numbers_never_cover_each_other(self):
        rng = random.Random(9)
        drawn = 0
        while drawn < 30:
            s = random_scenario(rng)
            exact = solve(s.roads, s.starts, s.goals, s.obstacles)
            if not exact.plan_exists or exact.optimal_steps < 3:
                continue
            drawn += 1
            plan = Plan(True, tuple(s.roads), tuple(s.obstacles), s.goals, tuple(exact.moves_plan))
            for layout in ("grid", "circle"):
                root = parse(svg.render_plan(plan, layout=layout))
                numbers_, badges = boxes(root, "step"), boxes(root, "start") + boxes(root, "goal")
                for i, a in enumerate(numbers_):
                    for b in numbers_[i + 1:] + badges:
                        self.assertFalse(overlap(a, b), f"{layout}: {a} covers {b} in {plan.steps}")


class PartialLayoutTest(unittest.TestCase):
    def test_coordinates_that_miss_positions(self):
        # Drawn on coordinates of positions 0, 1 and 4 only: roads and obstacles to the others are
        # left out; a plan that uses the others is drawn on the grid instead.
        layout = {0: (100.0, 100.0), 1: (300.0, 100.0), 4: (100.0, 300.0)}
        root = parse(svg.render_network(ROADS, ((4, 5), (0, 1)), layout=layout))
        drawn = {(int(g.get("data-from")), int(g.get("data-to"))) for g in root.findall(".//s:g[@id='roads']/s:g", NS)}
        self.assertEqual(drawn, {(0, 1), (4, 0)})
        self.assertEqual([(o.get("data-from"), o.get("data-to")) for o in root.findall(".//s:g[@class='obstacle']", NS)],
                         [("0", "1")])
        for picture in (svg.render_plan(PLAN, layout=layout), svg.render_animation(PLAN, layout=layout)):
            positions = parse(picture).findall(".//s:g[@class='position']", NS)
            self.assertEqual(len(positions), 12)


class HostileTextTest(unittest.TestCase):
    """Texts from outside in every picture: control characters, halves of characters and the
    characters XML gives a meaning."""

    TEXTS = ["dock\x00\x01\x08\x0b\x0c\x1f\x7f", "\ud800 half \udfff", "\ufffe\uffff", "a & b <c> ]]> \"d\" 'e'",
             "tab\tline\nreturn\r"]

    def test_every_picture_parses_as_xml(self):
        names = dict(enumerate(self.TEXTS))
        for text in self.TEXTS:
            for picture in (svg.render_network(ROADS, title=text, names=names), svg.render_plan(PLAN, title=text, names=names),
                            svg.render_plan(PLAN, step=1, title=text, names=names),
                            svg.render_animation(PLAN, names=names)):
                with self.subTest(text=text):
                    root = ET.fromstring(picture.encode("utf-8"))
                    shown = [t.text for t in root.findall(".//s:text[@class='name']", NS)]
                    self.assertEqual(len(shown), len(self.TEXTS))
        root = parse(svg.render_network(ROADS, title=self.TEXTS[1], names=names))
        self.assertEqual(root.find("s:title", NS).text, "\ufffd half \ufffd")
        self.assertEqual(svg.xml_text(self.TEXTS[0]), "dock      \x7f")
        self.assertEqual(svg.xml_text(self.TEXTS[3]), "a &amp; b &lt;c&gt; ]]&gt; \"d\" 'e'")

    def test_a_picture_is_written_whole_or_not_at_all(self):
        with tempfile.TemporaryDirectory() as folder:
            target = Path(folder, "deeper", "plan.svg")
            self.assertEqual(svg.write_svg(target, svg.render_plan(PLAN)), target)
            parse(target.read_text())
            for bad, text, words in ((Path(folder), "<svg/>", "Is a directory"),
                                     (target / "x.svg", "<svg/>", "its folder cannot be made"),
                                     (Path(folder, "half.svg"), "<svg>\ud800</svg>", "surrogates not allowed")):
                with self.subTest(bad=bad.name), self.assertRaises(OutputError) as caught:
                    svg.write_svg(bad, text)
                self.assertIn(words, str(caught.exception))
                self.assertTrue(str(caught.exception).startswith(f"cannot write the picture {bad}"))
            self.assertEqual(sorted(p.name for p in Path(folder).rglob("*")), ["deeper", "plan.svg"])


if __name__ == "__main__":
    unittest.main()
