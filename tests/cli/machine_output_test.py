"""--log-format=json and --sarif from the real program, checked against their schemas: the
JSON lines against the schema in the README, the SARIF log against the required shape of the
published SARIF 2.1.0 schema (the parts a log of diagnostics uses)."""
import json
import os
import re
import subprocess
import sys
import tempfile

program, readme = os.path.abspath(sys.argv[1]), sys.argv[2]
failures = []


def validate(value, schema, where="$"):
    """The subset of JSON Schema these schemas use; returns the first mismatch or None."""
    if "oneOf" in schema:
        matches = [s for s in schema["oneOf"] if validate(value, s, where) is None]
        return None if len(matches) == 1 else f"{where}: matches {len(matches)} of oneOf"
    kinds = {"object": dict, "array": list, "string": str, "boolean": bool}
    kind = schema.get("type")
    if kind == "integer" and (not isinstance(value, int) or isinstance(value, bool)):
        return f"{where}: not an integer"
    if kind in kinds and not isinstance(value, kinds[kind]):
        return f"{where}: not {kind}"
    if "const" in schema and value != schema["const"]:
        return f"{where}: not {schema['const']!r}"
    if "enum" in schema and value not in schema["enum"]:
        return f"{where}: {value!r} not in {schema['enum']}"
    if "minimum" in schema and value < schema["minimum"]:
        return f"{where}: below {schema['minimum']}"
    if "pattern" in schema and not re.search(schema["pattern"], value):
        return f"{where}: does not match {schema['pattern']}"
    if isinstance(value, dict):
        for key in schema.get("required", []):
            if key not in value:
                return f"{where}: lacks {key}"
        for key, sub in schema.get("properties", {}).items():
            if key in value and (problem := validate(value[key], sub, f"{where}.{key}")):
                return problem
        if schema.get("additionalProperties") is False:
            extra = set(value) - set(schema.get("properties", {}))
            if extra:
                return f"{where}: unexpected {sorted(extra)}"
    if isinstance(value, list):
        if len(value) < schema.get("minItems", 0):
            return f"{where}: fewer than {schema['minItems']} items"
        for i, item in enumerate(value):
            if problem := validate(item, schema.get("items", {}), f"{where}[{i}]"):
                return problem
    return None


# The required shape of SARIF 2.1.0 (sarifLog, run, tool, toolComponent, invocation, result,
# message, location, physicalLocation, artifactLocation, region) as the published schema has it.
message = {"type": "object", "required": ["text"], "properties": {"text": {"type": "string"}}}
region = {"type": "object", "properties": {"startLine": {"type": "integer", "minimum": 1},
                                           "startColumn": {"type": "integer", "minimum": 1}}}
physical = {"type": "object", "required": ["artifactLocation"],
            "properties": {"artifactLocation": {"type": "object", "required": ["uri"],
                                                "properties": {"uri": {"type": "string",
                                                                       "pattern": r"^[A-Za-z0-9\-._~/%:]+$"}}},
                           "region": region}}
location = {"type": "object", "properties": {"id": {"type": "integer", "minimum": -1},
                                             "physicalLocation": physical, "message": message}}
result = {"type": "object", "required": ["message"],
          "properties": {"level": {"enum": ["none", "note", "warning", "error"]}, "message": message,
                         "locations": {"type": "array", "items": location},
                         "relatedLocations": {"type": "array", "items": location}}}
sarif_schema = {
    "type": "object", "required": ["version", "runs"],
    "properties": {
        "$schema": {"type": "string"}, "version": {"enum": ["2.1.0"]},
        "runs": {"type": "array", "minItems": 1, "items": {
            "type": "object", "required": ["tool"],
            "properties": {
                "tool": {"type": "object", "required": ["driver"],
                         "properties": {"driver": {"type": "object", "required": ["name"],
                                                   "properties": {"name": {"type": "string"},
                                                                  "version": {"type": "string"}}}}},
                "invocations": {"type": "array", "items": {"type": "object", "required": ["executionSuccessful"],
                                                           "properties": {"executionSuccessful": {"type": "boolean"}}}},
                "results": {"type": "array", "items": result}}}}}}

with open(readme) as f:
    lines_schema = json.loads(re.search(r"The schema \(JSON Schema.*?```json\n(.*?)```", f.read(), re.S).group(1))


def check(what, condition, shown=""):
    if not condition:
        failures.append(f"{what}: {shown}")


with tempfile.TemporaryDirectory() as work:
    os.makedirs(f"{work}/my site/inc")
    with open(f"{work}/my site/inc/menu.inc", "w") as f:
        f.write("x\n<!--#bogus -->")
    for page in ("a", "b"):
        with open(f"{work}/my site/{page}.shtml", "w") as f:
            f.write('<!--#include virtual="/inc/menu.inc" --><!--#echo -->')
    with open(f"{work}/my site/c.txt", "w") as f:
        f.write("c")
    with open(f"{work}/my site/d.shtml", "w") as f:
        f.write('<!--#include virtual="gone.inc" -->')

    for args, status in ((["-k"], 1), ([], 1)):
        run = subprocess.run([program, "--log-format=json", "--sarif", "out.sarif", *args, "my site", "dst"],
                             cwd=work, capture_output=True, text=True)
        check(f"status {args}", run.returncode == status, run.returncode)
        check(f"stderr empty {args}", run.stderr == "", run.stderr)
        events = [json.loads(line) for line in run.stdout.splitlines()]
        for event in events:
            problem = validate(event, lines_schema)
            check("line matches the README's schema", problem is None, f"{problem}: {event}")
        kinds = [e["event"] for e in events]
        check("summary last", kinds[-1] == "summary", kinds)
        diagnostics = [e for e in events if e["event"] == "diagnostic"]
        # Every occurrence: the include's warning for each page, not collapsed.
        warnings = [d for d in diagnostics if d["message"] == "Unknown SSI command: bogus"]
        check("each occurrence", len(warnings) == 2, diagnostics)
        check("path from here, include chain",
              warnings and warnings[0]["path"] == "my site/inc/menu.inc" and warnings[0]["line"] == 2
              and warnings[0]["included_from"][0]["path"] == "my site/a.shtml", warnings)
        fatal = [d for d in diagnostics if d["fatal"]]
        check("a fatal error only without -k", len(fatal) == (0 if args else 1), fatal)
        check("summary counts", events[-1]["errors"] == sum(d["severity"] == "error" for d in diagnostics),
              events[-1])

        with open(f"{work}/out.sarif") as f:
            sarif = json.load(f)
        problem = validate(sarif, sarif_schema)
        check("SARIF shape", problem is None, problem)
        results = sarif["runs"][0]["results"]
        check("one result per diagnostic", len(results) == len(diagnostics), len(results))
        uris = [r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"] for r in results if "locations" in r]
        check("escaped relative URIs", "my%20site/inc/menu.inc" in uris, uris)
        check("completion", sarif["runs"][0]["invocations"][0]["executionSuccessful"] == bool(args), sarif["runs"])

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
