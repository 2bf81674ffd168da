"""Where the pictures put positions and roads; the same course of roads for the page and the SVG."""

from __future__ import annotations

import math
import random
import unittest

from support import NS, curve_points, parse, random_scenario

from mova_host import svg
from mova_host.geometry import (LEGEND_TOP, NODE_BOX, TITLE_BOTTOM, WIDTH, fit, geometry_json, grid_layout,
                                resolve_layout)
from mova_host.roads import Road, RoadKind


class LayoutTest(unittest.TestCase):
    def test_roads_stay_clear_of_title_and_legend(self):
        # Roads along the top and bottom rows pass over a position and must bend; a long
        # diagonal bends too.
        roads = (Road(RoadKind.TWO_LANES, 0, 2), Road(RoadKind.ONE_LANE, 1, 3), Road(RoadKind.ONE_WAY, 0, 3),
                 Road(RoadKind.TWO_LANES, 8, 10), Road(RoadKind.ONE_WAY, 11, 8), Road(RoadKind.ONE_LANE, 0, 10),
                 Road(RoadKind.TWO_LANES, 0, 1), Road(RoadKind.TWO_LANES, 0, 1))
        for layout in ("grid", "circle", {0: (0, 0), 1: (100, 0), 2: (200, 0), 3: (300, 0), 8: (0, 100),
                                           10: (200, 100), 11: (300, 100)}):
            root = parse(svg.render_network(roads, layout=layout))
            for road in root.findall(".//s:g[@id='roads']/s:g", NS):
                for x, y in curve_points(road.find("s:path", NS).get("d")):
                    with self.subTest(layout=str(layout)[:20], road=road.get("data-road")):
                        self.assertGreater(y - 8, TITLE_BOTTOM)
                        self.assertLess(y + 8, LEGEND_TOP - 8)
                        self.assertTrue(0 < x < WIDTH)
            # The second road between 0 and 1 is drawn beside the first, not over it.
            twins = [r.find("s:path", NS).get("d") for r in root.findall(".//s:g[@data-from='0'][@data-to='1']", NS)]
            self.assertEqual(len(set(twins)), 2)

    def test_positions_at_their_coordinates(self):
        inside = {0: (100.0, 150.0), 1: (400.0, 150.0), 5: (250.0, 400.0)}
        roads = (Road(RoadKind.TWO_LANES, 0, 1), Road(RoadKind.ONE_WAY, 1, 5))
        root = parse(svg.render_network(roads, layout=inside, names={5: "dock"}))
        drawn = {int(g.get("data-pos")): g for g in root.findall(".//s:g[@class='position']", NS)}
        self.assertEqual(sorted(drawn), [0, 1, 5])
        for p, (x, y) in inside.items():
            circle = drawn[p].find("s:circle", NS)
            self.assertEqual((float(circle.get("cx")), float(circle.get("cy"))), (x, y))
        self.assertEqual(drawn[5].find("s:text[@class='name']", NS).text, "dock")
        # Coordinates of another scale are fitted into the drawing, keeping their shape.
        far = resolve_layout({0: (0, 0), 1: (3000, 0), 5: (1500, 1500)})
        x0, y0, x1, y1 = NODE_BOX
        self.assertTrue(all(x0 <= x <= x1 and y0 <= y <= y1 for x, y in far.values()))
        self.assertAlmostEqual(far[1][0] - far[0][0], 2 * (far[5][1] - far[0][1]))

    def test_fitting_never_scales_to_infinity(self):
        # Spans too small to divide by (a subnormal 5e-324) once scaled to infinity, and the
        # positions to NaN.
        for points in ({0: (0.0, 0.0), 1: (5e-324, 5e-324)}, {0: (0.0, 0.0), 1: (5e-324, 0.0)},
                       {0: (-1e6, 1e6), 1: (1e6, -1e6)}, {0: (2000.0, 2000.0)}):
            with self.subTest(points=points):
                fitted, scaled = fit(points, NODE_BOX, NODE_BOX)
                self.assertTrue(scaled)
                self.assertTrue(all(math.isfinite(v) for point in fitted.values() for v in point), fitted)
                x0, y0, x1, y1 = NODE_BOX
                self.assertTrue(all(x0 <= x <= x1 and y0 <= y <= y1 for x, y in fitted.values()), fitted)


class PageGeometryTest(unittest.TestCase):
    def test_the_page_gets_the_roads_the_pictures_draw(self):
        rng = random.Random(7)
        for _ in range(60):
            s = random_scenario(rng)
            layout = grid_layout()
            drawn = {int(g.get("data-road")): g.find("s:path", NS).get("d")
                     for g in parse(svg.render_network(s.roads, layout=layout)).findall(".//s:g[@id='roads']/s:g", NS)}
            page = geometry_json(layout, s.roads)
            self.assertEqual({r["index"]: r["d"] for r in page["roads"]}, drawn)
            # One course per pair of positions joined, for the vehicles' paths; bent where a
            # position lies in the way.
            pairs = {frozenset((p["from"], p["to"])) for p in page["pairs"]}
            self.assertEqual(pairs, {frozenset((r.a, r.b)) for r in s.roads if r.a != r.b})

    def test_a_road_past_a_position_is_bent_for_the_page_too(self):
        page = geometry_json(grid_layout(), [Road(RoadKind.TWO_LANES, 0, 2), Road(RoadKind.ONE_WAY, 0, 1)])
        controls = {(p["from"], p["to"]): p["control"] for p in page["pairs"]}
        self.assertIsNone(controls[(0, 1)])
        self.assertIsNotNone(controls[(0, 2)])  # position 1 lies on the straight line from 0 to 2
        self.assertIn("Q", page["roads"][0]["d"])


if __name__ == "__main__":
    unittest.main()
