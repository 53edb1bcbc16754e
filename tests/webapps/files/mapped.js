globalThis.mapped = true;
//# sourceMappingURL=mapped.js.map
