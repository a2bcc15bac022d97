// plugin-host in a child process on a free port, for the web tests.
import {spawn} from "node:child_process";

export async function startHost(pluginHost, library, extra = []) {
  const child = spawn(pluginHost, ["--plugin", library, "--port", "0", ...extra], {stdio: ["ignore", "pipe", "pipe"]});
  let output = "";
  const url = await new Promise((resolve, reject) => {
    const seen = text => {
      output += text;
      const match = /plugin-host: listening on (http:\S+)/.exec(output);
      if (match) resolve(match[1]);
    };
    child.stdout.on("data", data => seen(data.toString()));
    child.stderr.on("data", data => { output += data.toString(); });
    child.on("exit", code => reject(new Error(`plugin-host ended with ${code} before listening:\n${output}`)));
  });
  const exited = new Promise(resolve => child.on("exit", code => resolve(code)));
  return {
    url,
    output: () => output,
    async stop() {
      if (child.exitCode !== null) return child.exitCode;
      child.kill("SIGTERM");
      return exited;
    },
  };
}
