from __future__ import annotations

import math
import re
import unittest
import xml.etree.ElementTree as ET

import support  # noqa: F401  (puts the package on the path)

from mova_host import Plan, Road, RoadKind
from mova_host import svg

NS = {"s": "http://www.w3.org/2000/svg"}
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


def parse(text: str) -> ET.Element:
    return ET.fromstring(text.encode())


def numbers(d: str) -> list[tuple[float, float]]:
    values = [float(x) for x in re.findall(r"-?\d+(?:\.\d+)?", d)]
    return list(zip(values[::2], values[1::2]))


class PlanPictureTest(unittest.TestCase):
    def setUp(self):
        self.root = parse(svg.render_plan(PLAN))
        self.layout = svg.grid_layout()

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
        layout = svg.grid_layout()
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


if __name__ == "__main__":
    unittest.main()
