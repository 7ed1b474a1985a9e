// A headless Chromium driven over its DevTools protocol on a pipe (fds 3
// and 4, NUL-delimited JSON), so a test waits for what the page shows rather
// than for a virtual-time budget that a slow wasm compile can outrun.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";

export class Chromium {
  #child;
  #profile;
  #next = 1;
  #pending = new Map();
  #listeners = new Set();
  #buffered = "";
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
    browser.#child.stderr.on("data", (chunk) => { stderr = (stderr + chunk).slice(-4000); });
    browser.#exited = new Promise((resolve) => browser.#child.on("close", resolve));
    browser.#exited.then((code) => browser.#failAll(new Error(`chromium exited (${code}): ${stderr}`)));
    browser.#child.stdio[4].setEncoding("utf8");
    browser.#child.stdio[4].on("data", (chunk) => browser.#receive(chunk));
    browser.#child.stdio[3].on("error", () => {});
    return browser;
  }

  // Sends one command; `session` addresses a page attached with flatten.
  send(method, params = {}, session = undefined) {
    const id = this.#next++;
    const message = { id, method, params, ...(session ? { sessionId: session } : {}) };
    return new Promise((resolve, reject) => {
      this.#pending.set(id, { resolve, reject, method });
      this.#child.stdio[3].write(JSON.stringify(message) + "\0");
    });
  }

  // The next event `method` from `session`.
  event(method, session) {
    return new Promise((resolve) => {
      const listener = (message) => {
        if (message.method !== method || message.sessionId !== session) return;
        this.#listeners.delete(listener);
        resolve(message.params);
      };
      this.#listeners.add(listener);
    });
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

  async close() {
    if (this.#child.exitCode === null && this.#child.signalCode === null) {
      await Promise.race([this.send("Browser.close").catch(() => {}), this.#exited]);
      const killed = sleep(10000, undefined, { ref: false }).then(() => this.#child.kill("SIGKILL"));
      await Promise.race([this.#exited, killed]);
    }
    rmSync(this.#profile, { recursive: true, force: true });
  }

  #receive(chunk) {
    this.#buffered += chunk;
    let end;
    while ((end = this.#buffered.indexOf("\0")) >= 0) {
      const message = JSON.parse(this.#buffered.slice(0, end));
      this.#buffered = this.#buffered.slice(end + 1);
      if (!message.id) {
        for (const listener of this.#listeners) listener(message);
        continue;
      }
      const waiter = this.#pending.get(message.id);
      if (!waiter) continue;
      this.#pending.delete(message.id);
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
    }
  }

  #failAll(error) {
    for (const waiter of this.#pending.values()) waiter.reject(error);
    this.#pending.clear();
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

  // Polls until `expression` is truthy. The limit only bounds a hung page;
  // nothing here measures speed.
  async waitFor(expression, { limitMs = 90000 } = {}) {
    const giveUp = Date.now() + limitMs;
    for (;;) {
      if (await this.evaluate(expression)) return;
      if (Date.now() > giveUp) {
        const status = await this.evaluate(`document.getElementById("status")?.outerHTML`);
        throw new Error(`the page never reached ${expression}; #status is ${status}`);
      }
      await sleep(50);
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
