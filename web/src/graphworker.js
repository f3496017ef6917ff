// The graph worker: lays out DOT text with Graphviz (compiled to WebAssembly,
// from @viz-js/viz) and posts back SVG text, so a large graph never holds up
// the page.
//
// Message in: { id, dot }.  Message out: { id, svg } or { id, error }.
import { instance } from "@viz-js/viz";

const vizPromise = instance();

self.onmessage = async (event) => {
  const { id, dot } = event.data;
  try {
    const viz = await vizPromise;
    const result = viz.render(dot, { format: "svg", engine: "dot" });
    if (result.status === "success") {
      self.postMessage({ id, svg: result.output });
    } else {
      self.postMessage({ id, error: result.errors.map((e) => e.message).join("\n") || "Graphviz failed" });
    }
  } catch (err) {
    self.postMessage({ id, error: String(err && err.message ? err.message : err) });
  }
};
