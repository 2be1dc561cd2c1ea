"""Checks every line of a zarn-update --json output against the events' schema."""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as schema_file:
    schema = json.load(schema_file)
with open(sys.argv[2], encoding="utf-8") as events:
    lines = [line for line in events if line.strip()]
if not lines:
    sys.exit("no events")
for number, line in enumerate(lines, 1):
    try:
        jsonschema.validate(json.loads(line), schema)
    except (ValueError, jsonschema.ValidationError) as error:
        sys.exit(f"line {number}: {line.strip()}\n{error}")
if json.loads(lines[-1])["event"] != "result":
    sys.exit("the last event is not the result")
