"""Imports the installed zel_profile module, checks it came from PREFIX and queries a profile.

usage: python_consumer.py PREFIX PROFILE"""

import sys

import zel_profile

prefix, profile = sys.argv[1:]
assert zel_profile.__file__.startswith(prefix), f"imported {zel_profile.__file__}"
report = zel_profile.query(zel_profile.read(profile), samples=1)
assert report.matched_sample_count == report.sample_count > 0
print(f"zel_profile from {prefix}: {len(report.groups)} groups, first {report.groups[0].name}")
