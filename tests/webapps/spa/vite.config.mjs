// The one setting a packaged app needs: relative addresses for every asset.
export default { base: "./", build: { sourcemap: true } };
