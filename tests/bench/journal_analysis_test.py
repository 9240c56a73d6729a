"""How the benchmark reads the host's journal and sums it up."""
import argparse
import os
import socket
import tempfile
import time
import unittest

from animation_costs import AnimationFigures
from figures import median, percentile
from idle_delivery import clock_origin, label_time
from journal import check_cycles, entry_calls, frame_intervals, parse_line, quoted
from mail_cycles import delayed_acks
from procfs import ThreadTimes, thread_spending
from dead_path import DeadPathRun
from report import dead_path_rows, net_animation_rows, teardown_rows
from run import parts
from talking_server import STILL_HERE, start
from teardown_costs import ListingRun, TeardownFigures, pop3_trace


def journal(text):
    return [parse_line(line) for line in text.strip("\n").split("\n")]


class CheckCycles(unittest.TestCase):
    def test_pairs_labels_by_the_thread_that_set_them(self):
        # A periodic check (thread 20) and a one-shot check (thread 30) overlap;
        # another item's labels and a check that ended otherwise do not count.
        events = journal(
            "100.0\t20\t1\tDockletSetLabel\t\"Checking\"\n"
            "105.0\t30\t1\tDockletSetLabel\t\"Checking\"\n"
            "107.0\t40\t2\tDockletSetLabel\t\"Checking\"\n"
            "112.5\t20\t1\tDockletSetLabel\t\"3 new messages\"\n"
            "120.0\t30\t1\tDockletSetLabel\t\"3 new messages\"\n"
            "121.0\t40\t2\tDockletSetLabel\t\"3 new messages\"\n"
            "200.0\t20\t1\tDockletSetLabel\t\"Checking\"\n"
            "230.0\t20\t1\tDockletSetLabel\t\"No mail\"\n"
            "300.0\t20\t1\tDockletSetLabel\t\"Checking\"\n"
            "310.0\t20\t1\tDockletSetLabel\t\"3 new messages\"\n")
        self.assertEqual([12.5, 15.0, 10.0], check_cycles(events, "1", "Checking", "3 new messages"))

    def test_labels_are_compared_as_the_journal_quotes_them(self):
        events = journal('1.0\t7\t1\tDockletSetLabel\t"say \\"hi\\""\n'
                         '4.0\t7\t1\tDockletSetLabel\t"C:\\\\mail"\n')
        self.assertEqual('"say \\"hi\\""', quoted('say "hi"'))
        self.assertEqual([3.0], check_cycles(events, "1", 'say "hi"', "C:\\mail"))


class Frames(unittest.TestCase):
    def test_intervals_of_one_item_from_a_given_time(self):
        events = journal("10.0\t5\t1\tDockletSetImage\t128x128 auto=0\n"
                         "50.0\t5\t1\tDockletSetImage\t128x128 auto=0\n"
                         "90.0\t6\t2\tDockletSetImage\t128x128 auto=0\n"
                         "125.5\t5\t1\tDockletSetImage\t128x128 auto=0\n"
                         "200.0\t5\t1\tDockletSetImage\t128x128 auto=0\n")
        self.assertEqual([75.5, 74.5], frame_intervals(events, "1", after_ms=50.0))


class EntryCalls(unittest.TestCase):
    def test_image_loading_is_counted_in_the_call_it_happened_in(self):
        events = journal(
            "1.0\t9\t1\tcall\tOnCreate\n"
            "9.0\t9\t-\tDockletLoadGDIPlusImage\t\"a.png\" -> 64x64 fp=1 px=2 6.5ms, decoding 4.0ms\n"
            "12.0\t9\t-\tDockletLoadGDIPlusImage\t\"b.png\" -> none 2.0ms, decoding 1.5ms\n"
            "15.0\t9\t1\treturn\tOnCreate 14.0ms -> 0x01\n"
            "20.0\t9\t1\tcall\tOnLeftButtonHeld\n"
            "20.5\t9\t1\treturn\tOnLeftButtonHeld 0.5ms -> 1\n"
            "30.0\t9\t1\tcall\tOnDestroy\n"
            "31.7\t9\t1\treturn\tOnDestroy 1.7ms\n")
        creates = entry_calls(events, "OnCreate")
        self.assertEqual([("1", 14.0, 8.5, 5.5)],
                         [(c.item, c.ms, c.image_loading_ms, c.image_decoding_ms) for c in creates])
        destroys = entry_calls(events, "OnDestroy")
        self.assertEqual([("1", 1.7, 0.0, 0.0)],
                         [(d.item, d.ms, d.image_loading_ms, d.image_decoding_ms) for d in destroys])


class IdleDelivery(unittest.TestCase):
    def test_the_label_is_the_first_with_the_count_after_the_announcement(self):
        events = journal('0.2\t8\t-\thost-start\tmain-thread=8 clock-origin-ms=5000.250\n'
                         '90.0\t9\t1\tDockletSetLabel\t"4 new messages"\n'
                         '120.0\t9\t1\tDockletSetLabel\t"14 new messages"\n'
                         '130.5\t9\t1\tDockletSetLabel\t"4 new messages"\n')
        self.assertEqual(5000.25, clock_origin(events))
        for after_ms, found in ((0.0, 90.0), (100.0, 130.5), (130.5, 130.5), (131.0, None)):
            with self.subTest(after_ms=after_ms):
                self.assertEqual(found, label_time(events, "4 new messages", after_ms))

    def test_a_journal_without_the_clock_has_no_origin(self):
        for line in ("0.2\t8\t-\thost-start\tmain-thread=8", "0.2\t8\t-\tstats\tclock-origin-ms=1.0"):
            with self.subTest(line):
                self.assertIsNone(clock_origin(journal(line)))


class ThreadSpending(unittest.TestCase):
    def test_threads_are_taken_apart_and_new_ones_count_from_zero(self):
        before = {10: ThreadTimes(1.5, 100), 11: ThreadTimes(0.25, 7), 12: ThreadTimes(3.0, 1)}
        after = {10: ThreadTimes(2.0, 160), 11: ThreadTimes(0.25, 7), 13: ThreadTimes(0.5, 30)}
        self.assertEqual({10: ThreadTimes(0.5, 60), 11: ThreadTimes(0.0, 0), 13: ThreadTimes(0.5, 30)},
                         thread_spending(before, after))


class NetAnimation(unittest.TestCase):
    def test_each_item_costs_what_it_adds_to_the_host_alone_in_both_processes(self):
        idle = AnimationFigures(0, 0.02, 0.14, 0, 0, [])
        # (host, wineserver) s/min of 10 items -> the row's per-item figures and verdict.
        for (host, server, badge, direct), row in (
                ((0.62, 0.54, False, True), "no mail, calling thread 0.060 0.040 0.100 0.17 MISSED 790"),
                ((0.42, 0.34, True, False), "Badge=1, 3 messages, host's thread 0.040 0.020 0.060 0.10 met 790")):
            figures = AnimationFigures(10, host, server, 0, 0, [], quiet=True, badge=badge, direct=direct,
                                       frames_per_minute=7900, main_thread_wakes_per_minute=7900,
                                       other_threads_wakes_per_minute=15800, wineserver_wakes_per_minute=400)
            with self.subTest(row):
                rows = net_animation_rows(idle, [figures])
                self.assertEqual(row, " ".join(rows[2].split()))
                self.assertIn("workers 2.0, host's thread 1.0, wineserver 0.1;", rows[4])


class Parts(unittest.TestCase):
    def test_parts_run_in_the_table_order_and_unknown_ones_are_refused(self):
        self.assertEqual(["idle", "animation"], parts("animation,idle"))
        self.assertEqual(["cycles"], parts("cycles,cycles"))
        for text in ("", "idle,", "cpu", "idle,Animation"):
            with self.subTest(text), self.assertRaises(argparse.ArgumentTypeError):
                parts(text)


class DeadPath(unittest.TestCase):
    def test_the_worst_run_decides_each_goal(self):
        runs = [DeadPathRun(noticed, after, back) for noticed, after, back in
                ((70300.0, 2, 40.0), (71000.0, 5, 35.0), (69800.0, 10, 38.0), (70100.0, 30, 36.0),
                 (121000.0, 65, 9100.0))]
        rows = dead_path_rows(runs)
        self.assertEqual("silent path to failed label 70.3 71.0 69.8 70.1 121.0 70.3 121.0 max <= 120 s MISSED",
                         " ".join(rows[1].split()))
        self.assertEqual("path back, s after failed label 2 5 10 30 65", " ".join(rows[2].split()))
        self.assertEqual("path back to new count 0.0 0.0 0.0 0.0 9.1 0.0 9.1 max <= 15 s met",
                         " ".join(rows[3].split()))


class Teardown(unittest.TestCase):
    def test_every_run_is_shown_and_the_worst_decides_with_the_median(self):
        listing = [ListingRun(ms, share, sent, quit_said) for ms, share, sent, quit_said in
                   ((3.0, 0.1, 0.4, False), (4.0, 0.3, 1.0, False), (49.0, 0.5, 1.0, False),
                    (2.0, 0.7, 1.0, False), (0.5, 0.9, 1.0, True))]
        rows = teardown_rows(TeardownFigures([1.0, 2.0, 1.5, 1.2, 6.0], [2.0, 51.0, 1.0, 1.0, 1.0],
                                             [1.1, 0.9, 5.5, 1.0, 1.2], listing, 310.4))
        self.assertEqual("checks blocked (silent server) 1.0 2.0 1.5 1.2 6.0 1.5 6.0 met", " ".join(rows[1].split()))
        self.assertTrue(rows[2].endswith("MISSED"))
        self.assertEqual("Idle=1, path black-holed 1.1 0.9 5.5 1.0 1.2 1.1 5.5 met", " ".join(rows[3].split()))
        self.assertTrue(" ".join(rows[4].split()).endswith(" 3.0 49.0 met"))
        self.assertIn("(310 ms)", rows[8])
        self.assertIn("10%: 40%, 30%: 100%, 50%: 100%, 70%: 100%, 90%: QUIT)", rows[9])

    def test_the_servers_trace_gives_each_pop3_connections_end(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "trace.txt")
            self.assertEqual([], pop3_trace(path))
            with open(path, "w") as trace:
                trace.write("pop3 100 12138919 0\nimap 5\npop3 12138919 12138919 1\n")
            self.assertEqual([(100, 12138919, False), (12138919, 12138919, True)], pop3_trace(path))


class TalkingServer(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.trace = os.path.join(self.folder.name, "trace.txt")
        self.servers = start(self.trace, listing_ids=1000)

    def tearDown(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()
        self.folder.cleanup()

    def replies_to(self, server, lines):
        """The server's replies, the greeting first, to the lines sent at once."""
        connection = socket.create_connection(server.server_address, timeout=10)
        connection.sendall(b"".join(line.encode() + b"\r\n" for line in lines))
        replies = connection.makefile("rb")
        connection.close()
        return replies

    def test_uidl_lists_every_id_then_the_end_is_traced(self):
        with self.replies_to(self.servers[1], ["USER a", "PASS b", "STAT", "UIDL"]) as replies:
            lines = [replies.readline() for _ in range(1006)]
        self.assertEqual(b"+OK 1000 1000000\r\n", lines[3])
        self.assertEqual(b".\r\n", lines[-1])
        self.assertEqual(1000, len({line.split()[1] for line in lines[5:-1]}))
        size = len(self.servers[1].listing)
        for _ in range(100):
            if pop3_trace(self.trace):
                break
            time.sleep(0.05)
        self.assertEqual([(size, size, False)], pop3_trace(self.trace))

    def test_once_idling_it_talks_without_end(self):
        lines = ["1 LOGIN a b", "2 EXAMINE INBOX", "3 SEARCH UNSEEN", "5 IDLE"]
        with self.replies_to(self.servers[0], lines) as replies:
            got = [replies.readline() for _ in range(30)]
        self.assertIn(b"* SEARCH 1 2\r\n", got)
        idling = got.index(b"+ idling\r\n")
        self.assertEqual([STILL_HERE] * (29 - idling), got[idling + 1:])


class DelayedAcks(unittest.TestCase):
    def test_only_pieces_held_for_a_delayed_ack_count(self):
        lines = ["held 43.9 greeting\n", "held 0.6 LOGOUT\n", "held 20.0 STAT\n", "held 19.9 PASS\n",
                 "held 44 \n", "", "sent 50.0 LOGIN\n"]
        self.assertEqual(2, delayed_acks(lines))


class Lines(unittest.TestCase):
    def test_lines_that_are_not_events_are_left_out(self):
        self.assertIsNone(parse_line("12.0\t5\t1\tstats"))
        self.assertIsNone(parse_line("soon\t5\t1\tstats\thandles=1"))
        self.assertEqual("a\tb", parse_line("1.5\t5\t-\tinfo\ta\tb\r\n").details)


class Figures(unittest.TestCase):
    def test_median_of_odd_and_even_counts(self):
        self.assertEqual(3, median([5, 1, 3]))
        self.assertEqual(2.5, median([4, 1, 3, 2]))

    def test_nearest_rank_percentile(self):
        self.assertEqual(99, percentile(range(1, 101), 99))
        self.assertEqual(10, percentile([1, 2, 10], 99))
        self.assertEqual(1, percentile([3, 1, 2], 1))

    def test_no_values_is_an_error_not_a_figure(self):
        with self.assertRaises(ValueError):
            median([])


if __name__ == "__main__":
    unittest.main()
