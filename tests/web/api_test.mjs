// The OpenAPI document plugin-host generates for a plug-in, checked with
// real tools: Redocly's linter finds no error in it, a table pins what it
// says of the plug-ins we know, and every answer the host gives - a table of
// requests made here and, when given, the answers the development host's own
// test recorded - fits the schema the document gives for it.
//
//   node tests/web/api_test.mjs PLUGIN_HOST LIBRARY [--answers DIR] [--out DIR]
import {spawn, spawnSync} from "node:child_process";
import {mkdtempSync, readFileSync, writeFileSync, existsSync} from "node:fs";
import {tmpdir} from "node:os";
import {join, dirname} from "node:path";
import {fileURLToPath} from "node:url";
import assert from "node:assert/strict";
import {AnswerValidator} from "./openapi_schemas.mjs";
import {startHost} from "./plugin_host.mjs";

const root = join(dirname(fileURLToPath(import.meta.url)), "..", "..");
const [pluginHost, library, ...rest] = process.argv.slice(2);
const option = name => { const i = rest.indexOf(name); return i >= 0 ? rest[i + 1] : null; };
const out = option("--out") ?? mkdtempSync(join(tmpdir(), "api-test-"));
// The plug-in's host answers file, when it has one.
const answers = option("--host-answers");
let failures = 0;
const fail = message => { failures++; console.error("api_test: FAILED: " + message); };

const host = await startHost(pluginHost, library, answers ? ["--host-answers", answers] : []);
try {
  const document = await (await fetch(host.url + "/openapi.json")).json();
  const documentPath = join(out, "openapi." + document.info.title + ".json");
  writeFileSync(documentPath, JSON.stringify(document, null, 1));

  // 1. The linter, with the repository's rules (redocly.yaml).
  const lint = spawnSync(join(root, "node_modules", ".bin", "redocly"),
                         ["lint", "--config", join(root, "redocly.yaml"), "--format", "summary", documentPath],
                         {encoding: "utf8"});
  if (lint.status !== 0) fail("redocly lint:\n" + lint.stdout + lint.stderr);
  else console.log(`api_test: ${document.info.title}: redocly lint found no error`);

  // 2. What the document says, pinned for the plug-ins we know.
  const schemas = document.components.schemas;
  const op = (path, method) => document.paths[path]?.[method];
  const pins = {
    "vbp-be-qem-quorvex-zv": () => {
      assert.deepEqual(schemas.QuorvexZVNotification, {
        type: "object",
        properties: {state: {type: "string"}, updatedBy: {type: "string"},
                     timestamp: {type: "integer", format: "int64"}, data: {}},
        required: ["state", "updatedBy", "timestamp", "data"]});
      const list = op("/qem-quorvex-zv/v1/ui-states", "get");
      assert.equal(list.operationId, "GetQemQuorvexZvV1UiStates");
      assert.deepEqual(list.responses["200"].content["application/json"].schema,
                       {type: "object", additionalProperties: {$ref: "#/components/schemas/QuorvexZVNotification"}});
      const read = op("/qem-quorvex-zv/v1/ui-states/{feature}", "get");
      assert.deepEqual(read.parameters, [{name: "feature", in: "path", required: true, schema: {type: "string"}}]);
      assert.deepEqual(read.responses["200"].content["application/json"].schema,
                       {$ref: "#/components/schemas/QuorvexZVNotification"});
      const write = op("/qem-quorvex-zv/v1/ui-states/{feature}", "post");
      assert.deepEqual(Object.keys(write.requestBody.content),
                       ["application/json", "application/x-yaml", "application/x-msgpack"]);
      assert.equal(write.requestBody.required, true);
      assert.deepEqual(Object.keys(write.responses), ["204", "400", "403", "404", "413", "414", "500", "default"]);
      assert.equal(Object.keys(document.paths).filter(p => p.startsWith("/qem-quorvex-zv")).length, 2);
    },
    "vbp-be-quick-replies": () => {
      assert.deepEqual(schemas.QuickReplyTone.enum, ["Formal", "Friendly", "Neutral"]);
      assert.deepEqual(schemas.QuickReply.properties.tags, {type: "array", items: {type: "string"}});
      assert.deepEqual(schemas.QuickReply.properties.tone, {$ref: "#/components/schemas/QuickReplyTone"});
      const list = op("/quick-replies/v1/replies", "get");
      assert.deepEqual(list.parameters.map(p => [p.name, p.in, p.required]), [["tone", "query", false], ["tag", "query", false]]);
      assert.match(list.description, /tone=Friendly/);
      const add = op("/quick-replies/v1/replies", "post");
      assert.deepEqual(add.parameters.map(p => [p.name, p.in, p.required]), [["X-Korvo-User", "header", true]]);
      assert.deepEqual(add.responses["200"].content["application/json"].schema, {$ref: "#/components/schemas/QuickReply"});
      assert.ok(op("/quick-replies/v1/replies/{id}", "delete").responses["204"]);
    },
  };
  // Whatever the plug-in, every function of its description is an operation.
  const help = await (await fetch(host.url + "/help")).json();
  const operationIds = new Set(Object.values(document.paths).flatMap(item => Object.values(item).map(o => o.operationId)));
  for (const f of help.functions) if (!operationIds.has(f.name)) fail(`function ${f.name} is no operation`);
  try {
    pins[document.info.title]?.();
    if (pins[document.info.title]) console.log(`api_test: ${document.info.title}: the pinned schemas hold`);
  } catch (error) {
    fail(`${document.info.title}: ${error.message}`);
  }

  // 3. Answers fit their schemas.
  const validator = new AnswerValidator(document);
  const answers = [];
  const call = async (method, path, body, headers = {}) => {
    const init = {method, headers: {...headers}};
    if (body !== undefined) { init.body = body; init.headers["Content-Type"] ??= "application/json"; }
    const answer = await fetch(host.url + path, init);
    answers.push({method, path, status: answer.status, contentType: answer.headers.get("content-type"),
                  body: await answer.text()});
  };
  // Every GET operation of the plug-in, its path parameters filled in, and
  // each once more with a value of the wrong kind for every query parameter.
  for (const [template, item] of Object.entries(document.paths)) {
    if (template === "/events" || !item.get) continue;
    const path = template.replace(/\{[^}]*\}/g, "x");
    await call("GET", path);
    for (const p of item.get.parameters ?? []) if (p.in === "query") await call("GET", `${path}?${p.name}=%7B%7D`);
    if (item.post) await call("POST", path, "{\"unfinished\":");
  }
  await call("DELETE", "/nothing/here");
  if (document.info.title === "vbp-be-qem-quorvex-zv") {
    const voice = "/qem-quorvex-zv/v1/ui-states/voice";
    await call("POST", voice, JSON.stringify({state: "muted", updatedBy: "api_test", timestamp: 5}));
    await call("GET", voice);
    await call("GET", "/qem-quorvex-zv/v1/ui-states");
    await call("POST", voice, JSON.stringify({state: "", updatedBy: "x"}));
  }
  if (document.info.title === "vbp-be-quick-replies") {
    await call("POST", "/quick-replies/v1/replies", JSON.stringify({text: "hi", tone: "Formal", tags: ["a"]}),
               {"X-Korvo-User": "ada"});
    await call("GET", "/quick-replies/v1/replies?tone=Formal&tag=a");
    await call("GET", "/quick-replies/v1/replies/r1");
    await call("DELETE", "/quick-replies/v1/replies/r1", undefined, {"X-Korvo-User": "bob"});
    await call("DELETE", "/quick-replies/v1/replies/r1", undefined, {"X-Korvo-User": "ada"});
  }
  const recorded = option("--answers");
  if (recorded && existsSync(join(recorded, "answers.json"))) {
    answers.push(...JSON.parse(readFileSync(join(recorded, "answers.json"), "utf8")));
  } else if (recorded) {
    fail(`no answers recorded in ${recorded} (run plugin_host_test first)`);
  }
  let checked = 0;
  for (const answer of answers) {
    if (!answer.body && answer.status === 204) { checked++; continue; }
    for (const problem of validator.check(answer)) fail(problem);
    checked++;
  }
  console.log(`api_test: ${document.info.title}: ${checked} answers checked against the document's schemas`);
} finally {
  await host.stop();
}
process.exit(failures === 0 ? 0 : 1);
