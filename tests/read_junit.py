#!/usr/bin/python3
"""Reads a JUnit XML report with junitparser, as a CI server's plug-in would, and prints what it
found as one JSON object: each suite with its counts and properties, each case with its result,
its failure message and its properties. Exits 77 when junitparser is not installed."""
import json
import sys

try:
    from junitparser import Error, Failure, JUnitXml, Properties, Skipped
except ImportError:
    print("python3-junitparser not installed", file=sys.stderr)
    sys.exit(77)


def case_record(case):
    results = list(case.result)
    record = {"name": case.name, "classname": case.classname, "time": case.time,
              "result": "PASS", "message": None, "properties": {},
              "system_out": case.system_out}
    for result in results:
        if isinstance(result, Failure):
            record["result"], record["message"] = "FAIL", result.message
        elif isinstance(result, Error):
            record["result"], record["message"] = "ERROR", result.message
        elif isinstance(result, Skipped):
            record["result"], record["message"] = "SKIP", result.message
    for properties in case.iterchildren(Properties):
        for prop in properties:
            record["properties"][prop.name] = prop.value
    return record


def main(path):
    xml = JUnitXml.fromfile(path)
    suites = []
    for suite in xml:
        suites.append({
            "name": suite.name, "hostname": suite.hostname, "timestamp": suite.timestamp,
            "time": suite.time, "tests": suite.tests, "failures": suite.failures,
            "skipped": suite.skipped,
            "properties": {prop.name: prop.value for prop in suite.properties()},
            "cases": [case_record(case) for case in suite]})
    print(json.dumps({"tests": xml.tests, "failures": xml.failures, "suites": suites}))


main(sys.argv[1])
