#!/usr/bin/env python3
"""Checks of codec_table.py on hand-made Google Benchmark JSON."""

import contextlib
import io
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import codec_table  # noqa: E402


def aggregate(name, kind, cpu, unit="ns", real=None):
    return {
        "name": f"{name}_{kind}",
        "run_name": name,
        "run_type": "aggregate",
        "repetitions": 9,
        "aggregate_name": kind,
        "cpu_time": cpu,
        "real_time": cpu if real is None else real,
        "time_unit": unit,
    }


def iteration(name, cpu, unit="ns"):
    return {"name": name, "run_name": name, "run_type": "iteration", "repetitions": 3,
            "cpu_time": cpu, "real_time": cpu * 2, "time_unit": unit}


def document(*entries):
    return {"context": {"num_cpus": 2}, "benchmarks": list(entries)}


class CollectTest(unittest.TestCase):
    def test_median_aggregate_is_used_not_mean(self):
        doc = document(aggregate("lookup_one_a/ours", "mean", 900.0), aggregate("lookup_one_a/ours", "median", 100.0),
                       aggregate("lookup_one_a/ours", "cv", 0.04))
        self.assertEqual(codec_table.collect(doc), {"lookup_one_a": {"ours": (100.0, 0.04)}})

    def test_units_are_converted_to_ns_but_cv_is_not(self):
        doc = document(aggregate("r/ours", "median", 1.5, unit="us"), aggregate("r/ours", "cv", 0.02, unit="us"))
        median, cv = codec_table.collect(doc)["r"]["ours"]
        self.assertAlmostEqual(median, 1500.0)
        self.assertAlmostEqual(cv, 0.02)

    def test_median_of_individual_repetitions(self):
        doc = document(iteration("r/ours", 10.0), iteration("r/ours", 50.0), iteration("r/ours", 12.0))
        median, cv = codec_table.collect(doc)["r"]["ours"]
        self.assertEqual(median, 12.0)
        self.assertGreater(cv, 0.5)

    def test_real_time_field(self):
        doc = document(iteration("r/ours", 10.0))
        self.assertEqual(codec_table.collect(doc, "real_time")["r"]["ours"][0], 20.0)

    def test_rows_come_in_the_usual_order_whatever_the_input_order(self):
        doc = document(aggregate("zz_other/ours", "median", 1.0), aggregate("query_a/ours", "median", 1.0),
                       aggregate("lookup_one_a/ours", "median", 1.0), aggregate("lookup_ptr/ours", "median", 1.0))
        self.assertEqual(list(codec_table.collect(doc)), ["lookup_one_a", "lookup_ptr", "query_a", "zz_other"])

    def test_empty_input_is_refused(self):
        with self.assertRaises(codec_table.InputError):
            codec_table.collect({"benchmarks": []})


class JudgeTest(unittest.TestCase):
    def rows(self, ours, **peers):
        table = {"row": {"ours": (ours, None), **{lib: (ns, None) for lib, ns in peers.items()}}}
        return codec_table.judge(table)

    def test_ratio_against_the_faster_peer(self):
        [row] = self.rows(100.0, slow=900.0, quick=450.0)
        self.assertEqual(row["faster_peer"], "quick")
        self.assertAlmostEqual(row["ratio"], 4.5)
        self.assertTrue(row["met"])

    def test_slower_than_three_times_is_missed_even_if_faster_than_one_peer(self):
        [row] = self.rows(100.0, slow=1000.0, quick=299.0)
        self.assertAlmostEqual(row["ratio"], 2.99)
        self.assertFalse(row["met"])

    def test_exactly_three_times_is_met(self):
        [row] = self.rows(100.0, quick=300.0)
        self.assertTrue(row["met"])

    def test_row_without_ours_or_without_peer_is_refused(self):
        with self.assertRaises(codec_table.InputError):
            codec_table.judge({"row": {"c-ares": (1.0, None)}})
        with self.assertRaises(codec_table.InputError):
            codec_table.judge({"row": {"ours": (1.0, None)}})

    def test_noise_is_the_largest_cv_of_the_row(self):
        [row] = codec_table.judge({"r": {"ours": (1.0, 0.01), "a": (5.0, 0.07), "b": (6.0, None)}})
        self.assertAlmostEqual(row["noise"], 0.07)


class MainTest(unittest.TestCase):
    def run_main(self, doc, *args):
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as stream:
            json.dump(doc, stream)
        out, err = io.StringIO(), io.StringIO()
        try:
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                status = codec_table.main([stream.name, *args])
        finally:
            os.unlink(stream.name)
        return status, out.getvalue(), err.getvalue()

    def doc(self, ours):
        # Peers in the order an interleaved run may report them.
        return document(aggregate("lookup_ptr/ldns", "median", 800.0), aggregate("lookup_ptr/ours", "median", ours),
                        aggregate("lookup_ptr/c-ares", "median", 600.0))

    def test_table_lists_every_library_ratio_and_verdict(self):
        status, out, _ = self.run_main(self.doc(150.0))
        self.assertEqual(status, 0)
        header = next(l for l in out.splitlines() if l.startswith("row"))
        self.assertLess(header.index("c-ares ns"), header.index("ldns ns"))
        line = next(l for l in out.splitlines() if l.startswith("ReadMessage + lookup text: PTR"))
        for cell in ("150.0", "600.0", "800.0", "4.00x (c-ares)", "met"):
            self.assertIn(cell, line)
        self.assertIn("target met on all 1 rows", out)

    def test_strict_fails_only_when_a_row_misses(self):
        status, out, _ = self.run_main(self.doc(250.0), "--strict")
        self.assertEqual(status, 1)
        self.assertIn("MISSED", out)
        self.assertEqual(self.run_main(self.doc(150.0), "--strict")[0], 0)

    def test_markdown(self):
        _, out, _ = self.run_main(self.doc(150.0), "--markdown")
        self.assertIn("| ReadMessage + lookup text: PTR, compressed | 150.0 | 600.0 | 800.0 | 4.00x (c-ares) | met |", out)

    def test_unusable_input_exits_2(self):
        status, _, err = self.run_main(document(aggregate("lookup_ptr/ours", "median", 1.0)))
        self.assertEqual(status, 2)
        self.assertIn("no peer", err)


if __name__ == "__main__":
    unittest.main()
