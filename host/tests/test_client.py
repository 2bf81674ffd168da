from __future__ import annotations

import logging
import os
import shutil
import signal
import tempfile
import time
import unittest
from pathlib import Path
from unittest import mock

from support import ClientCase, binary, write_script

from mova_host import (
    ChildExited,
    CommandDropped,
    ControllerNotFound,
    MovaClient,
    MovaError,
    MovaTimeout,
    ProtocolError,
    Timeouts,
    find_binary,
)
from mova_host.protocol import COMMANDS


class AnswersTest(ClientCase):
    def test_typed_answers_on_a_fresh_controller(self):
        client = self.new_client()
        self.assertEqual(client.generation(), "2024")
        self.assertRegex(client.build_version(), r"^[0-9a-f]{40}$")
        self.assertEqual(client.get_max_pos(), 12)
        self.assertEqual(client.get_max_roads(), 15)
        self.assertEqual(client.num_vehicles(), 3)
        self.assertIsNone(client.get_current_pos(2))
        self.assertTrue(client.goal_reached())
        self.assertEqual(client.cpu_time(), 0.0)
        self.assertEqual(client.evaluations(), 0)
        self.assertEqual(client.obstacles_count(), 0)
        self.assertFalse(client.obstacle_present(2, 3))
        self.assertEqual(client.get_num_steps(), 0)
        self.assertTrue(client.author())
        self.assertEqual(client.close(), 0)

    def test_watermark_query_keeps_the_stream_aligned(self):
        client = self.new_client()
        watermark = client.watermark()
        self.assertEqual(watermark, client.watermark_line)
        self.assertTrue(watermark.endswith(". "))
        self.assertEqual(client.request("INFORMATION_GET_WATERMARK").answer, watermark)
        self.assertEqual(client.generation(), "2024")
        self.assertEqual(client.watermark(), watermark)

    def test_commands_without_answer_change_state(self):
        client = self.new_client()
        client.set_current_pos(1, 4)
        client.set_current_pos(2, 0)
        self.assertEqual(client.get_current_pos(1), 4)
        self.assertEqual(client.get_current_pos(2), 0)
        client.add_obstacle(3, 2)
        self.assertTrue(client.obstacle_present(2, 3))
        client.environment_clean()
        client.add_two_way_road_two_lanes(4, 5)
        client.environment_build()
        self.assertEqual(client.get_dis_to_pos(1, 5), 1)
        self.assertEqual(client.get_dis_to_pos(1, 9), 32767)

    def test_raw_requests_report_answers_and_drops(self):
        client = self.new_client()
        self.assertEqual(client.request("vehicle_get_current_pos 1 extra words").answer, "-1")
        self.assertEqual(client.request("MONITORING_GET_NUM_VEHICLES").answer, " 3")
        for line in ("VEHICLE_GET_CURRENT_POS 4", "VEHICLE_GET_CURRENT_POS 1x", " MOVA_GENERATION",
                     "VEHICLE_GET_STEP_POS 1 0", "NO_SUCH_COMMAND", ""):
            with self.subTest(line=line):
                exchange = client.request(line)
                self.assertTrue(exchange.dropped)
                self.assertIsNone(exchange.answer)
        quiet = client.request("VEHICLE_SET_CURRENT_POS 1 5")
        self.assertFalse(quiet.answers)
        self.assertFalse(quiet.dropped)
        self.assertTrue(client.request("VEHICLE_SET_CURRENT_POS 1 12").dropped)
        self.assertEqual(client.get_current_pos(1), 5)
        with self.assertRaises(ValueError):
            client.request("MOVA_GENERATION\nMOVA_GENERATION")


class DroppedTest(ClientCase):
    def test_dropped_query_raises_naming_the_command_and_the_stream_stays_aligned(self):
        client = self.new_client()
        with self.assertRaises(CommandDropped) as caught:
            client.get_step_pos(1, 0)  # no plan yet
        self.assertEqual(caught.exception.command, "VEHICLE_GET_STEP_POS")
        self.assertIn("VEHICLE_GET_STEP_POS", str(caught.exception))
        with self.assertRaises(CommandDropped) as caught:
            client.get_dis_to_pos(3, 1)  # vehicle 3 stands nowhere
        self.assertEqual(caught.exception.command, "VEHICLE_GET_DIS_TO_POS")
        self.assertEqual(client.get_max_roads(), 15)
        self.assertEqual(client.generation(), "2024")

    def test_arguments_are_checked_before_anything_is_written(self):
        written = []
        client = self.new_client(on_exchange=written.append)
        bad_calls = [
            (ValueError, client.get_current_pos, (4,)),
            (ValueError, client.get_current_pos, (0,)),
            (TypeError, client.get_current_pos, (True,)),
            (TypeError, client.get_current_pos, ("1",)),
            (ValueError, client.set_current_pos, (1, 12)),
            (ValueError, client.set_goal_pos, (1, -1)),
            (ValueError, client.get_step_pos, (1, -1)),
            (ValueError, client.add_obstacle, (-1, 0)),
            (ValueError, client.set_timeout, (2**31,)),
            (TypeError, client.add_one_way_road, (1,)),
        ]
        for error, method, args in bad_calls:
            with self.subTest(method=method.__name__, args=args):
                with self.assertRaises(error):
                    method(*args)
        self.assertEqual(written, [])
        client.add_obstacle(12, 0)  # the controller accepts obstacle ends up to 12
        self.assertEqual(client.obstacles_count(), 1)


class TimeoutTest(ClientCase):
    def test_time_out_then_resynchronise(self):
        client = self.new_client(timeouts=Timeouts(answer=0.05))
        with self.assertRaises(MovaTimeout) as caught:
            client.init()  # pauses 0.369 s
        self.assertEqual(caught.exception.command, "MOVA_INIT")
        self.assertIsInstance(caught.exception, TimeoutError)
        client.timeouts = Timeouts(answer=10.0)
        self.assertEqual(client.generation(), "2024")
        self.assertEqual(client.get_max_pos(), 12)

    def test_planning_time_out_follows_the_planner_limit(self):
        client = self.new_client(timeouts=Timeouts(answer=1.0, planning_margin=1.0, planning_factor=6.0))
        client.set_timeout(2500)
        self.assertEqual(client._time_out_for(COMMANDS["MOVA_START_MISSION"]), 16.0)
        self.assertEqual(client._time_out_for(COMMANDS["MOVA_GET_NUM_STEPS"]), 1.0)

    def test_silent_child_times_out_at_start_up(self):
        with tempfile.TemporaryDirectory() as folder:
            script = write_script(folder, "import time\ntime.sleep(30)\n")
            began = time.monotonic()
            with self.assertRaises(MovaTimeout):
                MovaClient(script, folder, timeouts=Timeouts(start=0.3))
            self.assertLess(time.monotonic() - began, 10)

    def test_child_whose_sentinel_looks_like_an_answer_is_refused(self):
        with tempfile.TemporaryDirectory() as folder:
            script = write_script(folder, "import sys\nfor _ in sys.stdin:\n    print(' 1', flush=True)\n")
            with self.assertRaises(ProtocolError):
                MovaClient(script, folder)

    def test_two_lines_for_one_query_is_a_protocol_error(self):
        with tempfile.TemporaryDirectory() as folder:
            script = write_script(folder, (
                "import sys\n"
                "for line in sys.stdin:\n"
                "    if line.startswith('MOVA_GET_NUM_STEPS'):\n"
                "        print(' 1'); print(' 2')\n"
                "    elif line.startswith('INFORMATION_GET_WATERMARK'):\n"
                "        print('mark. ')\n"
                "    sys.stdout.flush()\n"))
            client = MovaClient(script, folder)
            self.addCleanup(client.kill)
            with self.assertRaises(ProtocolError):
                client.get_num_steps()


class DeadChildTest(ClientCase):
    def test_killed_child_is_reported_not_waited_on(self):
        client = self.new_client(timeouts=Timeouts(answer=60.0))
        self.assertEqual(client.get_max_pos(), 12)
        os.kill(client.pid, signal.SIGKILL)
        began = time.monotonic()
        with self.assertRaises(ChildExited) as caught:
            client.get_max_pos()
        self.assertLess(time.monotonic() - began, 10)
        self.assertEqual(caught.exception.returncode, -signal.SIGKILL)
        with self.assertRaises(ChildExited):
            client.generation()

    def test_child_killed_during_a_command(self):
        client = self.new_client(timeouts=Timeouts(answer=60.0))
        killer = __import__("threading").Timer(0.1, os.kill, (client.pid, signal.SIGKILL))
        killer.start()
        self.addCleanup(killer.cancel)
        began = time.monotonic()
        with self.assertRaises(ChildExited):
            for _ in range(50):  # the kill lands during one of these
                client.init()  # 0.369 s each
        self.assertLess(time.monotonic() - began, 10)

    def test_child_that_exits_with_a_diagnostic(self):
        with tempfile.TemporaryDirectory() as folder:
            script = write_script(folder, (
                "import sys\n"
                "sys.stdin.readline(); print('mark. ', flush=True)\n"
                "sys.stdin.readline(); sys.stderr.write('mova: broken\\n'); sys.exit(1)\n"))
            client = MovaClient(script, folder)
            with self.assertRaises(ChildExited) as caught:
                client.get_max_pos()
            self.assertEqual(caught.exception.returncode, 1)
            self.assertIn("mova: broken", str(caught.exception))


class BinaryLookupTest(unittest.TestCase):
    def test_named_then_environment(self):
        real = str(binary())
        with self.assertRaises(FileNotFoundError):
            find_binary("/nonexistent/mova")
        with mock.patch.dict(os.environ, {"MOVA_BINARY": real}):
            self.assertEqual(str(find_binary()), real)
        with mock.patch.dict(os.environ, {"MOVA_BINARY": "/nonexistent/mova"}):
            with self.assertRaises(FileNotFoundError):
                find_binary()
            self.assertEqual(str(find_binary(real)), real)

    def test_none_found_names_every_place_searched(self):
        empty = tempfile.mkdtemp(prefix="mova-no-binary-")
        self.addCleanup(os.rmdir, empty)
        tree = Path(empty)  # a "source tree" without a build: its build/mova is one of the places
        (tree / "host" / "mova_host").mkdir(parents=True)
        (tree / "CMakeLists.txt").write_text("")
        self.addCleanup(shutil.rmtree, tree / "host")
        self.addCleanup((tree / "CMakeLists.txt").unlink)
        environment = {k: v for k, v in os.environ.items() if k != "MOVA_BINARY"}
        with mock.patch.dict(os.environ, {**environment, "PATH": f"{empty}:/nonexistent"}, clear=True), \
                mock.patch("mova_host.process._ROOT", tree):
            with self.assertRaises(ControllerNotFound) as caught:
                MovaClient()
        message = str(caught.exception)
        self.assertIsInstance(caught.exception, MovaError)
        self.assertIsInstance(caught.exception, FileNotFoundError)  # as the lookup raised before
        for place in ("MOVA_BINARY is not set", f"({tree / 'build' / 'mova'})", f"on the PATH ({empty}:/nonexistent)"):
            self.assertIn(place, message)


class WireLogTest(ClientCase):
    def test_each_line_sent_and_read_is_logged_at_debug(self):
        client = self.new_client()
        with self.assertLogs("mova_host.wire", logging.DEBUG) as logged:
            client.request("MOVA_GENERATION")
            client.request("VEHICLE_GET_STEP_POS 1 0")  # dropped: only the sentinel comes back
        pid = client.pid
        self.assertEqual([record.getMessage() for record in logged.records][:3],
                         [f"mova[{pid}] > MOVA_GENERATION", f"mova[{pid}] > INFORMATION_GET_WATERMARK",
                          f'mova[{pid}] < "2024"'])
        self.assertEqual(len(logged.records), 7)  # two lines out, and two in or (dropped) one

    def test_client_uses_the_working_directory_given(self):
        with tempfile.TemporaryDirectory() as folder:
            with MovaClient(binary(), folder) as client:
                client.init()
            self.assertTrue(os.path.exists(os.path.join(folder, "MOVA_Copyright.txt")))
            with open(os.path.join(folder, "MOVA_Copyright.txt")) as notice:
                self.assertIn("2024", notice.read())


if __name__ == "__main__":
    unittest.main()
