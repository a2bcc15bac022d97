// The generated OpenAPI document as a validator of answers: the schema of
// the operation and status an answer belongs to, compiled with Ajv (JSON
// Schema 2020-12, the dialect of OpenAPI 3.1).
import Ajv2020 from "ajv/dist/2020.js";

// "/a/{b}/c" as a pattern over concrete paths.
function pathPattern(template) {
  const escaped = template.replace(/[.*+?^$()|[\]\\]/g, "\\$&").replace(/\\?\{[^}]*\\?\}/g, "[^/]+");
  return new RegExp("^" + escaped.replace(/\{[^}]*\}/g, "[^/]+") + "$");
}

export class AnswerValidator {
  constructor(document) {
    this.document = document;
    // OpenAPI's own keywords beside the schema ones (format names such as
    // int64, x- extensions) are not JSON Schema's: not strict about them.
    this.ajv = new Ajv2020({strict: false, validateFormats: false, allErrors: true});
    this.ajv.addSchema({$id: "https://korvo.invalid/openapi.json", components: document.components});
    this.compiled = new Map();
    this.routes = Object.keys(document.paths).map(template => ({template, pattern: pathPattern(template)}));
  }

  // The operation serving method and path (the query ignored), or null.
  operation(method, path) {
    const bare = path.split("?")[0];
    // The most literal template wins, as the host routes.
    const matches = this.routes.filter(route => route.pattern.test(bare))
                               .sort((a, b) => b.template.replace(/\{[^}]*\}/g, "").length -
                                               a.template.replace(/\{[^}]*\}/g, "").length);
    for (const {template} of matches) {
      const operation = this.document.paths[template][method.toLowerCase()];
      if (operation) return {template, operation};
    }
    return null;
  }

  // Checks one JSON answer; returns the problems (none: []).
  check({method, path, status, contentType, body}) {
    const found = this.operation(method === "HEAD" ? "GET" : method, path);
    let schema;
    let where;
    if (found) {
      const responses = found.operation.responses;
      const response = responses[String(status)] || responses.default;
      if (!response) return [`${method} ${path}: status ${status} is not among the documented responses`];
      where = `${method} ${found.template} ${status}`;
      const media = response.content && response.content["application/json"];
      // A HEAD answer is a GET answer without its body.
      if (method === "HEAD") return [];
      if (!media) {
        return body ? [`${where}: a body where the document says there is none`] : [];
      }
      schema = media.schema;
    } else {
      // No operation (another method on a known path, an unknown path):
      // every such answer is the host's failure message.
      if (status < 400) return [`${method} ${path}: answered ${status} without a documented operation`];
      where = `${method} ${path} ${status} (no operation)`;
      schema = {$ref: "#/components/schemas/Message"};
    }
    if (!body) return [`${where}: no body`];
    if (!/^application\/json/.test(contentType || "")) return [`${where}: content type ${contentType}`];
    let value;
    try { value = JSON.parse(body); } catch (error) { return [`${where}: not JSON: ${error.message}`]; }
    const key = JSON.stringify(schema);
    let validate = this.compiled.get(key);
    if (!validate) {
      validate = this.ajv.compile({$id: "https://korvo.invalid/answer/" + this.compiled.size, allOf: [rebase(schema)]});
      this.compiled.set(key, validate);
    }
    if (validate(value)) return [];
    return [`${where}: ${this.ajv.errorsText(validate.errors)} in ${body.slice(0, 200)}`];
  }
}

// Local references of an inline schema point into the document's schema.
function rebase(schema) {
  return JSON.parse(JSON.stringify(schema), (key, value) =>
    key === "$ref" && typeof value === "string" && value.startsWith("#") ? "https://korvo.invalid/openapi.json" + value : value);
}
