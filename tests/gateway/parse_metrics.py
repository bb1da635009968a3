#!/usr/bin/env python3
"""Parses Prometheus text exposition from stdin with the reference parser
(prometheus_client's text_string_to_metric_families) and prints what it
read as JSON: {"families": {name: type}, "samples": [[name, labels, value]]}.
A text the parser rejects exits 1 with its message; 77 when the parser is
not installed."""
import json
import math
import sys

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("prometheus_client is not installed (Debian: python3-prometheus-client)", file=sys.stderr)
    sys.exit(77)

text = sys.stdin.buffer.read().decode("utf-8")
families = {}
samples = []
try:
    for family in text_string_to_metric_families(text):
        families[family.name] = family.type
        for sample in family.samples:
            value = None if math.isnan(sample.value) else sample.value
            samples.append([sample.name, sample.labels, value])
except Exception as error:  # the parser's own exceptions say what is wrong
    print(f"parse error: {error}", file=sys.stderr)
    sys.exit(1)
json.dump({"families": families, "samples": samples}, sys.stdout, ensure_ascii=False)
