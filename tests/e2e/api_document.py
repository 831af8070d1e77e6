#!/usr/bin/env python3
"""docs/openapi.yaml held to the program. The end-to-end suites hand every reply they receive to
check_reply: its status must be one the document lists for that request's operation, its
Content-Type the documented one, its JSON body valid against the documented schema, and its
documented headers present and valid. Run on its own, this module checks the document itself:
OpenAPI 3.1 structure, JSON Schema 2020-12 schemas, references, examples; and that check_reply
refuses replies that stray from it."""
import functools
import json
import os
import sys
import unittest
import urllib.parse

try:
    import jsonschema
    import yaml
except ImportError as missing:
    sys.exit("FAILED: the API document checks need python3-jsonschema and python3-yaml (%s); "
             "install them with scripts/install-deps.sh" % missing)

HERE = os.path.dirname(os.path.abspath(__file__))
DOCUMENT_PATH = os.path.normpath(os.path.join(HERE, "..", "..", "docs", "openapi.yaml"))
STRUCTURE_PATH = os.path.join(HERE, "openapi_31_structure.yaml")
# A reply the server sends without a Content-Type (it could not read the request): its exact body.
BARE_BODY = "x-body-without-content-type"
Validator = jsonschema.Draft202012Validator

# The keywords of JSON Schema 2020-12, vocabulary by vocabulary; anything else in a schema of the
# document is a slip of the pen that would quietly loosen the checks.
KEYWORDS = set("""$schema $id $ref $anchor $dynamicRef $dynamicAnchor $vocabulary $comment $defs
    prefixItems items contains additionalProperties properties patternProperties dependentSchemas
    propertyNames if then else allOf anyOf oneOf not unevaluatedItems unevaluatedProperties
    type const enum multipleOf maximum exclusiveMaximum minimum exclusiveMinimum maxLength minLength
    pattern maxItems minItems uniqueItems maxContains minContains maxProperties minProperties
    required dependentRequired title description default deprecated readOnly writeOnly examples
    format contentEncoding contentMediaType contentSchema""".split())
SUBSCHEMA = {"items", "contains", "additionalProperties", "propertyNames", "if", "then", "else",
             "not", "unevaluatedItems", "unevaluatedProperties", "contentSchema"}
SUBSCHEMA_LISTS = {"prefixItems", "allOf", "anyOf", "oneOf"}
SUBSCHEMA_MAPS = {"properties", "patternProperties", "dependentSchemas", "$defs"}
METHODS = ("get", "put", "post", "delete", "options", "head", "patch", "trace")


class ReplyMismatch(AssertionError):
    """A reply of the program that the document does not describe."""


def load_yaml(path):
    with open(path, encoding="utf-8") as source:
        return yaml.safe_load(source)


@functools.lru_cache(maxsize=None)
def document():
    return load_yaml(DOCUMENT_PATH)


def follow(reference):
    """The node a reference inside the document points at (JSON pointer after "#")."""
    if not reference.startswith("#/"):
        raise KeyError("only references inside the document are used: " + reference)
    node = document()
    for part in reference[2:].split("/"):
        node = node[part.replace("~1", "/").replace("~0", "~")]
    return node


def resolve(node):
    while isinstance(node, dict) and "$ref" in node:
        node = follow(node["$ref"])
    return node


def schema_errors(instance, schema):
    validator = Validator(schema, resolver=jsonschema.RefResolver("", document()))
    return ["%s: %s" % ("/".join(map(str, error.absolute_path)) or "(whole)", error.message)
            for error in validator.iter_errors(instance)]


# -- the replies --------------------------------------------------------------------------------

def operation(method, path):
    """The operation the document gives for a request. The server compares method and path
    exactly, so a lower-case method is no method of the document: it falls to the unlisted ones."""
    key = method.lower() if method.isupper() else None
    found = document()["paths"].get(path, {}).get(key)
    if found is None:
        found = document()["components"]["pathItems"]["other"].get(key)
    if found is None:
        raise ReplyMismatch("the document describes no reply to %s %s" % (method, path))
    return found


def header_value(headers, name):
    for key, value in headers.items():
        if key.lower() == name.lower():
            return value
    return None


def check_reply(method, target, status, headers, body):
    """Raises ReplyMismatch unless the reply to method and target (query allowed) is one the
    document describes. headers: name -> value, any letter case; body: bytes, or None where the
    caller could not see it (then only status, Content-Type and headers are held to the document)."""
    path = urllib.parse.urlsplit(target).path
    where = "%s %s answered %s" % (method, path, status)
    shown = (body or b"")[:300]
    responses = operation(method, path)["responses"]
    if str(status) not in responses:
        raise ReplyMismatch("%s, a status the document does not list (it lists %s); body: %r"
                            % (where, ", ".join(sorted(responses)), shown))
    response = resolve(responses[str(status)])
    documented = response.get("content", {})
    content_type = header_value(headers, "Content-Type")
    if content_type is None:
        expected = response.get(BARE_BODY)
        if body is not None and expected is not None and body != expected.encode("utf-8"):
            raise ReplyMismatch("%s without a Content-Type and the body %r; the document gives %r"
                                % (where, shown, expected))
        if expected is None and (documented or body):
            raise ReplyMismatch("%s without a Content-Type; the document gives %s"
                                % (where, ", ".join(documented) or "no body"))
    elif content_type not in documented:
        raise ReplyMismatch("%s with the Content-Type %r; the document gives %s"
                            % (where, content_type, ", ".join(documented) or "none"))
    elif content_type.split(";")[0] == "application/json" and body is not None:
        try:
            value = json.loads(body)
        except ValueError as error:
            raise ReplyMismatch("%s with a JSON body that is not JSON (%s): %r"
                                % (where, error, shown)) from None
        problems = schema_errors(value, documented[content_type]["schema"])
        if problems:
            raise ReplyMismatch("%s with a body the documented schema refuses: %s; body: %s"
                                % (where, "; ".join(problems), body.decode("utf-8", "replace")))
    for name, header in response.get("headers", {}).items():
        header = resolve(header)
        value = header_value(headers, name)
        if value is None:
            if header.get("required"):
                raise ReplyMismatch("%s without the documented header %s" % (where, name))
            continue
        problems = schema_errors(value, header["schema"])
        if problems:
            raise ReplyMismatch("%s with %s: %r, which the document does not allow (%s)"
                                % (where, name, value, "; ".join(problems)))


# -- the document ------------------------------------------------------------------------------

def walk(node, where=""):
    """(pointer, node) of every dict and list below node, node included."""
    yield where, node
    children = node.items() if isinstance(node, dict) else enumerate(node) if isinstance(node, list) else ()
    for key, child in children:
        yield from walk(child, "%s/%s" % (where, key))


def schema_objects(doc):
    """(pointer, schema) of the document's Schema Objects: the reusable ones and every "schema"
    of a parameter, header or media type."""
    found = [("/components/schemas/" + name, schema)
             for name, schema in doc.get("components", {}).get("schemas", {}).items()]
    for where, node in walk(doc):
        if isinstance(node, dict) and "schema" in node and not where.startswith("/components/schemas"):
            found.append((where + "/schema", node["schema"]))
    return found


def unknown_keywords(schema, where):
    """Keywords that are not JSON Schema 2020-12, in a schema and all its subschemas."""
    if not isinstance(schema, dict):
        return []
    found = ["%s/%s" % (where, key) for key in schema if key not in KEYWORDS and not key.startswith("x-")]
    for key, value in schema.items():
        if key in SUBSCHEMA:
            found += unknown_keywords(value, "%s/%s" % (where, key))
        elif key in SUBSCHEMA_LISTS:
            for index, item in enumerate(value):
                found += unknown_keywords(item, "%s/%s/%d" % (where, key, index))
        elif key in SUBSCHEMA_MAPS:
            for name, item in value.items():
                found += unknown_keywords(item, "%s/%s/%s" % (where, key, name))
    return found


def document_problems():
    doc = document()
    errors = [("/" + "/".join(map(str, error.absolute_path)), error.message)
              for error in Validator(load_yaml(STRUCTURE_PATH)).iter_errors(doc)]
    # A fault deep down also makes each object above it refuse the member holding it as
    # "unevaluated": the deeper places say what is wrong.
    problems = ["structure at %s: %s" % (where, message) for where, message in errors
                if not (message.startswith("Unevaluated properties") and
                        any(other.startswith(where.rstrip("/") + "/") for other, _ in errors))]
    for where, node in walk(doc):
        if isinstance(node, dict) and isinstance(node.get("$ref"), str):
            try:
                follow(node["$ref"])
            except (KeyError, IndexError, TypeError):
                problems.append("%s: the reference %s leads nowhere" % (where, node["$ref"]))
    checker = jsonschema.FormatChecker()
    for where, schema in schema_objects(doc):
        meta = Validator(Validator.META_SCHEMA, format_checker=checker)
        problems += ["%s: not JSON Schema 2020-12: %s" % (where, error.message)
                     for error in meta.iter_errors(schema)]
        problems += ["%s: unknown keyword" % place for place in unknown_keywords(schema, where)]
    if problems:
        return problems  # examples are checked with schemas known to be sound
    for where, node in walk(doc):
        if isinstance(node, dict) and "schema" in node and "examples" in node:
            for name, example in node["examples"].items():
                problems += ["%s/examples/%s: %s" % (where, name, problem)
                             for problem in schema_errors(resolve(example)["value"], node["schema"])]
    ids = [op["operationId"] for where, op in walk(doc)
           if where.rsplit("/", 1)[-1] in METHODS and isinstance(op, dict) and "operationId" in op]
    problems += ["operationId %s is used twice" % name for name in set(ids) if ids.count(name) > 1]
    return problems


# -- run on its own: the document's own test --------------------------------------------------

HEALTH = {"authorized": True, "connectorVersion": "2.0.0", "platform": "linux",
          "secureAvailable": False, "spineFound": True,
          "supportedVersions": ["3.8", "4.0", "4.1", "4.2", "4.3"]}
CORS = {"Access-Control-Allow-Headers": "Content-Type", "Vary": "Origin",
        "Access-Control-Allow-Methods": "GET, POST, OPTIONS",
        "Access-Control-Allow-Private-Network": "true"}
JSON = dict(CORS, **{"Content-Type": "application/json; charset=utf-8"})
BARE_JSON = {"Content-Type": "application/json; charset=utf-8"}
ARCHIVE = dict(CORS, **{
    "Content-Type": "application/zip", "X-Spine-File-Name": "%E7%89%B9.zip",
    "X-Spine-Editor-Version": "4.2.43",
    "Content-Disposition": "attachment; filename=\"Glimmer.zip\"; filename*=UTF-8''%E7%89%B9.zip",
    "Access-Control-Expose-Headers": "X-Spine-File-Name, X-Spine-Editor-Version"})
PAGE = {"Content-Type": "text/html; charset=utf-8", "Cache-Control": "no-store",
        "X-Frame-Options": "DENY", "Content-Security-Policy": "frame-ancestors 'none'"}
SPINE_MISSING = "没有找到 Spine，请在连接器应用中选择 Spine 路径"


def as_json(**members):
    return json.dumps(members, ensure_ascii=False).encode("utf-8")


def changed(mapping, **changes):
    """mapping with members replaced, or removed where the change is None."""
    result = dict(mapping, **changes)
    return {name: value for name, value in result.items() if value is not None}


class ApiDocument(unittest.TestCase):
    def test_document_is_openapi_3_1(self):
        self.assertEqual(document_problems(), [])

    def test_reply_check_takes_what_the_program_sends_and_refuses_what_it_does_not(self):
        # (request, status, headers, body, whether the document describes it)
        cases = [
            ("GET /v1/health?x=1", 200, JSON, as_json(**HEALTH), True),
            ("GET /v1/health", 201, JSON, as_json(**HEALTH), False),
            ("GET /v1/health", 200, changed(JSON, **{"Content-Type": "application/json"}),
             as_json(**HEALTH), False),
            ("GET /v1/health", 200, JSON, as_json(**changed(HEALTH, spineFound=None)), False),
            ("GET /v1/health", 200, JSON, as_json(**changed(HEALTH, authorized=False)), False),
            ("GET /v1/health", 200, JSON, as_json(**changed(HEALTH, extra=1)), False),
            ("GET /v1/health", 200, changed(JSON, Vary=None), as_json(**HEALTH), False),
            ("GET /v1/health", 400, {}, b"Bad request", True),
            ("GET /v1/health", 400, {}, b"Bad Request", False),
            ("POST /v1/convert", 413, {}, b"Bad request", True),
            ("POST /v1/convert", 200, ARCHIVE, b"PK\5\6" + bytes(18), True),
            ("POST /v1/convert", 200, changed(ARCHIVE, **{"Access-Control-Expose-Headers": None}),
             b"PK", False),
            ("POST /v1/convert", 200, changed(ARCHIVE, **{"Content-Disposition": "attachment"}),
             b"PK", False),
            ("POST /v1/convert", 500, BARE_JSON, as_json(code="CONVERSION_FAILED", message="x"), True),
            ("POST /v1/convert", 500, BARE_JSON, as_json(code="NOT_FOUND", message="x"), False),
            ("POST /v1/convert", 503, JSON, as_json(code="SPINE_NOT_FOUND", message=SPINE_MISSING), True),
            ("POST /v1/convert", 503, JSON, as_json(code="SPINE_NOT_FOUND", message="没有找到 Spine"), False),
            ("GET /pair?origin=x", 400, PAGE, b"<h2>", True),
            ("GET /pair?origin=x", 400, changed(PAGE, **{"X-Frame-Options": None}), b"<h2>", False),
            ("OPTIONS /anything", 204, CORS, b"", True),
            ("OPTIONS /anything", 200, CORS, b"", False),
            ("DELETE /pair", 404, JSON, as_json(code="NOT_FOUND", message="接口不存在"), True),
            ("get /v1/health", 200, JSON, as_json(**HEALTH), False),
        ]
        for request, status, headers, body, described in cases:
            method, target = request.split(" ")
            with self.subTest(request=request, status=status, headers=headers, body=body[:60]):
                if described:
                    check_reply(method, target, status, headers, body)
                else:
                    with self.assertRaises(ReplyMismatch):
                        check_reply(method, target, status, headers, body)

if __name__ == "__main__":
    unittest.main(verbosity=2)
