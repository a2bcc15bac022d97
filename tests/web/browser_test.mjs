// The pages plugin-host serves, in a real browser: Debian's Chromium,
// headless, driven through the DevTools protocol by puppeteer-core.
//
//   node tests/web/browser_test.mjs PLUGIN_HOST LIBRARY OUT_DIR
//
// - the live page: a state written through its form appears as a row from
//   the event stream; one written by another client changes the row; when
//   the host stops, the page says it is disconnected;
// - the API reference: the list operation run through "Try it out" answers
//   200 on the page;
// - a page of another origin can neither read the state nor change it.
// Every answer the pages got from the API is checked against the OpenAPI
// document's schemas; each test leaves a screenshot in OUT_DIR.
import {createServer} from "node:http";
import {mkdirSync, mkdtempSync, rmSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";
import puppeteer from "puppeteer-core";
import {AnswerValidator} from "./openapi_schemas.mjs";
import {startHost} from "./plugin_host.mjs";

// answers: the plug-in's host answers file, when it has one.
const [pluginHost, library, out, answers] = process.argv.slice(2);
const hostAnswers = answers ? ["--host-answers", answers] : [];
mkdirSync(out, {recursive: true});
const kWait = {timeout: 30000};
let failures = 0;
const fail = message => { failures++; console.error("browser_test: FAILED: " + message); };
const passed = message => console.log("browser_test: " + message);

const profile = mkdtempSync(join(tmpdir(), "chromium-profile-"));
const browser = await puppeteer.launch({
  executablePath: process.env.KORVO_CHROMIUM ?? "/usr/bin/chromium",
  headless: true,
  userDataDir: profile,
  // Nothing beyond loopback: this machine's network is closed, and the test
  // must not depend on any other.
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage"],
});

// Records every answer of the API a page receives, for the schema check.
function recordAnswers(page, host, into) {
  page.on("response", async response => {
    const url = new URL(response.url());
    if (url.origin !== new URL(host.url).origin) return;
    const path = url.pathname + url.search;
    if (path === "/" || path.startsWith("/docs") || path === "/openapi.json" || path.startsWith("/events")) return;
    let body = "";
    try { body = await response.text(); } catch { return; }
    into.push({method: response.request().method(), path, status: response.status(),
               contentType: response.headers()["content-type"], body});
  });
}

async function checkAnswers(host, answers, what) {
  const validator = new AnswerValidator(await (await fetch(host.url + "/openapi.json")).json());
  let checked = 0;
  for (const answer of answers) {
    if (answer.status === 204 && !answer.body) { checked++; continue; }
    for (const problem of validator.check(answer)) fail(`${what}: ${problem}`);
    checked++;
  }
  if (checked === 0) fail(`${what}: the page got no answer of the API`);
  else passed(`${what}: ${checked} answers the page got fit the document's schemas`);
}

async function livePage() {
  const host = await startHost(pluginHost, library, hostAnswers);
  const page = await browser.newPage();
  await page.setViewport({width: 1200, height: 640});
  const answers = [];
  recordAnswers(page, host, answers);
  try {
    await page.goto(host.url + "/", {waitUntil: "load"});
    await page.waitForFunction(() => document.getElementById("status").textContent === "live", kWait);

    // Written through the form: the row comes from the event stream.
    await page.type("input[name=key]", "voice");
    await page.type("input[name=state]", "muted");
    await page.type("input[name=updatedBy]", "browser");
    await page.type("input[name=timestamp]", "1765400000000");
    await page.click("button[type=submit]");
    await page.waitForFunction(() => {
      const row = document.querySelector('tr[data-key="voice"]');
      return row && row.cells[1].textContent === "muted" && row.cells[2].textContent === "browser";
    }, kWait);
    passed("live page: a state written through the form appeared as a row");

    // Written by another client: the row changes.
    for (const [feature, state] of [["voice", "unmuted"], ["overlay", "shown"], ["chat", "typing"]]) {
      const answer = await fetch(`${host.url}/qem-quorvex-zv/v1/ui-states/${feature}`, {
        method: "POST", headers: {"Content-Type": "application/json"},
        body: JSON.stringify({state, updatedBy: "curl", data: {since: 3}})});
      if (answer.status !== 204) fail(`a write from outside answered ${answer.status}`);
    }
    await page.waitForFunction(() => {
      const cell = key => document.querySelector(`tr[data-key="${key}"]`)?.cells[1].textContent;
      return cell("voice") === "unmuted" && cell("overlay") === "shown" && cell("chat") === "typing";
    }, kWait);
    passed("live page: writes from another client changed the rows");
    await page.screenshot({path: join(out, "live-page.png")});

    // Thousands of features, written as fast as the host takes them: every
    // one arrives, and the page draws them in frames, not per event.
    const kFeatures = 2000;
    const began = Date.now();
    for (let start = 0; start < kFeatures; start += 16) {
      await Promise.all(Array.from({length: Math.min(16, kFeatures - start)}, (_, i) =>
        fetch(`${host.url}/qem-quorvex-zv/v1/ui-states/load-${start + i}`, {method: "POST",
          headers: {"Content-Type": "application/json"},
          body: JSON.stringify({state: "s" + (start + i), updatedBy: "load"})})));
    }
    await page.waitForFunction(count => document.querySelectorAll("#rows tr").length === count &&
                                        document.querySelector('tr[data-key="load-1999"]')?.cells[1].textContent === "s1999",
                               {...kWait, polling: 250}, kFeatures + 3);
    console.log(`browser_test: (the writes and their drawing took ${Date.now() - began} ms)`);
    passed(`live page: ${kFeatures} more features written at once all arrived`);

    // The host goes away: the page says so.
    await host.stop();
    await page.waitForFunction(() => document.getElementById("status").textContent.startsWith("disconnected"), kWait);
    passed("live page: a stopped host shows as disconnected");
    await page.screenshot({path: join(out, "live-page-disconnected.png")});
  } catch (error) {
    fail("live page: " + error.message);
    await page.screenshot({path: join(out, "live-page-failure.png")}).catch(() => {});
  } finally {
    await page.close();
    const again = await startHost(pluginHost, library, hostAnswers);
    await checkAnswers(again, answers, "live page");
    await again.stop();
    await host.stop();
  }
}

async function reference() {
  const host = await startHost(pluginHost, library, hostAnswers);
  const page = await browser.newPage();
  await page.setViewport({width: 1200, height: 900});
  const answers = [];
  recordAnswers(page, host, answers);
  try {
    await fetch(`${host.url}/qem-quorvex-zv/v1/ui-states/voice`, {method: "POST",
      headers: {"Content-Type": "application/json"}, body: JSON.stringify({state: "muted", updatedBy: "reference"})});
    await page.goto(host.url + "/docs", {waitUntil: "load"});
    const operation = "[id$='-GetQemQuorvexZvV1UiStates']";
    await page.waitForSelector(operation, kWait);
    await page.click(`${operation} .opblock-summary-control`);
    await page.waitForSelector(`${operation} .try-out__btn`, kWait);
    await page.click(`${operation} .try-out__btn`);
    await page.waitForSelector(`${operation} .execute`, kWait);
    await page.click(`${operation} .execute`);
    await page.waitForFunction(selector => {
      const status = document.querySelector(`${selector} .live-responses-table .response .response-col_status`);
      const body = document.querySelector(`${selector} .live-responses-table .response-col_description pre`);
      return status && status.textContent.trim() === "200" && body && body.textContent.includes("reference");
    }, kWait, operation);
    passed("reference: the list operation ran through Try it out and answered 200");
    await page.screenshot({path: join(out, "api-reference.png")});
  } catch (error) {
    fail("reference: " + error.message);
    await page.screenshot({path: join(out, "api-reference-failure.png"), fullPage: true}).catch(() => {});
  } finally {
    await checkAnswers(host, answers, "reference");
    await page.close();
    await host.stop();
  }
}

async function foreignOrigin() {
  const host = await startHost(pluginHost, library, hostAnswers);
  // A page of another origin (another port on loopback) that tries to read
  // and to write the state.
  const foreign = createServer((request, response) => {
    response.writeHead(200, {"Content-Type": "text/html"});
    response.end("<!doctype html><title>elsewhere</title><p>elsewhere</p>");
  });
  await new Promise(resolve => foreign.listen(0, "127.0.0.1", resolve));
  const page = await browser.newPage();
  try {
    await fetch(`${host.url}/qem-quorvex-zv/v1/ui-states/voice`, {method: "POST",
      headers: {"Content-Type": "application/json"}, body: JSON.stringify({state: "secret", updatedBy: "owner"})});
    await page.goto(`http://127.0.0.1:${foreign.address().port}/`, {waitUntil: "load"});
    const outcome = await page.evaluate(async api => {
      const tries = {};
      try {
        const answer = await fetch(api + "/qem-quorvex-zv/v1/ui-states");
        tries.read = "read " + answer.status + " " + (await answer.text());
      } catch (error) {
        tries.read = "blocked";
      }
      try {
        // A form-like write needs no preflight: only the host can refuse it.
        await fetch(api + "/qem-quorvex-zv/v1/ui-states/voice", {method: "POST", mode: "no-cors",
          headers: {"Content-Type": "text/plain"}, body: '{"state":"stolen","updatedBy":"page"}'});
        tries.write = "sent";
      } catch (error) {
        tries.write = "blocked";
      }
      return tries;
    }, host.url);
    if (outcome.read !== "blocked") fail("a page of another origin read the state: " + outcome.read);
    const stored = await (await fetch(`${host.url}/qem-quorvex-zv/v1/ui-states/voice`)).json();
    if (stored.state !== "secret") fail("a page of another origin changed the state to " + stored.state);
    if (outcome.read === "blocked" && stored.state === "secret") {
      passed("a page of another origin could neither read nor change the state");
    }
  } catch (error) {
    fail("foreign origin: " + error.message);
  } finally {
    await page.close();
    foreign.close();
    await host.stop();
  }
}

try {
  await reference();
  await livePage();
  await foreignOrigin();
} finally {
  await browser.close();
  rmSync(profile, {recursive: true, force: true});
}
console.log(failures === 0 ? "browser_test: all passed" : `browser_test: ${failures} failure(s)`);
process.exit(failures === 0 ? 0 : 1);
