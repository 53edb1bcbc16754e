export default function lazy() { return "lazy chunk"; }
