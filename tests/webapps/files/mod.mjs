export const answer = 42;
export const where = import.meta.url;
globalThis.staticModule = where;
