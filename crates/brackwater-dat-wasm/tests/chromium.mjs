// A headless Chromium driven over its DevTools protocol on a pipe (fds 3
// and 4, NUL-delimited JSON), so a test waits for what the page shows rather
// than for a virtual-time budget that a slow wasm compile can outrun.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";

// Every wait is bounded: a browser that stops answering fails the test with
// the command it did not answer, rather than hanging the run. The bounds
// only catch a hung or dead browser; nothing here measures speed.
const ANSWER_LIMIT_MS = 90000;

// `promise`, or a rejection naming `what` once `ms` have passed.
function bounded(promise, ms, what) {
  let timer;
  const expired = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`no answer to ${what} within ${ms / 1000} s`)), ms);
  });
  return Promise.race([promise, expired]).finally(() => clearTimeout(timer));
}

export class Chromium {
  #child;
  #profile;
  #next = 1;
  #waiters = new Set();  // commands and events not yet answered
  #buffered = "";
  #gone = null;  // why the browser can no longer answer
  #exited;

  static async launch(executable) {
    const browser = new Chromium();
    browser.#profile = mkdtempSync(join(tmpdir(), "explorer-chromium-"));
    browser.#child = spawn(executable, [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--remote-debugging-pipe", `--user-data-dir=${browser.#profile}`, "about:blank",
    ], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
    let stderr = "";
    browser.#exited = new Promise((resolve) => {
      browser.#child.on("close", (code, signal) => {
        browser.#fail(new Error(`chromium exited (${code ?? signal}): ${stderr}`));
        resolve();
      });
      browser.#child.on("error", (error) => {
        browser.#fail(new Error(`cannot run chromium: ${error.message}`));
        resolve();
      });
    });
    browser.#child.stderr.on("data", (chunk) => { stderr = (stderr + chunk).slice(-4000); });
    browser.#child.stdio[4].setEncoding("utf8");
    browser.#child.stdio[4].on("data", (chunk) => browser.#receive(chunk));
    browser.#child.stdio[3].on("error", (error) => browser.#fail(error));
    return browser;
  }

  // Sends one command; `session` addresses a page attached with flatten.
  send(method, params = {}, session = undefined) {
    const id = this.#next++;
    const message = { id, method, params, ...(session ? { sessionId: session } : {}) };
    const answered = this.#wait(method, (reply) => reply.id === id);
    if (!this.#gone) this.#child.stdio[3].write(JSON.stringify(message) + "\0");
    return answered.then((reply) => {
      if (reply.error) throw new Error(`${method}: ${reply.error.message}`);
      return reply.result;
    });
  }

  // The next event `method` from `session`.
  event(method, session) {
    return this.#wait(method, (message) => message.method === method && message.sessionId === session)
      .then((message) => message.params);
  }

  async newPage({ width = 1280, height = 800 } = {}) {
    const { targetId } = await this.send("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await this.send("Target.attachToTarget", { targetId, flatten: true });
    const page = new Page(this, sessionId);
    await page.send("Page.enable");
    await page.send("Emulation.setDeviceMetricsOverride",
      { width, height, deviceScaleFactor: 1, mobile: false });
    return page;
  }

  // Asks the browser to close, and kills it if it has not gone in 10 s.
  async close() {
    if (this.#child.exitCode === null && this.#child.signalCode === null && this.#child.pid) {
      this.send("Browser.close").catch(() => {});
      const timer = setTimeout(() => this.#child.kill("SIGKILL"), 10000);
      await this.#exited;
      clearTimeout(timer);
    }
    rmSync(this.#profile, { recursive: true, force: true });
  }

  // A promise of the first message `matches` accepts, rejected when the
  // browser goes or does not answer in time.
  #wait(what, matches) {
    if (this.#gone) return Promise.reject(this.#gone);
    let waiter;
    const reply = new Promise((resolve, reject) => {
      waiter = { matches, resolve, reject };
      this.#waiters.add(waiter);
    });
    return bounded(reply, ANSWER_LIMIT_MS, what).finally(() => this.#waiters.delete(waiter));
  }

  #receive(chunk) {
    this.#buffered += chunk;
    let end;
    while ((end = this.#buffered.indexOf("\0")) >= 0) {
      const message = JSON.parse(this.#buffered.slice(0, end));
      this.#buffered = this.#buffered.slice(end + 1);
      for (const waiter of this.#waiters) {
        if (!waiter.matches(message)) continue;
        this.#waiters.delete(waiter);
        waiter.resolve(message);
        break;
      }
    }
  }

  #fail(error) {
    this.#gone ??= error;
    for (const waiter of this.#waiters) waiter.reject(this.#gone);
    this.#waiters.clear();
  }
}

export class Page {
  constructor(browser, session) {
    this.browser = browser;
    this.session = session;
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.session);
  }

  // Loads `url` and returns once its load event has fired.
  async goto(url) {
    const loaded = this.browser.event("Page.loadEventFired", this.session);
    loaded.catch(() => {});  // a failed navigation is reported below instead
    const { errorText } = await this.send("Page.navigate", { url });
    if (errorText) throw new Error(`cannot load ${url}: ${errorText}`);
    await loaded;
  }

  // The value of a page expression; a thrown exception rejects.
  async evaluate(expression) {
    const { result, exceptionDetails } = await this.send("Runtime.evaluate",
      { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails) {
      throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
    }
    return result.value;
  }

  // Polls until `expression` is truthy. A page whose script never returns
  // fails on its evaluation's own bound.
  async waitFor(expression, { limitMs = ANSWER_LIMIT_MS, pollMs = 50 } = {}) {
    const giveUp = Date.now() + limitMs;
    for (;;) {
      if (await this.evaluate(expression)) return;
      if (Date.now() > giveUp) {
        const status = await this.evaluate(`document.getElementById("status")?.outerHTML`);
        throw new Error(`the page never reached ${expression}; #status is ${status}`);
      }
      await sleep(pollMs);
    }
  }

  html() {
    return this.evaluate("document.documentElement.outerHTML");
  }

  // Gives a file input the files a person would choose, and fires its change.
  async chooseFiles(selector, paths) {
    const { root } = await this.send("DOM.getDocument");
    const { nodeId } = await this.send("DOM.querySelector", { nodeId: root.nodeId, selector });
    if (!nodeId) throw new Error(`no element ${selector}`);
    await this.send("DOM.setFileInputFiles", { nodeId, files: paths });
  }

  async screenshot() {
    const { data } = await this.send("Page.captureScreenshot", { format: "png" });
    return Buffer.from(data, "base64");
  }
}
