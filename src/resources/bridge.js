// The page half of the bridge: defines window.vtl.
window.vtl = {};
